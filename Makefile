# Thin wrapper over CMake. Every target that builds first installs the
# Debian packages it needs and are missing (scripts/install-deps.sh).
#   make run [TILESET=path]      open the editor (on samples/sample.tileset by default)
#   make sample                  write a fresh samples/sample.tileset, replacing the old
#   make test [SANITIZE=1] [BUILD_TYPE=Release]
#                                the whole suite (ASan + UBSan with SANITIZE=1)
#   make bench                   benchmarks, release build
#   make fuzz [FUZZ_SECONDS=60]  build the fuzz targets and run each briefly
#   make install [PREFIX=/usr/local]
#   make package                 a .deb in build/
#   make windows                 build-windows/kelbo-tool-VERSION-win64.zip, cross-built
#   make test-windows            the Windows build's suite under Wine
#
# The installer is called from each recipe rather than through a pattern
# rule: make never searches pattern rules for a phony target, so such a
# prerequisite would silently do nothing.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEPS := scripts/install-deps.sh
SAMPLE := samples/sample.tileset
TILESET ?= $(SAMPLE)
PREFIX ?= /usr/local

ifeq ($(SANITIZE),1)
BUILD_DIR := build-asan
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Debug -DKELBO_SANITIZE=ON
export ASAN_OPTIONS := detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS := print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS := suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
else ifneq ($(BUILD_TYPE),)
BUILD_DIR := build-$(shell echo $(BUILD_TYPE) | tr A-Z a-z)-tests
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
else
BUILD_DIR := build
CMAKE_FLAGS :=
endif

VERSION := $(shell grep '^project.kelbo_tool' CMakeLists.txt | grep -o 'VERSION [0-9.]*' | cut -d' ' -f2)
WINDOWS_CMAKE := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake

.PHONY: all build run sample test bench fuzz install package clean format windows test-windows

all: build

build:
	@$(DEPS) build
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) -DKELBO_TESTS=OFF -DKELBO_WERROR=OFF \
		-DKELBO_ASSERTS=OFF >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@[ -f $(SAMPLE) ] || $(MAKE) --no-print-directory sample
	$(BUILD_DIR)/kelbo-tool $(TILESET)

sample: build
	@mkdir -p samples
	$(BUILD_DIR)/kelbo-mksample $(SAMPLE)
	@rm -f $(SAMPLE).swaps

test:
	@$(DEPS) test
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) -DKELBO_TESTS=ON -DKELBO_WERROR=ON \
		-DKELBO_ASSERTS=ON >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench:
	@$(DEPS) bench
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKELBO_TESTS=OFF -DKELBO_BENCH=ON \
		-DKELBO_WERROR=OFF -DKELBO_ASSERTS=OFF >/dev/null
	cmake --build build-release -j $(JOBS)
	build-release/bench/kelbo-bench

FUZZ_SECONDS ?= 60
fuzz:
	@$(DEPS) fuzz
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELBO_TESTS=OFF \
		-DKELBO_FUZZ=ON -DKELBO_WERROR=OFF -DKELBO_ASSERTS=ON >/dev/null
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzz.sh build-fuzz $(FUZZ_SECONDS)

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: build
	@$(DEPS) package
	cd $(BUILD_DIR) && cpack -G DEB

# SDL 1.2, libpng and GoogleTest for Windows are built once from Debian's
# source packages (scripts/windows-deps.sh), into build-windows/deps.
windows:
	@scripts/windows-deps.sh
	cmake -S . -B build-windows/tool $(WINDOWS_CMAKE) -DCMAKE_BUILD_TYPE=Release -DKELBO_TESTS=OFF \
		-DKELBO_WERROR=OFF -DKELBO_ASSERTS=OFF >/dev/null
	cmake --build build-windows/tool -j $(JOBS)
	scripts/windows-zip.sh build-windows/tool build-windows/kelbo-tool-$(VERSION)-win64.zip

# The Linux build's replays are what the Windows build's must equal.
test-windows: build
	@scripts/windows-deps.sh
	cmake -S . -B build-windows/test $(WINDOWS_CMAKE) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKELBO_TESTS=ON -DKELBO_WERROR=ON -DKELBO_ASSERTS=ON \
		-DKELBO_LINUX_TOOL=$(CURDIR)/$(BUILD_DIR)/kelbo-tool >/dev/null
	cmake --build build-windows/test -j $(JOBS)
	scripts/wine-run.sh --session ctest --test-dir build-windows/test --output-on-failure -j $(JOBS)
	tests/windows/editor_under_wine.sh $(CURDIR)/$(BUILD_DIR)/kelbo-tool \
		$(CURDIR)/build-windows/test/kelbo-tool.exe $(CURDIR)/scripts/wine-run.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-release build-release-tests build-debug-tests build-fuzz \
		build-windows/tool build-windows/test
