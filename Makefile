# make run: install what is missing, build, run the demo on the bundled data.
# make test: install what is missing, build, run every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO := $(BUILD)/demo
ARGS ?=

.PHONY: all deps configure build demo-data run test bench clean

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

# make bench: frame time, start-up, processor time and memory on the bundled data (bench/README.md).
bench: demo-data
	@bench/run-bench.sh $(BUILD) $(DEMO)

clean:
	rm -rf $(BUILD)
