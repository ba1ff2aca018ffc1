# Thin wrapper over CMake. `make run` and `make test` install what is
# missing (Debian packages), build and go.
#   make run [TILESET=path]   open the editor (on a bundled sample by default)
#   make test [SANITIZE=1]    the whole suite (ASan + UBSan with SANITIZE=1)
#   make bench                benchmarks, release build
#   make fuzz [FUZZ_SECONDS=60]  build the fuzz targets and run each briefly

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
SAMPLE := samples/sample.tileset
TILESET ?= $(SAMPLE)

ifeq ($(SANITIZE),1)
BUILD_DIR := build-asan
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Debug -DKELBO_SANITIZE=ON
export ASAN_OPTIONS := detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS := print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS := suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
else
BUILD_DIR := build
CMAKE_FLAGS :=
endif

.PHONY: all build run test bench fuzz deps-build deps-test deps-bench deps-fuzz clean format

all: build

deps-%:
	@scripts/install-deps.sh $*

build: deps-build
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) -DKELBO_TESTS=OFF >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)

$(SAMPLE): build
	@mkdir -p samples
	@[ -f $(SAMPLE) ] || $(BUILD_DIR)/kelbo-mksample $(SAMPLE)

run: build $(SAMPLE)
	$(BUILD_DIR)/kelbo-tool $(TILESET)

test: deps-test
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) -DKELBO_TESTS=ON >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: deps-bench
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKELBO_TESTS=OFF -DKELBO_BENCH=ON >/dev/null
	cmake --build build-release -j $(JOBS)
	build-release/bench/kelbo-bench

FUZZ_SECONDS ?= 60
fuzz: deps-fuzz
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELBO_TESTS=OFF -DKELBO_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzz.sh build-fuzz $(FUZZ_SECONDS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-release build-fuzz
