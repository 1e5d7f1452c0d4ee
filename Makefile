# The one entry point. `make` installs what building and running the Linux programs needs when it
# is missing, and builds the release programs into build/bin; `make test` installs what its suites
# need, checks the layout of the sources (scripts/check-format) and that scripts/install-deps reads
# apt's sources of either layout, then builds and runs every suite
# (release, then clang-tidy over the sources the release build compiles, the sanitizer builds, the
# Windows builds under Wine: win32 is the shipped 32-bit program, run through qemu-user on
# machines whose CPU mode leaves 32-bit code out, win64 the same sources built for 64-bit Windows;
# then the fuzz targets for a bounded time each).
SHELL := /bin/bash
# The steps of `make test`, in order: each names a preset whose suites it runs, except tidy.
TEST_PRESETS ?= release tidy asan tsan win32 win64 fuzz

.PHONY: all deps deps-test deps-bench deps-package build test format check-format stress bench run \
	clean screenshots package check-package test-win32-emulated test-tidy \
	$(addprefix test-,$(TEST_PRESETS))

all: deps build

# The two programs only: the suites are built by `make test`.
build:
	cmake --preset release >/dev/null
	cmake --build --preset release --target clearnook clearnook-cli

# What each task installs (scripts/install-deps names the packages of each profile).
deps:
	scripts/install-deps run
deps-test:
	scripts/install-deps test
deps-bench:
	scripts/install-deps bench
deps-package:
	scripts/install-deps package

test: deps-test
	scripts/check-format
	tests/scripts/install-deps-sources
	tests/scripts/check-format-without-git
	@set -e; for p in $(TEST_PRESETS); do $(MAKE) --no-print-directory test-$$p; done

# Fails on a source that clang-format would lay out otherwise; `make format` lays them out.
check-format:
	scripts/check-format
format:
	scripts/check-format --fix

# A static pattern rule: make looks for no implicit rule for a phony target, so a plain test-%
# rule would leave every test-PRESET with nothing to do.
$(addprefix test-,$(filter-out fuzz tidy win32,$(TEST_PRESETS))): test-%:
	@echo "== $* =="
	cmake --preset $* -DCLEARNOOK_BUILD_TESTS=ON >/dev/null
	cmake --build --preset $*
	ctest --preset $* -j2

# clang-tidy with the checks of .clang-tidy over the Linux programs' sources, compiled as the
# release build compiles them; fails on any finding. A source found clean is checked again only
# when it, a header of ours it includes, its compile command or the checks change.
test-tidy:
	@echo "== tidy =="
	scripts/check-tidy

# The hostile cases too large for `make test`: a million entries in one directory, and the
# churn and descriptor tests many times over. Release build.
stress: deps-test
	cmake --preset release -DCLEARNOOK_BUILD_TESTS=ON >/dev/null
	cmake --build --preset release --target stress_tests hardening_tests
	build/release/tests/stress_tests
	build/release/tests/hardening_tests --gtest_brief=1 --gtest_repeat=50 \
	    --gtest_filter='ChurnTest.*:DescriptorTest.*:*ClimbBack*'

# The 32-bit program's suites run as 32-bit code for real: natively where the CPU runs it, else
# through qemu-user, which scripts/win32-emulation installs and registers (see README).
# EMULATE=--emulate goes through qemu even where the CPU would do.
test-win32 test-win32-emulated:
	@echo "== win32 =="
	cmake --preset win32 -DCLEARNOOK_BUILD_TESTS=ON >/dev/null
	cmake --build --preset win32
	scripts/win32-emulation $(EMULATE) ctest --preset win32 -j2

# The fuzz targets run for a bounded time each (CLEARNOOK_FUZZ_SECONDS, 30 s); print what they did.
test-fuzz:
	@echo "== fuzz =="
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	ctest --preset fuzz -j2
	@awk '/^[0-9]+\/[0-9]+ Test: /{t=$$3} /^Done [0-9]+ runs/{print t ": " $$0}' \
	    build/fuzz/Testing/Temporary/LastTest.log

bench: deps-bench
	cmake --preset release >/dev/null
	cmake --build --preset release
	bench/run-bench

run: all
	build/bin/clearnook

screenshots:
	scripts/install-deps screenshots
	scripts/screenshots

# The Debian package, in build/package/.
package: deps-package
	scripts/package

# Builds the package, looks inside, has lintian read it, installs it, runs it and removes it again.
check-package: deps-package
	scripts/check-package

clean:
	rm -rf build
