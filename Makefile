# Thin wrapper around CMake. `make test` builds and runs the whole suite.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
CTEST_ARGS ?= --output-on-failure -j $(JOBS)

# Seconds each fuzz target runs under `make fuzz`; CI passes a short budget.
FUZZ_SECONDS ?= 60
# Minutes the stress test runs under `make soak`.
SOAK_MINUTES ?= 10

.PHONY: all build test test-asan test-tsan fuzz fuzz-build soak clean

all: build

build:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest $(CTEST_ARGS)

test-asan:
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMORVENT_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_ARGS)

test-tsan:
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMORVENT_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest $(CTEST_ARGS)

fuzz-build:
	cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build build-fuzz -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

soak: build
	cd $(BUILD) && MORVENT_SOAK_MINUTES=$(SOAK_MINUTES) ./tests/stress_tests --gtest_brief=1

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
