#!/bin/sh
# Compares a signed Quillon.exe, as a fleet received it, with Quillon.exe
# built locally from the same tag (make, or tools/check-reproducible.sh):
# takes the signature off a copy of the signed one, prints both SHA-256
# sums and exits 0 only when they are equal.
#
#     tools/compare-release.sh SIGNED.exe LOCAL.exe
#
# Needs osslsigncode (OSSLSIGNCODE names another one). The signature is
# all that signing adds: the signed file is the unsigned one, padded to
# eight bytes, with the certificate table after it and the header's
# pointer to that table and its checksum set; taking it off gives back
# the unsigned bytes.
set -eu

# --help: the comment above, without its marks.
case "${1:-}" in -h | --help)
  sed -n '2,/^set -eu/{/^set -eu/d;s/^# \{0,1\}//;p;}' "$0"
  exit 0 ;;
esac

if [ $# -ne 2 ]; then
  echo "usage: $0 SIGNED.exe LOCAL.exe" >&2
  exit 2
fi
signed=$1
local_build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM

"${OSSLSIGNCODE:-osslsigncode}" remove-signature -in "$signed" -out "$scratch/unsigned.exe" >"$scratch/remove.log" 2>&1 || {
  cat "$scratch/remove.log" >&2
  echo "$signed: the signature could not be taken off" >&2
  exit 2
}
a=$(sha256sum <"$scratch/unsigned.exe" | cut -d' ' -f1)
b=$(sha256sum <"$local_build" | cut -d' ' -f1)
echo "$a  $signed, without its signature"
echo "$b  $local_build"
if [ "$a" != "$b" ]; then
  echo "they differ: not the program this source builds" >&2
  exit 1
fi
echo "the same program"
