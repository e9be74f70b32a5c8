# The two set-up commands: `make demo` and `make test`.
BUILD ?= build
WIN_BUILD ?= build-win
JOBS ?= $(shell nproc)
# The sanitizer build (ASan + UBSan) that `make test` runs after the native one.
ASAN_BUILD ?= build-asan
# The release builds (make release), apart from the everyday ones.
RELEASE_BUILD ?= build-release
RELEASE_WIN_BUILD ?= build-release-win
VECTORS ?= $(shell sed -n 's/^VELMO_VECTORS_DIR:PATH=//p' $(BUILD)/CMakeCache.txt)
CCACHE_FLAGS = $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: all deps configure build test test-asan demo bench clean windows windows-test windows-kit release

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CCACHE_FLAGS)

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build windows
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-asan

# The Windows build (cross-built with mingw-w64), its tests run under Wine.
windows: deps
	@sh scripts/build-win-deps.sh $(WIN_BUILD)/deps
	@test -f $(WIN_BUILD)/build.ninja || cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CCACHE_FLAGS)
	@cmake --build $(WIN_BUILD) -j $(JOBS)

# The test kit for a real Windows machine: build-win/velmo-windows-tests.zip
# (unpack it there and run run-tests.cmd). The native tests write the
# reference renders it carries.
windows-kit: build windows
	@test -d $(BUILD)/wizard-frames || (cd $(BUILD) && ctest -R WizardFrames --output-on-failure)
	@sh scripts/make-windows-kit.sh $(WIN_BUILD) $(BUILD) $(VECTORS) --zip

windows-test: windows
	@cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@test -f $(ASAN_BUILD)/build.ninja || cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_SANITIZE=ON $(CCACHE_FLAGS)
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@sh scripts/demo.sh $(BUILD)

# release/: both patchers carrying PACK (default: the small demo game's),
# the Windows one signed with SIGN_CERT and SIGN_KEY when given, and their
# SHA256SUMS. Only what ships is built, the same bytes in any folder.
RELEASE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMO_RELEASE=ON $(CCACHE_FLAGS)
release: deps
	@sh scripts/build-win-deps.sh $(RELEASE_WIN_BUILD)/deps
	@test -f $(RELEASE_BUILD)/build.ninja || cmake -S . -B $(RELEASE_BUILD) $(RELEASE_FLAGS)
	@test -f $(RELEASE_WIN_BUILD)/build.ninja || cmake -S . -B $(RELEASE_WIN_BUILD) $(RELEASE_FLAGS) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	@cmake --build $(RELEASE_BUILD) -j $(JOBS) --target velmo-patcher velmo-pack velmo-demo-game
	@cmake --build $(RELEASE_WIN_BUILD) -j $(JOBS) --target velmo-patcher
	@sh scripts/make-release.sh $(RELEASE_BUILD) $(RELEASE_WIN_BUILD) release "$(PACK)" "$(SIGN_CERT)" "$(SIGN_KEY)"

bench: configure
	@cmake --build $(BUILD) --target benches -j $(JOBS)

clean:
	rm -rf $(BUILD) $(WIN_BUILD) $(ASAN_BUILD) $(RELEASE_BUILD) $(RELEASE_WIN_BUILD)
