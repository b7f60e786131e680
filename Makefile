# The two everyday commands: `make run` and `make test`. Nothing here installs
# anything; a missing tool is named together with its Debian package.

BUILD      ?= build
SANBUILD   ?= build-san
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# `make test SYZYGY=/path/to/tables` points the tablebase tests at other files.
TEST_OPTS  := $(if $(SYZYGY),-DDRAVLIN_SYZYGY_DIR=$(abspath $(SYZYGY)))

.PHONY: run build test check-tools check-test-tools bench-perft bench clean

run: build
	./$(BUILD)/dravlin

build: check-tools
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DDRAVLIN_TESTS=$(if $(WITH_TESTS),ON,OFF)
	cmake --build $(BUILD) -j $(JOBS) --target dravlin

test: check-tools check-test-tools
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DDRAVLIN_TESTS=ON $(TEST_OPTS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B $(SANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVLIN_SANITIZE=ON -DDRAVLIN_NATIVE=OFF -DDRAVLIN_TESTS=ON $(TEST_OPTS)
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ASAN_OPTIONS=detect_leaks=0 DRAVLIN_SANITIZED=1 ctest --output-on-failure -j $(JOBS)

check-tools:
	@command -v cmake >/dev/null 2>&1 || { echo "cmake is missing: apt-get install cmake"; exit 1; }
	@command -v g++ >/dev/null 2>&1 || { echo "g++ is missing: apt-get install g++"; exit 1; }
	@command -v make >/dev/null 2>&1 || { echo "make is missing: apt-get install make"; exit 1; }

check-test-tools:
	@test -f /usr/include/gtest/gtest.h || { echo "GoogleTest is missing: apt-get install libgtest-dev"; exit 1; }

# Perft speed against Debian's stockfish (install it with: apt-get install stockfish).
bench-perft: build
	bash bench/perft.sh ./$(BUILD)/dravlin

bench: build
	./$(BUILD)/dravlin bench

# bench speed against Debian's ethereal-chess (apt-get install ethereal-chess),
# and against another build with BASE=path/to/dravlin.
.PHONY: bench-nps
bench-nps: build
	bash bench/nps.sh ./$(BUILD)/dravlin $(BASE)

clean:
	rm -rf $(BUILD) $(SANBUILD)
