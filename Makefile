# Thin wrapper around CMake. `make test` builds and runs the whole suite.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
# Some suites measure time-outs in real time; on a loaded machine a test that
# fails is run once more, and both runs stay in the output.
CTEST_ARGS ?= --output-on-failure -j $(JOBS) --repeat until-pass:2

PREFIX     ?= /usr/local
# Seconds each fuzz target runs under `make fuzz`; CI passes a short budget.
FUZZ_SECONDS ?= 60
# Minutes the stress test runs under `make soak`.
SOAK_MINUTES ?= 10

.PHONY: all deps deps-windows deps-fuzz build test test-asan test-tsan windows windows-test demo install fuzz fuzz-build soak bench bench-smoke clean

all: build

# The Debian packages the build needs, when they are missing.
deps:
	@scripts/install-deps.sh

deps-windows:
	@scripts/install-deps.sh windows

deps-fuzz:
	@scripts/install-deps.sh fuzz

build: deps
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

# A narrated session against the simulated reader, from a Release build
# staged as it would be installed.
demo: deps
	cmake -S . -B build-release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DMORVENT_BUILD_TESTS=OFF
	cmake --build build-release -j $(JOBS)
	cmake --install build-release --prefix build-release/stage > /dev/null
	scripts/demo.sh build-release/stage

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Windows: Morvent.dll, Tessaly.dll and the test suites, cross-compiled with
# MinGW-w64; windows-test runs the suites under Wine (scripts/wine-test.sh).
WIN_BUILD ?= build-win

windows: deps-windows
	cmake -S . -B $(WIN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake
	cmake --build $(WIN_BUILD) -j $(JOBS)

windows-test: windows
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target morvent-fake-server
	scripts/wine-test.sh $(WIN_BUILD) $(BUILD)/tests/morvent-fake-server

fuzz-build: deps-fuzz
	cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build build-fuzz -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

soak: build
	cd $(BUILD) && MORVENT_SOAK_MINUTES=$(SOAK_MINUTES) ./tests/stress_tests --gtest_brief=1

# Benchmarks (not tests): a Release build of the benchmark programs, run in
# turn by scripts/bench.sh; the table goes to the screen and, as JSON, to
# build-bench/bench.json. bench-smoke runs each once for a few iterations
# from the test build, so that they keep working (CI).
bench: deps
	cmake -S . -B build-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target benchmarks
	scripts/bench.sh build-bench

bench-smoke: build
	scripts/bench.sh $(BUILD) --smoke

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-release build-bench $(WIN_BUILD)
