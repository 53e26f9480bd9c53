# Front door of the project. `make` builds every deliverable into dist/,
# `make test` builds and runs every test under Wine, `make demo` runs the
# driver end to end against the emulated display. Each installs what is missing.
SHELL := /bin/bash
TREES := x86_64 i686

.PHONY: all build deps test demo emulator bench soak clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@set -e; for t in $(TREES); do \
	    cmake --preset $$t >/dev/null; \
	    cmake --build --preset $$t; \
	done
	@rm -rf dist && for t in $(TREES); do cmake --install build/$$t --prefix dist >/dev/null; done
	@echo "Deliverables in dist/:" && ls dist

test: build
	@scripts/run-tests.sh $(TREES)

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

clean:
	@if [ -d build ]; then scripts/test-env.sh stop build; fi
	rm -rf build dist
