# The two commands of the README: `make run` and `make test`.
# Release build in build/release, sanitizer build in build/asan.

JOBS ?= $(shell nproc)
CMAKE_FLAGS = -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
# How often the stress run moves every buffer (in allocations).
STRESS ?= 97

.PHONY: run test build build-asan setup unit scripts bench clean

setup:
	@bash tools/setup.sh

build/release/build.ninja: | setup
	@cmake -S . -B build/release $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build/asan/build.ninja: | setup
	@cmake -S . -B build/asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DKEZ_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null

build: setup build/release/build.ninja
	@ninja -C build/release -j $(JOBS) kez kez-unit

build-asan: setup build/asan/build.ninja
	@ninja -C build/asan -j $(JOBS) kez kez-unit

run: build
	@./build/release/kez $(ARGS)

test: build build-asan
	@bash tests/run-all.sh $(STRESS)

bench: build
	@bash bench/run.sh $(BENCH)

clean:
	rm -rf build
