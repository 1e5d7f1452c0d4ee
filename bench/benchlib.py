"""What bench/run-bench and bench/shapes share: timing one tool, the list of tools to time, and the
table of medians against the floor walk."""
import os, shutil, signal, statistics, subprocess, tempfile, time

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
        try:
            status = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            status = None
        wall = time.perf_counter() - start
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


def table(tool_list, runs, timeout=None, known_failures=None):
    """Measures the tools in rounds, each round running every tool once in turn (after one run
    each that warms the cache and the binary), so that a machine whose speed drifts from minute to
    minute, as a shared virtual machine's does, slows every tool alike. Then prints each tool's
    row: median, ratio to the first tool (the floor), peak RSS; a tool that failed gets its exit
    status and first message instead, and one named in known_failures (name: why) is not run at
    all. Returns the measurements by tool name."""
    print("%-38s %10s %9s %12s" % ("tool", "median s", "x floor", "peak RSS"), flush=True)
    results, walls, peaks = {}, {}, {}
    for name, argv in tool_list:
        if known_failures and name in known_failures:
            continue
        first = run_once(argv, timeout)
        if first.failed():
            results[name] = first
        else:
            walls[name], peaks[name] = [], []
    for _ in range(runs):
        for name, argv in tool_list:
            if name not in walls or name in results:
                continue
            run = run_once(argv, timeout)
            if run.failed():
                results[name] = run
                continue
            walls[name].append(run.wall)
            peaks[name].append(run.peak)
    for name in walls:
        results.setdefault(name, Run(statistics.median(walls[name]), max(peaks[name]), 0, ""))
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
