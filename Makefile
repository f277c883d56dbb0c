# The user-facing commands: make (build), make test, make demo. Each first
# installs what a fresh Debian machine lacks for it, and only that: make
# brings no Wine and no test tools.
.PHONY: all test demo

JOBS ?= 2
INSTALL_DEPS = bash tools/install-deps.sh

all:
	@$(INSTALL_DEPS) build
	cmake --preset windows
	cmake --build --preset windows -j$(JOBS)

test:
	@$(INSTALL_DEPS) test
	cmake --preset native
	cmake --build --preset native -j$(JOBS)
	cmake --preset asan
	cmake --build --preset asan -j$(JOBS)
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)
	cmake --preset windows
	cmake --build --preset windows -j$(JOBS)
	ctest --preset native
	ctest --preset asan
	ctest --preset fuzz
	ctest --preset windows

demo: all
	@$(INSTALL_DEPS) demo
	python3 tools/demo.py
