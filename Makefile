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

# Each configuration built once, each test run once (tools/make_test.py
# says in which order and why), and at the end what failed and where its
# whole output is.
test:
	@$(INSTALL_DEPS) test
	python3 tools/make_test.py --jobs $(JOBS)

demo: all
	@$(INSTALL_DEPS) demo
	python3 tools/demo.py
