# Top-level wrapper around CMake. `make` builds, `make test` builds and runs
# every test, `make demo` runs the main job on a demo home under build/.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all build deps configure test demo bench clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: deps
	$(MAKE) build
	bash scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
