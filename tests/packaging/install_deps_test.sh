#!/usr/bin/env bash
# scripts/install-deps.sh against a PATH that holds only what it needs besides the package tools,
# with stand-ins for those: it must never reach apt-get where it cannot or need not, and must
# name what is missing and let the build go on.
set -u
script=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/zentrix-deps-test.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$work/bare" "$work/tools"
for tool in bash env grep id cat; do ln -s "$(command -v "$tool")" "$work/bare/$tool"; done
cp -P "$work/bare/"* "$work/tools/"
# dpkg-query that finds nothing installed, apt-get that notes every call and fails.
printf '#!/bin/sh\nexit 1\n' >"$work/tools/dpkg-query"
printf '#!/bin/sh\necho "$*" >>"%s/apt-called"\nexit 1\n' "$work" >"$work/tools/apt-get"
chmod +x "$work/tools/dpkg-query" "$work/tools/apt-get"

# Neither dpkg-query nor apt-get: every package of the set named, status 0.
out=$(env -i PATH="$work/bare" bash "$script" run 2>&1); status=$?
[ $status -eq 0 ] || fail "without dpkg-query: status $status"
for p in libsdl2-dev cmake fonts-liberation2; do
  [[ $out == *"$p"* ]] || fail "without dpkg-query, run does not name $p: $out"
done
[[ $out != *libgtest-dev* ]] || fail "run names the test package libgtest-dev: $out"
out=$(env -i PATH="$work/bare" bash "$script" test 2>&1)
[[ $out == *libgtest-dev* && $out == *xvfb* ]] || fail "test does not name the test packages: $out"

# NODEPS=1 skips the step, even where apt-get is there and every package is missing.
out=$(env -i PATH="$work/tools" NODEPS=1 bash "$script" test 2>&1); status=$?
[ $status -eq 0 ] && [ -z "$out" ] || fail "NODEPS=1: status $status, output '$out'"
[ ! -e "$work/apt-called" ] || fail "NODEPS=1 called apt-get: $(cat "$work/apt-called")"

# Every package there: nothing to do, apt-get not called.
printf '#!/bin/sh\nprintf "install ok installed"\n' >"$work/tools/dpkg-query"
out=$(env -i PATH="$work/tools" bash "$script" test 2>&1); status=$?
[ $status -eq 0 ] && [ -z "$out" ] || fail "all installed: status $status, output '$out'"
[ ! -e "$work/apt-called" ] || fail "all installed, yet apt-get was called: $(cat "$work/apt-called")"

# dpkg-query but no apt-get: only the missing package is named.
printf '#!/bin/sh\n[ "$3" = xvfb ] || printf "install ok installed"\n' >"$work/tools/dpkg-query"
rm "$work/tools/apt-get"
out=$(env -i PATH="$work/tools" bash "$script" test 2>&1); status=$?
[ $status -eq 0 ] || fail "without apt-get: status $status"
[[ $out == *"packages: xvfb"$'\n'* ]] || fail "without apt-get, xvfb alone is not named: $out"

[ $failures -eq 0 ] && echo "install-deps: all cases pass"
exit $((failures > 0))
