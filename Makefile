# The two commands a fresh machine needs: `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

# The Windows DLL is cross-built with MinGW-w64 into $(WINDOWS_BUILD) and its
# tests run under wine. `make test` includes them when the cross compiler and
# wine are installed (WITH_WINDOWS=yes requires them, WITH_WINDOWS=no leaves them out).
WINDOWS_BUILD ?= build-windows
WITH_WINDOWS ?= $(shell command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && \
                   command -v wine >/dev/null 2>&1 && echo yes)

.PHONY: all deps build test test-asan demo bench clean windows-deps windows test-windows fuzz fuzz-build fuzz-ci

all: build

# Debian packages the build, the tests and the command-line tool need.
deps:
	@sh tools/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
ifeq ($(WITH_WINDOWS),yes)
	$(MAKE) test-windows
endif

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_SANITIZE=ON -DTAVRIX_WERROR=ON
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# The Debian package of the library, header, tool and CMake/pkg-config files:
# $(BUILD)/tavrix_<version>_<arch>.deb, for `apt-get install ./$(BUILD)/tavrix_*.deb`.
.PHONY: package
package: build
	cd $(BUILD) && cpack -G DEB

# libFuzzer targets, built with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, each run for FUZZ_SECONDS on a seed corpus made
# by fuzz/make_corpus.py. A crash, leak or broken contract fails the run and
# leaves the input in $(FUZZ_BUILD)/crashes/. `make fuzz-ci` is the short run CI makes.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CI_SECONDS ?= 30

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DTAVRIX_FUZZ=ON -DTAVRIX_SANITIZE=ON -DTAVRIX_TESTS=OFF -DTAVRIX_CLI=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	sh fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-ci:
	$(MAKE) fuzz FUZZ_SECONDS=$(FUZZ_CI_SECONDS)

demo: build
	./$(BUILD)/cli/tavrix demo

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTAVRIX_BENCH=ON -DTAVRIX_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	for b in build-bench/bench/bench_*; do $$b --benchmark_min_time=0.2; done

# The chain and the transforms next to FFTW 3 and numpy/scipy, ratios per stage.
.PHONY: bench-compare
bench-compare: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTAVRIX_BENCH=ON -DTAVRIX_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	/usr/bin/python3 bench/compare.py build-bench

# tavrix.dll (imports only KERNEL32 and msvcrt) and the test programs.
windows-deps:
	@sh tools/install-windows-deps.sh

windows: windows-deps
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DTAVRIX_CLI=OFF $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The whole suite under wine, in a wine prefix inside the build directory.
test-windows: windows
	ctest --test-dir $(WINDOWS_BUILD) --output-on-failure -j $(JOBS)
	WINEPREFIX=$(CURDIR)/$(WINDOWS_BUILD)/wineprefix wineserver -k 2>/dev/null || true

clean:
	rm -rf $(BUILD) build-asan build-bench $(WINDOWS_BUILD) $(FUZZ_BUILD)

# Files per second of `tavrix survey` and tavrix.survey with 1 and 2 jobs next to the numpy/scipy
# chain run per file, and the memory of a survey of 10 000 files (SURVEY_MEMORY_FILES).
.PHONY: bench-survey
bench-survey: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTAVRIX_BENCH=ON -DTAVRIX_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target tavrix_cli tavrix_measure
	/usr/bin/python3 bench/survey.py build-bench
