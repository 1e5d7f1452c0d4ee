# The one entry point. `make` builds the release programs into build/bin; `make test` installs
# what is missing, then builds and runs every suite (release, then the sanitizer builds).
SHELL := /bin/bash
TEST_PRESETS ?= release asan tsan

.PHONY: all deps test bench run clean screenshots $(addprefix test-,$(TEST_PRESETS))

all:
	cmake --preset release >/dev/null
	cmake --build --preset release

deps:
	scripts/install-deps

test: deps
	@set -e; for p in $(TEST_PRESETS); do $(MAKE) --no-print-directory test-$$p; done

test-%:
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
