# make run: install what is missing, build, run the demo on the bundled data.
# make test: install what is missing, build, run every test.
# make test-sanitize: every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# make fuzz: each libFuzzer harness of tests/fuzz for FUZZ_SECONDS (clang).
# make soak: 100,000 frames headless, printing the maximum resident memory on the way.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO := $(BUILD)/demo
ARGS ?=

.PHONY: all deps configure build demo-data run test test-sanitize fuzz soak bench clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The bundled data: the committed text files plus the pictures the generator draws.
demo-data: build
	@mkdir -p $(DEMO)
	@cp data/*.txt $(DEMO)/
	@$(BUILD)/make_demo_data $(DEMO)

run: demo-data
	@scripts/run-demo.sh $(BUILD)/zentrix $(DEMO) $(ARGS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Leaks are reported except what Mesa's software driver keeps until exit; the preloaded library
# keeps the driver mapped so that its frames can be named (see tests/sanitize/).
SANITIZE_ENV := LD_PRELOAD=$(abspath $(SANITIZE_BUILD))/libkeep_driver_loaded.so \
	ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0:strict_string_checks=1 \
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

soak: demo-data
	@bench/soak.sh $(BUILD)

# make bench: frame time, start-up, processor time and memory on the bundled data (bench/README.md).
bench: demo-data
	@bench/run-bench.sh $(BUILD) $(DEMO)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
