# make run: install what is missing, build the program and the landscape tool, run the demo on
#   the bundled data (written once into build/demo; DATA=DIR runs on another data folder).
# make demo-data: rewrite the bundled data set in build/demo, overwriting any edits.
# make install: the program, the tool, the bundled data, desktop entry and manual pages under
#   PREFIX (default /usr/local); DESTDIR is honoured.
# make test: install what is missing, build everything, run every test.
# make test-sanitize: every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# make fuzz: each libFuzzer harness of tests/fuzz for FUZZ_SECONDS (clang).
# make soak: 100,000 frames headless, printing the maximum resident memory on the way.
# make bench: frame time, start-up, processor time and memory on the bundled data.
# make bench-peer: frame time against the Irrlicht 1.8.5 peers on the same scenes (PEER=DIR
#   names the folder with their compare.sh, default ../shared/peer; ROUNDS=N, default 5).
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO := $(BUILD)/demo
ARGS ?=
DATA ?=
PREFIX ?= /usr/local
TOOL := $(BUILD)/zentrix-landscape
PEER ?= ../shared/peer
ROUNDS ?= 5

.PHONY: all deps configure build build-demo demo-data demo-data-once run install test test-sanitize fuzz soak bench bench-peer clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only what the demo needs: no tests, fuzz replays or benchmarks.
build-demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target zentrix zentrix-landscape

# The bundled data set is written only when it is not there yet, so edits to it survive.
demo-data-once: build-demo
	@if [ ! -e $(DEMO)/Terrain.txt ]; then \
		echo "zentrix: writing the bundled data set into $(DEMO)"; \
		$(TOOL) --seed 1 --out $(DEMO); \
	fi

demo-data: build-demo
	@echo "zentrix: rewriting the bundled data set in $(DEMO), overwriting every file of it (edits included)"
	@$(TOOL) --seed 1 --out $(DEMO) --overwrite

ifeq ($(DATA),)
run: demo-data-once
	@scripts/run-demo.sh $(BUILD)/zentrix $(DEMO) $(DEMO) $(ARGS)
else
run: build-demo
	@scripts/run-demo.sh $(BUILD)/zentrix $(DATA) $(BUILD)/run $(ARGS)
endif

install: configure
	@cmake --build $(BUILD) -j $(JOBS) --target zentrix zentrix-landscape bundled_data
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Leaks are reported except what Mesa's software driver keeps until exit; the preloaded library
# keeps the driver mapped so that its frames can be named (see tests/sanitize/). Dynamic TLS is not
# tracked: after a library with dynamic TLS is unloaded, this sanitizer runtime reads a stale
# thread vector at exit and its leak checker crashes ("Tracer caught signal 11").
SANITIZE_ENV := LD_PRELOAD=$(abspath $(SANITIZE_BUILD))/libkeep_driver_loaded.so \
	ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0:strict_string_checks=1:intercept_tls_get_addr=0 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRIX_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS)

fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRIX_FUZZ=ON \
		-DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

soak: build demo-data-once
	@bench/soak.sh $(BUILD)

# make bench: frame time, start-up, processor time and memory on the bundled data (bench/README.md).
bench: build demo-data-once
	@bench/run-bench.sh $(BUILD) $(DEMO)

bench-peer: build-demo
	@cmake --build $(BUILD) -j $(JOBS) --target driver_floor
	@bench/peer.sh $(BUILD) $(PEER) $(ROUNDS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
