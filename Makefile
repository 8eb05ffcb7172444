# Thin wrapper over CMake: `make demo` carves the bundled sample, `make test` runs every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test bench sanitize clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd examples && ../$(BUILD)/mesh_carver

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

sanitize:
	cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMESH_CARVER_SANITIZE=ON
	cmake --build $(BUILD)-sanitize -j $(JOBS)
	cd $(BUILD)-sanitize && ctest -j $(JOBS) --output-on-failure

bench:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DMESH_CARVER_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	$(BUILD)/bench/mesh_carver_bench
	bench/run_bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize
