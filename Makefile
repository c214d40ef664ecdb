# make run: install what is missing, build the program and the landscape tool, run the demo on
#   the bundled data (written once into build/demo; DATA=DIR runs on another data folder).
# make demo-data: rewrite the bundled data set in build/demo, overwriting any edits.
# make install: the program, the tool, the bundled data, desktop entry and manual pages under
#   PREFIX (default /usr/local), built Release in build-release/; DESTDIR is honoured, and
#   CMAKE_FLAGS reaches the configuration (-DCMAKE_INSTALL_BINDIR=games ...).
# make uninstall: removes what the last make install wrote, and the folders it made if empty.
# make test: install what is missing, build everything, run every test.
# make test-sanitize: every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# make fuzz: each libFuzzer harness of tests/fuzz for FUZZ_SECONDS (clang).
# make soak: 100,000 frames headless, printing the maximum resident memory on the way.
# make bench: frame time, start-up, processor time and memory on the bundled data.
# make bench-peer: frame time against the Irrlicht 1.8.5 peers on the same scenes (PEER=DIR
#   names the folder with their compare.sh, default ../shared/peer; ROUNDS=N, default 5).
# make web: the demo in the browser, built with emscripten into build/web (the page, its script,
#   WebAssembly and data: the bundled data set).
# make serve: make web, then serves build/web on 127.0.0.1 (PORT, default 8000) and prints the address.
# make clean: the build folders, all but the demo data in build/demo (edits, F12 pictures).
# make distclean: everything make made, the demo data included.
#
# "Install what is missing" is scripts/install-deps.sh: the demo's packages for run, install
# and build-demo, emscripten as well for web and serve, the test packages (Chromium for the
# browser test included) for test, test-sanitize, fuzz, soak and bench.
# NODEPS=1 skips it (a packager's build, a system without apt-get): nothing is installed.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_BUILD ?= build-release
DEMO := $(BUILD)/demo
NODEPS ?=
CMAKE_FLAGS ?=
ARGS ?=
DATA ?=
PREFIX ?= /usr/local
TOOL := $(BUILD)/zentrix-landscape
PEER ?= ../shared/peer
PORT ?= 8000
ROUNDS ?= 5

.PHONY: all deps deps-run configure configure-run build build-demo demo-data demo-data-once run install uninstall \
	test test-sanitize fuzz soak bench bench-peer clean distclean deps-web web serve web-for-test

all: build

deps-run:
	@if [ "$(NODEPS)" != 1 ]; then scripts/install-deps.sh run; fi

deps:
	@if [ "$(NODEPS)" != 1 ]; then scripts/install-deps.sh test; fi

deps-web:
	@if [ "$(NODEPS)" != 1 ]; then scripts/install-deps.sh web; fi

# The demo alone configures without GoogleTest; the tests need it.
configure-run: deps-run
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRIX_TESTS=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only what the demo needs: no tests, fuzz replays or benchmarks.
build-demo: configure-run
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

# The landscape tool of the native build writes the page's data set.
web: deps-web build-demo
	@scripts/build-web.sh $(BUILD) $(JOBS)

serve: web
	@python3 scripts/serve-web.py $(BUILD)/web $(PORT)

# A Release tree of its own, without tests, so that what is installed carries no build path.
install: deps-run
	@cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DZENTRIX_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(RELEASE_BUILD) -j $(JOBS) --target zentrix zentrix-landscape bundled_data
	@scripts/install-tree.sh install $(RELEASE_BUILD) "$(PREFIX)"

uninstall:
	@scripts/install-tree.sh uninstall $(RELEASE_BUILD)

# The browser test needs the page: built where emscripten is there, skipped with a reason elsewhere.
web-for-test: build
	@if command -v emcmake >/dev/null 2>&1; then scripts/build-web.sh $(BUILD) $(JOBS) >/dev/null; fi

test: web-for-test
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

# The demo data is the user's once written: edits and F12 pictures survive a clean.
# So is the record of the last install, which make uninstall reads.
clean:
	rm -rf $(SANITIZE_BUILD) $(FUZZ_BUILD)
	@if [ -d $(BUILD) ]; then \
		find $(BUILD) -mindepth 1 -maxdepth 1 ! -name demo -exec rm -rf {} +; \
		rmdir $(BUILD) 2>/dev/null || echo "zentrix: kept the demo data in $(DEMO) (make distclean removes it)"; \
	fi
	@if [ -d $(RELEASE_BUILD) ]; then \
		find $(RELEASE_BUILD) -mindepth 1 -maxdepth 1 ! -name 'install_*.txt' -exec rm -rf {} +; \
		rmdir $(RELEASE_BUILD) 2>/dev/null || echo "zentrix: kept the record of the last install in $(RELEASE_BUILD) (make uninstall reads it)"; \
	fi

distclean:
	@echo "zentrix: removing every build folder, the demo data in $(DEMO) (edits and screenshots included) and the record make uninstall reads"
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(RELEASE_BUILD)
