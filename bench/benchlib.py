"""What bench/run-bench and bench/shapes share: timing one tool, hot or cold, the list of tools to
time, the table of medians against the floor walk, and the thread sweep."""
import os, shutil, signal, statistics, subprocess, tempfile, threading, time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)


class Run:
    """One timed run: wall seconds, peak RSS of the tool in KiB, its exit status (None when it
    was killed for running too long) and the first line it wrote to stderr."""

    def __init__(self, wall, peak, status, message):
        self.wall, self.peak, self.status, self.message = wall, peak, status, message

    def failed(self):
        return self.status != 0


def run_once(argv, timeout=None):
    """Times one run, output discarded. GNU time reports the peak of the program itself; a child's
    rusage seen from here would count the forked interpreter. The tool runs in a session of its
    own so that a timeout ends it, not only the time process above it."""
    with tempfile.NamedTemporaryFile("r") as rss, tempfile.TemporaryFile("w+") as err:
        start = time.perf_counter()
        proc = subprocess.Popen(["/usr/bin/time", "-q", "-f", "%M", "-o", rss.name] + argv,
                                stdout=subprocess.DEVNULL, stderr=err, start_new_session=True)
        # Waited for without a timeout: Popen.wait with one polls, sleeping up to 50 ms between
        # looks, which rounds every time up by as much. A timer ends a run that overstays.
        expired = threading.Event()

        def expire():
            expired.set()
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

        timer = threading.Timer(timeout, expire) if timeout else None
        if timer:
            timer.start()
        status = proc.wait()
        wall = time.perf_counter() - start
        if timer:
            timer.cancel()
        if expired.is_set():
            status = None
        err.seek(0)
        message = err.readline().strip()
        if status is None:
            message = "still running after %g s" % timeout
        peak = rss.read().strip()
        return Run(wall, int(peak) if peak.isdigit() else 0, status, message)


def measure(argv, runs, timeout=None):
    """Median wall seconds and the largest peak RSS (KiB) over `runs` runs after one that warms
    the cache and the binary; or the first failed run, which ends the measuring."""
    first = run_once(argv, timeout)
    if first.failed():
        return first
    walls, peaks = [], []
    for _ in range(runs):
        run = run_once(argv, timeout)
        if run.failed():
            return run
        walls.append(run.wall)
        peaks.append(run.peak)
    return Run(statistics.median(walls), max(peaks), 0, "")


def floor_tool(bin_dir, root):
    return ("floor (getdents64)", [os.path.join(bin_dir, "floor_walk"), root])


def cli_tool(bin_dir, root, *options):
    return (" ".join(["clearnook-cli", "--quiet"] + list(options)),
            [os.path.join(bin_dir, "clearnook-cli"), "--quiet"] + list(options) + [root])


