#!/bin/sh
# Builds the unsigned Quillon.exe twice from one commit, as `make` builds
# it (the windows preset), in two temporary folders of different names and
# depths, one after the other, the second under another time zone and
# locale; prints both SHA-256 sums and exits 0 only when they are equal.
#
#     tools/check-reproducible.sh [COMMIT [CMAKE-ARGUMENTS...]]
#
# COMMIT defaults to HEAD; the arguments go to both configurations (a
# release names the maker's images: -DQUILLON_FULL_PACKAGE=... and
# -DQUILLON_OPTIONAL_IMAGE=..., with absolute paths).
#
# Takes the committed tree (git archive), so local changes do not count,
# and builds without a compiler cache, which would hide a difference.
# Two full builds: about 5 to 10 minutes on two cores. Not part of
# `make test`.
set -eu

# --help: the comment above, without its marks.
case "${1:-}" in -h | --help)
  sed -n '2,/^set -eu/{/^set -eu/d;s/^# \{0,1\}//;p;}' "$0"
  exit 0 ;;
esac

source=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
commit=$(git -C "$source" rev-parse --verify "${1:-HEAD}^{commit}")
[ $# -gt 0 ] && shift
jobs=${JOBS:-2}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1

first="$scratch/a/quillon"
second="$scratch/build-two/deeper/quillon-source"

build() {  # folder, time zone, locale, then the CMake arguments
  folder=$1 zone=$2 locale=$3
  shift 3
  mkdir -p "$folder"
  git -C "$source" archive "$commit" | tar -x -C "$folder"
  echo "building $commit in $folder" >&2
  (cd "$folder" && TZ=$zone LC_ALL=$locale cmake --preset windows "$@" >"$scratch/configure.log" 2>&1 &&
    TZ=$zone LC_ALL=$locale cmake --build --preset windows --target Quillon -j"$jobs" >"$scratch/build.log" 2>&1) || {
    cat "$scratch/configure.log" "$scratch/build.log" >&2
    exit 2
  }
}

build "$first" UTC C "$@"
build "$second" Pacific/Kiritimati C.UTF-8 "$@"

a=$(sha256sum <"$first/build/windows/Quillon.exe" | cut -d' ' -f1)
b=$(sha256sum <"$second/build/windows/Quillon.exe" | cut -d' ' -f1)
echo "$a  first build"
echo "$b  second build"
if [ "$a" != "$b" ]; then
  echo "Quillon.exe differs between the two builds; first differing bytes (offset, first, second, octal):" >&2
  cmp -l "$first/build/windows/Quillon.exe" "$second/build/windows/Quillon.exe" | head -n 20 >&2 || true
  exit 1
fi
echo "the same bytes from the same source"
