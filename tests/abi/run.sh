#!/usr/bin/env bash
# The ABI check of scripts/abi on a small library with one change at a
# time: run.sh ABI-SCRIPT CXX WORK-DIR. Each variant of fixture.cpp is built
# as libfixture.so.1 with debug information, dumped as scripts/abi dumps
# the real libraries, and compared with the unchanged one:
#   an added member function             passes, reported as an addition
#   a change to a type of no public header passes, no change
#   a removed member function            fails
#   a changed parameter type             fails (a symbol removed, one added)
#   a changed layout of a public class   fails
#   a changed layout of a public struct that no signature shows   fails
# Exits 77 (skipped) without abidw.
set -uo pipefail
abi=$1 cxx=$2 work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v abidw >/dev/null 2>&1 && command -v abidiff >/dev/null 2>&1 || {
    echo "abidw/abidiff not found (Debian: abigail-tools): skipped"
    exit 77
}
rm -rf "$work"
mkdir -p "$work"
failures=0

# build NAME [DEFINE]: libfixture.so.1 of a variant, and its dump.
build() {
    local name=$1 define=${2:+-D$2}
    mkdir -p "$work/$name"
    # shellcheck disable=SC2086 # an absent define is no argument
    "$cxx" -std=c++17 -g -O2 -fPIC -shared -fvisibility=hidden -fvisibility-inlines-hidden $define \
        -Wl,-soname,libfixture.so.1 -o "$work/$name/libfixture.so.1" "$here/fixture.cpp" &&
        bash "$abi" --dump "$work/$name/libfixture.so.1" "$work/$name/libfixture.so.1.abi" "$here" ||
        { echo "FAIL: could not build or dump the variant $name" >&2; exit 1; }
}

# expect NAME STATUS TEXT: comparing the variant with the base exits with
# STATUS and prints TEXT.
expect() {
    local name=$1 want=$2 text=$3 out rc=0
    out=$(bash "$abi" --compare "$work/base/libfixture.so.1.abi" "$work/$name/libfixture.so.1.abi" 2>&1) || rc=$?
    if [[ $rc != "$want" ]] || ! grep -qF -- "$text" <<<"$out"; then
        echo "FAIL: $name: exit status $rc (expected $want), output:"$'\n'"$out"$'\n'"(expected it to say '$text')" >&2
        failures=$((failures + 1))
    else
        echo "ok: $name: $(tail -n 1 <<<"$out")"
    fi
}

build base
build added VARIANT_ADDED
build private VARIANT_PRIVATE
build removed VARIANT_REMOVED
build signature VARIANT_SIGNATURE
build layout VARIANT_LAYOUT
build unreachable VARIANT_UNREACHABLE_LAYOUT

expect base 0 'no change'
expect added 0 '1 added, nothing removed or changed'
expect added 0 'Point::diagonal'
expect private 0 'no change'
expect removed 1 'BROKEN'
expect removed 1 'Point::perimeter'
expect signature 1 'BROKEN'
expect signature 1 'Point::scaled(long'
expect layout 1 'BROKEN'
expect layout 1 'mZ'
expect unreachable 1 'BROKEN'
expect unreachable 1 'verbosity'

((failures == 0)) || { echo "$failures expectation(s) failed" >&2; exit 1; }
echo "abi check: every change classified as expected"