class Walker:
    """Another walker: its row's label, how it is timed (told to print nothing and to stay on one
    file system) and how it lists every entry under a root, NUL-ended, to count what it saw."""

    def __init__(self, label, timed, listing, lists_root):
        self.label, self.timed, self.listing, self.lists_root = label, timed, listing, lists_root

    def entries_seen(self, root):
        """Entries, the root included, that the walker lists under root."""
        out = subprocess.run(self.listing(root), stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout
        return out.count(b"\0") + (0 if self.lists_root else 1)


OTHER_WALKERS = {
    "find": Walker("find -xdev -false", lambda root: ["find", root, "-xdev", "-false"],
                   lambda root: ["find", root, "-xdev", "-print0"], True),
    "bfs": Walker("bfs -xdev -false", lambda root: ["bfs", root, "-xdev", "-false"],
                  lambda root: ["bfs", root, "-xdev", "-print0"], True),
    "fdfind": Walker("fdfind -uu --one-file-system",
                     lambda root: ["fdfind", "-uu", "--one-file-system", "^$", root],
                     lambda root: ["fdfind", "-uu", "--one-file-system", "-0", ".", root], False),
}


def installed_walkers(names):
    return [OTHER_WALKERS[n] for n in names if shutil.which(n)]


def other_tools(root, names):
    """The walkers among `names` that are installed."""
    return [(w.label, w.timed(root)) for w in installed_walkers(names)]


def tools(bin_dir, root):
    return [floor_tool(bin_dir, root), cli_tool(bin_dir, root)] + \
        other_tools(root, ("find", "bfs", "fdfind"))


DROP_CACHES = "/proc/sys/vm/drop_caches"


def drop_caches():
    """Writes dirty pages back, then empties the page cache, the dentry and inode caches, so that
    the next run reads every directory and inode from the disk (the tool's own binary and
    libraries too, a few milliseconds). Needs root."""
    os.sync()
    with open(DROP_CACHES, "w") as f:
        f.write("3\n")


def cold_unavailable():
    """None when the caches can be dropped, else why not (tried once, so it costs one drop)."""
    try:
        drop_caches()
    except OSError as e:
        return "cannot write %s (%s)" % (DROP_CACHES, e.strerror or e)
    return None


def measure_rounds(tool_list, runs, timeout=None, known_failures=None, cold=False):
    """Measures the tools in rounds, each round running every tool once in turn, so that a machine
    whose speed drifts from minute to minute, as a shared virtual machine's does, slows every tool
    alike. Hot (the default), one run of each first warms the cache and the binary; cold, the
    caches are dropped before every run, and there is no warming run. A tool named in
    known_failures is not run; one whose run fails is not run again. Returns a Run per tool name
    measured: the median wall time and the largest peak RSS, or the failed run."""
    results, walls, peaks = {}, {}, {}
    for name, argv in tool_list:
        if known_failures and name in known_failures:
            continue
        walls[name], peaks[name] = [], []
        if cold:
            continue
        first = run_once(argv, timeout)
        if first.failed():
            results[name] = first
    for _ in range(runs):
        for name, argv in tool_list:
            if name not in walls or name in results:
                continue
            if cold:
                drop_caches()
            run = run_once(argv, timeout)
            if run.failed():
                results[name] = run
                continue
            walls[name].append(run.wall)
            peaks[name].append(run.peak)
    for name in walls:
        if walls[name]:
            results.setdefault(name, Run(statistics.median(walls[name]), max(peaks[name]), 0, ""))
    return results


def table(tool_list, runs, timeout=None, known_failures=None, cold=False):
    """Measures the tools (measure_rounds), then prints each tool's row: median, ratio to the
    first tool (the floor), peak RSS; a tool that failed gets its exit status and first message
    instead, and one named in known_failures (name: why) is not run at all. Returns the
    measurements by tool name."""
    print("%-38s %10s %9s %12s" % ("tool", "median s", "x floor", "peak RSS"), flush=True)
    results = measure_rounds(tool_list, runs, timeout, known_failures, cold)
    floor_time = None
    for name, _ in tool_list:
        if known_failures and name in known_failures:
            print("%-38s FAILED (%s)" % (name, known_failures[name]), flush=True)
            continue
        run = results[name]
        if run.failed():
            how = "killed" if run.status is None else "exit %d" % run.status
            print("%-38s FAILED (%s after %.3f s) %s" % (name, how, run.wall, run.message[:100]),
                  flush=True)
            continue
        if floor_time is None and name == tool_list[0][0]:
            floor_time = run.wall
        ratio = "%9.2f" % (run.wall / floor_time) if floor_time else "%9s" % "-"
        print("%-38s %10.3f %s %9.1f MiB" % (name, run.wall, ratio, run.peak / 1024), flush=True)
    return results


def cli_has_threads(bin_dir):
    """Whether this clearnook-cli takes --threads N (its --help says so)."""
    proc = subprocess.run([os.path.join(bin_dir, "clearnook-cli"), "--help"],
                          capture_output=True, text=True, errors="replace")
    return "--threads" in proc.stdout + proc.stderr


def sweep_tools(bin_dir, root, counts, has_threads):
    """The rows of a thread sweep, as (name, N, argv): the floor and bfs (one thread each), the
    floor on each N above one (the same listing in no order, the threads sharing one pile of
    directories: what N threads can do at best), then clearnook-cli and fdfind with N threads for
    each N in counts and with no thread option (N "default"). A clearnook-cli without --threads
    is timed with --single-thread for N = 1 and only once, as its default, for the larger N."""
    rows = [floor_tool(bin_dir, root) + ("1",)]
    rows += [("floor (getdents64) -j %d" % n, [os.path.join(bin_dir, "floor_walk"), "-j", str(n),
                                               root], str(n)) for n in counts if n > 1]
    rows += [(w.label, w.timed(root), "1") for w in installed_walkers(("bfs",))]
    for n in counts:
        if has_threads:
            rows.append(cli_tool(bin_dir, root, "--threads", str(n)) + (str(n),))
        elif n == 1:
            rows.append(cli_tool(bin_dir, root, "--single-thread") + ("1",))
    rows.append(cli_tool(bin_dir, root) + ("default",))
    if shutil.which("fdfind"):
        for n in counts + [None]:
            jobs = ["-j", str(n)] if n else []
            argv = ["fdfind", "-uu", "--one-file-system"] + jobs + ["^$", root]
            rows.append((" ".join(argv[:-2]), argv, str(n) if n else "default"))
    return [(name, n, argv) for name, argv, n in rows]


def sweep_table(rows, runs, cold=False):
    """Measures the rows of sweep_tools in rounds (measure_rounds) and prints one line each:
    tool, N, median, ratio to the floor (the first row), peak RSS. Returns the measurements."""
    print("%-38s %8s %10s %9s %12s" % ("tool", "N", "median s", "x floor", "peak RSS"),
          flush=True)
    results = measure_rounds([(name, argv) for name, _, argv in rows], runs, cold=cold)
    floor = results[rows[0][0]]
    floor_time = None if floor.failed() else floor.wall
    for name, n, _ in rows:
        run = results[name]
        if run.failed():
            how = "killed" if run.status is None else "exit %d" % run.status
            print("%-38s %8s FAILED (%s after %.3f s) %s" % (name, n, how, run.wall,
                                                              run.message[:100]), flush=True)
            continue
        ratio = "%9.2f" % (run.wall / floor_time) if floor_time else "%9s" % "-"
        print("%-38s %8s %10.3f %s %9.1f MiB" % (name, n, run.wall, ratio, run.peak / 1024),
              flush=True)
    fastest = {}
    for name, n, _ in rows:
        program, run = name.split()[0], results[name]
        if program in ("clearnook-cli", "fdfind") and not run.failed():
            if program not in fastest or run.wall < fastest[program][1]:
                fastest[program] = (n, run.wall)
    if fastest:
        print("fastest: " + ", ".join("%s at N = %s (%.3f s)" % (program, n, wall)
                                      for program, (n, wall) in fastest.items()), flush=True)
    return results
