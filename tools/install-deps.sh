#!/usr/bin/env bash
# Installs what one of the make commands needs on a Debian machine, and no
# more: `make` only builds, so it does not bring Wine and the test stack.
# Touches apt only when a package is missing, so a second run is quiet and
# offline.
#
#   tools/install-deps.sh build|test|demo [--list]
#
# --list prints the packages instead, one a line, and installs nothing.
set -euo pipefail

purpose=${1:-test}
list_only=0
[ "${2:-}" = --list ] && list_only=1

# Building Quillon.exe: the cross compiler, CMake, the package image tool,
# and signing (osslsigncode, and openssl for the throwaway certificate).
build=(
  make cmake python3
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  osslsigncode openssl
)
# Running it under Wine with a display; fonts-wine draws the dialogs' text
# and the title-bar buttons, without which screenshots show empty boxes.
wine_stack=(wine wine64 fonts-wine xvfb imagemagick)
# The native tests and the fuzzers; clang's runtime comes after clang.
native=(g++ clang googletest libgtest-dev)

case "$purpose" in
  build) packages=("${build[@]}") ;;
  demo) packages=("${build[@]}" "${wine_stack[@]}") ;;
  test) packages=("${build[@]}" "${native[@]}" "${wine_stack[@]}") ;;
  *)
    echo "usage: $0 build|test|demo [--list]" >&2
    exit 2
    ;;
esac

say() { echo "install-deps: $*" >&2; }

# The sanitizer and fuzzer runtime of the clang that is installed: its
# package carries clang's major version, which differs between releases.
clang_runtime() {
  local major
  major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -1)
  [ -n "$major" ] && echo "libclang-rt-$major-dev"
}

if [ "$list_only" -eq 1 ]; then
  printf '%s\n' "${packages[@]}"
  if [ "$purpose" = test ]; then clang_runtime || echo "libclang-rt-<major of clang>-dev"; fi
  exit 0
fi

is_installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}

missing_of() {
  local p
  for p in "$@"; do is_installed "$p" || echo "$p"; done
}

# How to run apt as root here, or nothing when we cannot.
as_root=""
root_ok=1
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    as_root=sudo
  else
    root_ok=0
  fi
fi

cannot_install() {
  say "missing: $*"
  say "this needs root to install them, and there is neither root nor sudo here."
  say "ask an administrator to run:"
  say "    apt-get update && apt-get install --no-install-recommends $*"
  exit 1
}

updated=0
update_once() {
  [ "$updated" -eq 0 ] || return 0
  $as_root apt-get update -q || { say "apt-get update failed; install by hand: $*"; exit 1; }
  updated=1
}

install() {
  [ $# -eq 0 ] && return 0
  if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
    say "this is not a Debian-like system (no apt-get/dpkg-query); install these or their equivalents: $*"
    exit 1
  fi
  [ "$root_ok" -eq 1 ] || cannot_install "$@"
  say "installing $*"
  export DEBIAN_FRONTEND=noninteractive
  update_once "$@"
  $as_root apt-get install -y -q --no-install-recommends "$@" ||
    { say "apt-get install failed; install by hand: $*"; exit 1; }
}

# The dpkg query needs dpkg; without it every package counts as missing,
# and install() then says what to do.
mapfile -t missing < <(missing_of "${packages[@]}")
install "${missing[@]}"

# Clang's runtime, once clang is there. Older releases ship it inside
# libclang-common-N-dev instead.
if [ "$purpose" = test ]; then
  if ! runtime=$(clang_runtime); then
    say "cannot tell the version of the installed clang; install its compiler-rt runtime by hand"
    exit 1
  fi
  if ! is_installed "$runtime"; then
    # Which of the two exists is known only from fresh package lists.
    [ "$root_ok" -eq 1 ] && update_once "$runtime"
    candidate=$(apt-cache policy "$runtime" 2>/dev/null | sed -n 's/^ *Candidate: *//p')
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
      runtime=${runtime/libclang-rt-/libclang-common-}
    fi
    mapfile -t missing < <(missing_of "$runtime")
    install "${missing[@]}"
  fi
fi
