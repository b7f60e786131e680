# The two everyday commands: `make run` and `make test`. Nothing here installs
# anything; a missing tool is named together with its Debian package.
# A plain `make` builds the portable binary in build/.

BUILD      ?= build
SANBUILD   ?= build-san
TSANBUILD  ?= build-tsan
NATIVEBUILD ?= build-native
PGOBUILD   ?= build-pgo
TUNEBUILD  ?= build-tune
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# `make test SYZYGY=/path/to/tables` points the tablebase tests at other files.
TEST_OPTS  := -DDRAVLIN_WERROR=ON $(if $(SYZYGY),-DDRAVLIN_SYZYGY_DIR=$(abspath $(SYZYGY)))
# The fastest builds: this machine's CPU, link-time optimisation.
FAST_OPTS  := -DCMAKE_BUILD_TYPE=Release -DDRAVLIN_TESTS=OFF -DDRAVLIN_ARCH=native -DDRAVLIN_LTO=ON
# `make EXE=path` also copies the default binary there (testing frameworks
# build engines this way); a relative path is taken from this folder.
MAKEFILE_DIR := $(dir $(abspath $(lastword $(MAKEFILE_LIST))))
EXE_PATH   = $(if $(filter /%,$(EXE)),$(EXE),$(MAKEFILE_DIR)$(EXE))
# Tests that run several threads at once, for the ThreadSanitizer stage.
TSAN_TESTS := Play|PlayShutdown|NetOwnership|ThreadPool|TbRegistry.ConcurrentFirstLoads|TbRoot|Search.StopsOnTheFlag|Texel.CommandReports|Bench|Train\.

# TUNE=1 (on the command line, or written here on a branch for an SPSA test,
# since OpenBench builds with a plain `make EXE=path`): the default goal is the
# tune build (docs/tuning.md).
TUNE       ?= 0
.DEFAULT_GOAL := $(if $(filter 1,$(TUNE)),tune,build)
.PHONY: run build native pgo install test check-tools check-test-tools bench-perft bench clean train tune

run: build
	./$(BUILD)/dravlin

build: check-tools
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DDRAVLIN_TESTS=$(if $(WITH_TESTS),ON,OFF)
	cmake --build $(BUILD) -j $(JOBS) --target dravlin
	$(if $(EXE),mkdir -p $(dir $(EXE_PATH)) && cp $(BUILD)/dravlin $(EXE_PATH))

# The network's trainer: build/dravlin-train (docs/trainer.md).
train: check-tools
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DDRAVLIN_TESTS=$(if $(WITH_TESTS),ON,OFF)
	cmake --build $(BUILD) -j $(JOBS) --target dravlin-train

# The tune build (docs/tuning.md): the network's search values as UCI
# options, for tools/spsa.py or OpenBench's SPSA; not for play.
tune: check-tools
	cmake -S . -B $(TUNEBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DDRAVLIN_TESTS=OFF -DDRAVLIN_TUNE=ON
	cmake --build $(TUNEBUILD) -j $(JOBS) --target dravlin
	$(if $(EXE),mkdir -p $(dir $(EXE_PATH)) && cp $(TUNEBUILD)/dravlin $(EXE_PATH))

native: check-tools
	cmake -S . -B $(NATIVEBUILD) $(CMAKE_GEN) $(FAST_OPTS) -DDRAVLIN_PGO=
	cmake --build $(NATIVEBUILD) -j $(JOBS) --target dravlin

# Instrumented build, a training run of `bench`, then the same build directory
# again with the profile (g++ finds a profile by the object file's path).
pgo: check-tools
	cmake -S . -B $(PGOBUILD) $(CMAKE_GEN) $(FAST_OPTS) -DDRAVLIN_PGO=generate
	rm -rf $(PGOBUILD)/profile
	cmake --build $(PGOBUILD) -j $(JOBS) --target dravlin
	./$(PGOBUILD)/dravlin bench >/dev/null
	cmake -S . -B $(PGOBUILD) -DDRAVLIN_PGO=use
	cmake --build $(PGOBUILD) -j $(JOBS) --target dravlin

# `make install BUILD=build-pgo` installs the profile-guided binary instead.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

test: check-tools check-test-tools
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DDRAVLIN_TESTS=ON $(TEST_OPTS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B $(SANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVLIN_SANITIZE=ON -DDRAVLIN_TESTS=ON $(TEST_OPTS)
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ASAN_OPTIONS=detect_leaks=0 DRAVLIN_SANITIZED=1 ctest --output-on-failure -j $(JOBS)
	cmake -S . -B $(TSANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVLIN_TSAN=ON -DDRAVLIN_TESTS=ON $(TEST_OPTS)
	cmake --build $(TSANBUILD) -j $(JOBS)
	@# The engine runs as a child of the end-to-end tests, its stderr discarded:
	@# every report goes to a file, and any file fails the stage.
	rm -f $(TSANBUILD)/race.*
	cd $(TSANBUILD) && TSAN_OPTIONS="log_path=$(abspath $(TSANBUILD))/race" DRAVLIN_SANITIZED=1 \
	  ctest --output-on-failure -j $(JOBS) -R '^($(TSAN_TESTS))'
	@if ls $(TSANBUILD)/race.* >/dev/null 2>&1; then cat $(TSANBUILD)/race.*; echo "ThreadSanitizer reported the above"; exit 1; fi

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

# Self-play data generation: positions per second per thread at the default flags.
.PHONY: bench-datagen
bench-datagen: build
	bash bench/datagen-speed.sh ./$(BUILD)/dravlin

clean:
	rm -rf $(BUILD) $(SANBUILD) $(TSANBUILD) $(NATIVEBUILD) $(PGOBUILD) $(TUNEBUILD)
