# The two set-up commands: `make demo` and `make test`.
BUILD ?= build
WIN_BUILD ?= build-win
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test demo bench clean windows windows-test

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build windows
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The Windows build (cross-built with mingw-w64), its tests run under Wine.
windows: deps
	@sh scripts/build-win-deps.sh $(WIN_BUILD)/deps
	@test -f $(WIN_BUILD)/build.ninja || cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	@cmake --build $(WIN_BUILD) -j $(JOBS)

windows-test: windows
	@cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@sh scripts/demo.sh $(BUILD)

bench: configure
	@cmake --build $(BUILD) --target benches -j $(JOBS)

clean:
	rm -rf $(BUILD) $(WIN_BUILD)
