# Thin wrapper over CMake: `make demo` carves the bundled sample, `make test` runs every test.
# Each target first installs what it misses (scripts/install_deps.sh).
BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WINDOWS_DEPS = $(abspath $(WINDOWS_BUILD))/deps

.PHONY: all build demo test bench sanitize windows test-windows test-blender4 dist clean

all: build

build:
	scripts/install_deps.sh build
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd examples && ../$(BUILD)/mesh_carver

test:
	scripts/install_deps.sh test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

sanitize:
	scripts/install_deps.sh test
	cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMESH_CARVER_SANITIZE=ON
	cmake --build $(BUILD)-sanitize -j $(JOBS)
	cd $(BUILD)-sanitize && ctest -j $(JOBS) --output-on-failure

bench:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DMESH_CARVER_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	$(BUILD)/bench/mesh_carver_bench
	bench/run_bench.sh $(BUILD)

# mesh_carver.exe: MinGW-w64, static, with libarchive and liblzma built once into the build folder
windows:
	scripts/install_deps.sh windows
	cmake/windows_deps.sh $(WINDOWS_DEPS)
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DMESH_CARVER_WINDOWS_DEPS=$(WINDOWS_DEPS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# the unit tests under Wine, the ini lookup against Windows' own, and whole runs of the exe
# against the Linux build
test-windows: windows build
	cd $(WINDOWS_BUILD) && WINEPREFIX=$(abspath $(WINDOWS_BUILD))/wineprefix WINEDEBUG=-all \
		ctest --output-on-failure
	tests/windows/differential.sh $(BUILD) $(WINDOWS_BUILD)

# the add-on's checks in Debian 13's Blender 4, in a Debian 13 root made once with debootstrap
# (as root: chroot)
test-blender4: build
	tests/blender4/run.sh $(BUILD)

dist: build windows
	cd $(BUILD) && cpack
	cd $(WINDOWS_BUILD) && cpack
	mkdir -p dist && cp $(BUILD)/mesh_carver-*.tar.gz $(WINDOWS_BUILD)/mesh_carver-*-windows-x64.zip \
		$(BUILD)/mesh_carver-*-blender-addon.zip dist/

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(WINDOWS_BUILD) dist
