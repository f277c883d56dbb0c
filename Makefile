# The user-facing commands: make (build), make test, make demo.
.PHONY: all build test demo deps

JOBS ?= 2

all: build

deps:
	@bash tools/install-deps.sh

build: deps
	cmake --preset windows
	cmake --build --preset windows -j$(JOBS)

test: deps
	cmake --preset native
	cmake --build --preset native -j$(JOBS)
	cmake --preset asan
	cmake --build --preset asan -j$(JOBS)
	cmake --preset windows
	cmake --build --preset windows -j$(JOBS)
	ctest --preset native
	ctest --preset asan
	ctest --preset windows

demo: build
	python3 tools/demo.py
