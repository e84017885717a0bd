# The set-up commands of the README. Each one installs what it needs first.
JOBS ?= $(shell nproc)

.PHONY: deps build run test test-asan bench clean

deps:
	scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# Until the GUI exists the program to run is the kernel benchmark.
run: build
	build/bench/tavrick_bench_kernels --benchmark_filter='1920x1080'

test: build
	ctest --preset default -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

bench: build
	build/bench/tavrick_bench_kernels

clean:
	rm -rf build build-asan
