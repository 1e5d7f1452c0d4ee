# The one entry point. `make` builds the release programs into build/bin; `make test` installs
# what is missing, then builds and runs every suite (release, the sanitizer builds, the Windows
# builds under Wine: win32 is the shipped 32-bit program, win64 the same sources for the machines
# whose CPU mode leaves 32-bit code out; then the fuzz targets for a bounded time each).
SHELL := /bin/bash
TEST_PRESETS ?= release asan tsan win32 win64 fuzz

.PHONY: all deps test stress bench run clean screenshots $(addprefix test-,$(TEST_PRESETS))

all:
	cmake --preset release >/dev/null
	cmake --build --preset release

deps:
	scripts/install-deps

test: deps
	@set -e; for p in $(TEST_PRESETS); do $(MAKE) --no-print-directory test-$$p; done

# A static pattern rule: make looks for no implicit rule for a phony target, so a plain test-%
# rule would leave every test-PRESET with nothing to do.
$(addprefix test-,$(filter-out fuzz,$(TEST_PRESETS))): test-%:
	@echo "== $* =="
	cmake --preset $* >/dev/null
	cmake --build --preset $*
	ctest --preset $* -j2

# The hostile cases too large for `make test`: a million entries in one directory, and the
# churn and descriptor tests many times over. Release build.
stress: deps
	cmake --preset release >/dev/null
	cmake --build --preset release --target stress_tests hardening_tests
	build/release/tests/stress_tests
	build/release/tests/hardening_tests --gtest_brief=1 --gtest_repeat=50 \
	    --gtest_filter='ChurnTest.*:DescriptorTest.*:*ClimbBack*'

# The fuzz targets run for a bounded time each (CLEARNOOK_FUZZ_SECONDS, 30 s); print what they did.
test-fuzz:
	@echo "== fuzz =="
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	ctest --preset fuzz -j2
	@awk '/^[0-9]+\/[0-9]+ Test: /{t=$$3} /^Done [0-9]+ runs/{print t ": " $$0}' \
	    build/fuzz/Testing/Temporary/LastTest.log

bench: deps all
	bench/run-bench

run: deps all
	build/bin/clearnook

screenshots: deps
	scripts/screenshots

clean:
	rm -rf build
