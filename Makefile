# The one entry point. `make` builds the release programs into build/bin; `make test` installs
# what is missing, then builds and runs every suite (release, the sanitizer builds, then the
# Windows builds under Wine: win32 is the shipped 32-bit program, win64 the same sources for the
# machines whose CPU mode leaves 32-bit code out).
SHELL := /bin/bash
TEST_PRESETS ?= release asan tsan win32 win64

.PHONY: all deps test bench run clean screenshots $(addprefix test-,$(TEST_PRESETS))

all:
	cmake --preset release >/dev/null
	cmake --build --preset release

deps:
	scripts/install-deps

test: deps
	@set -e; for p in $(TEST_PRESETS); do $(MAKE) --no-print-directory test-$$p; done

# A static pattern rule: make looks for no implicit rule for a phony target, so a plain test-%
# rule would leave every test-PRESET with nothing to do.
$(addprefix test-,$(TEST_PRESETS)): test-%:
	@echo "== $* =="
	cmake --preset $* >/dev/null
	cmake --build --preset $*
	ctest --preset $* -j2

bench: deps all
	bench/run-bench

run: deps all
	build/bin/clearnook

screenshots: deps
	scripts/screenshots

clean:
	rm -rf build
