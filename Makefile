# Front door of the project. `make` builds every deliverable into dist/ and
# brings docs/keys.md, docs/keys-fr.md and the exit codes' tables up to
# date, `make test` builds and runs every test under Wine and replays the fuzz
# corpus natively, `make fuzz` fuzzes the parsers of
# outside input, `make demo` runs the driver end to end against the emulated display,
# `make windows-tests` writes the test bundle for Windows into dist/,
# `make release` writes the versioned archive and its checksums to
# dist/release/, `make release-check` builds the release again to prove its
# bytes reproducible, unsigned and signed (four release builds: too slow for
# every CI run).
# Each installs what is missing.
SHELL := /bin/bash
TREES := x86_64 i686
# Whether this machine runs 32-bit programs, probed once for the whole run
# (scripts/machine.sh): every script below takes the answer from here.
# VK_NO_32BIT=1 takes the 64-bit-only path on any machine.
export VK_32BIT_PROBED := $(shell bash -c '. scripts/machine.sh; VK_NO_32BIT= vk_can_run_32bit && echo yes || echo no')

.PHONY: all build docs deps test demo emulator bench soak clean release release-check fuzz fuzz-build windows-tests

all: build docs

deps:
	@scripts/install-deps.sh

build: deps
	@set -e; for t in $(TREES); do \
	    cmake --preset $$t >/dev/null; \
	    cmake --build --preset $$t; \
	done
	@mkdir -p dist && find dist -mindepth 1 -maxdepth 1 ! -name release -exec rm -rf {} + && \
	    for t in $(TREES); do cmake --install build/$$t --prefix dist >/dev/null; done
	@echo "Deliverables in dist/:" && ls dist

# The key references of the shipped key map, as the build made them, and the
# exit codes' tables from their source. make test leaves them alone and fails
# when one is out of date.
docs: build
	@scripts/exit-codes.sh
	@for doc in keys keys-fr; do cmp -s build/x86_64/docs/$$doc.md docs/$$doc.md || \
	    { cp build/x86_64/docs/$$doc.md docs/$$doc.md && echo "docs/$$doc.md regenerated: commit it"; }; done

# The test bundle for Windows must build and hold every test program (checked
# first: its listing of the tests would take the place of CTest's log of the
# run). The native tree replays the fuzz targets' corpus (seconds) after the
# Wine trees.
test: build fuzz-build
	@status=0; scripts/windows-tests.sh --check || status=1; \
	    scripts/run-tests.sh $(TREES) fuzz || status=1; exit $$status

# The test programs of both trees with their runner, for a Windows machine:
# dist/CellivantaVK-tests-<version>.zip (README.md, "Testing on Windows").
windows-tests: build
	@scripts/windows-tests.sh

fuzz-build: deps
	@cmake --preset fuzz >/dev/null && cmake --build --preset fuzz

# Each fuzz target for FUZZ_SECONDS seconds (default 180); non-zero on a finding.
fuzz: deps
	@scripts/fuzz.sh

demo: build
	@scripts/demo.sh

# The display emulator on the display's end of pair 1 (COM21), keyboard-driven;
# open the driver on COM11 (or "usb") from another terminal.
emulator: build
	@scripts/emulator.sh

bench: build
	@scripts/bench.sh

soak: build
	@scripts/soak.sh

# The versioned archive and its checksums in dist/release/, built from clean
# release trees; signed when SIGN_CERT/SIGN_KEY are given (see scripts/release.sh).
release: deps
	@scripts/release.sh

# Release builds from clean clones of HEAD, compared byte for byte: two
# unsigned, then two signed with a throw-away key. (The signed release's
# signatures and signing are checked by `make test`.)
release-check: deps
	@scripts/check-reproducible.sh

clean:
	@if [ -d build ]; then scripts/test-env.sh stop build; fi
	rm -rf build dist
