# The README's commands. Each installs the Debian packages its purpose needs
# (tools/setup.sh), configures and builds, with warnings as errors:
#   make run [ARGS=script.kez]   kez only (build/release/kez), then runs it
#   make test                    GCC Release and sanitizer builds, the Clang
#                                build (kez and the fuzzers), every test
#   make bench [BENCH=name]      the benchmarks beside their peers
#   make install [PREFIX=dir]    installs kez into PREFIX/bin
# Build directories: build/release (GCC, Release with debug information,
# optimised with the counts of a training run), build/profile (the same,
# instrumented: it runs the training, tools/pgo-train.sh), build/asan (GCC,
# ASan and UBSan), build/fuzz (Clang, sanitizers, fuzzers).

JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
CMAKE_FLAGS = -G Ninja -DKEZ_WERROR=ON
# How often the stress run moves every buffer (in allocations).
STRESS ?= 97

RELEASE_FLAGS = -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG -g"
# The instrumented build: the release build's optimisation, which its counts
# must match, without the debug information, which changes no code.
PROFILE_FLAGS = -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG" \
                -DBUILD_TESTING=OFF -DKEZ_PROFILE_GENERATE=$(CURDIR)/build/profile/counts
# The counts of the training run, which tools/pgo-train.sh keeps.
TRAINED = $(CURDIR)/build/profile/trained
ASAN_FLAGS = -DCMAKE_BUILD_TYPE=Debug -DKEZ_SANITIZE=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
CLANG_FLAGS = -DCMAKE_CXX_COMPILER=clang++ $(ASAN_FLAGS) -DKEZ_FUZZ=ON -DBUILD_TESTING=OFF

# Configuring again is quick and picks up packages installed since.
configure = cmake -S . -B build/$(1) $(CMAKE_FLAGS) $(2) >/dev/null

.PHONY: run test build build-kez build-profile build-asan build-clang setup setup-test setup-bench \
        bench install clean

setup:
	@bash tools/setup.sh build

setup-test:
	@bash tools/setup.sh build test

setup-bench:
	@bash tools/setup.sh build bench

# The instrumented kez and its training run, whose counts the release build
# is compiled with (the run is skipped while the counts are current). An
# object keeps the counts it was compiled with until its source changes:
# remove build/release to compile everything with new ones.
build-profile: setup
	@$(call configure,profile,$(PROFILE_FLAGS))
	@ninja -C build/profile -j $(JOBS) kez
	@bash tools/pgo-train.sh build/profile

build-kez: setup build-profile
	@$(call configure,release,$(RELEASE_FLAGS) -DKEZ_PROFILE_USE=$(TRAINED))
	@ninja -C build/release -j $(JOBS) kez

build: setup-test build-profile
	@$(call configure,release,$(RELEASE_FLAGS) -DKEZ_PROFILE_USE=$(TRAINED))
	@ninja -C build/release -j $(JOBS) kez kez-unit

build-asan: setup-test
	@$(call configure,asan,$(ASAN_FLAGS))
	@ninja -C build/asan -j $(JOBS) kez kez-unit

build-clang: setup-test
	@$(call configure,fuzz,$(CLANG_FLAGS))
	@ninja -C build/fuzz -j $(JOBS)

run: build-kez
	@./build/release/kez $(ARGS)

test: build build-asan build-clang
	@bash tests/run-all.sh $(STRESS)

bench: setup-bench build-kez
	@bash bench/run.sh $(BENCH)

install: build-kez
	@cmake --install build/release --prefix "$(PREFIX)"

clean:
	rm -rf build
