#!/usr/bin/env bash
# Runs every test on the builds that `make test` made: unit tests and script
# tests on the release build, then both again on the sanitizer build, the
# script tests also under relocation stress at two intervals, the terminal
# and process tests on both, and the fuzz targets of the Clang build.
set -uo pipefail
cd "$(dirname "$0")/.."
stress=${1:-97}
status=0
step() { echo "== $*"; }

step "unit tests (release)"
./build/release/kez-unit --gtest_brief=1 || status=1
step "script tests (release)"
python3 tests/run-scripts.py build/release/kez || status=1
step "peer tests (release)"
for t in tests/peers/*.py; do python3 "$t" build/release/kez || status=1; done
step "boot pool against the sources (release)"
python3 tests/compare-boot.py build/release/kez || status=1
step "terminal tests (release, tmux)"
python3 tests/run-tty.py build/release/kez || status=1
python3 tests/run-gui-tty.py build/release/kez || status=1
step "process tests (release: statuses, signals, streams)"
python3 tests/run-process.py build/release/kez || status=1

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "unit tests (sanitizers)"
./build/asan/kez-unit --gtest_brief=1 || status=1
step "script tests (sanitizers)"
python3 tests/run-scripts.py build/asan/kez || status=1
step "peer tests (sanitizers)"
for t in tests/peers/*.py; do python3 "$t" build/asan/kez || status=1; done
step "boot pool against the sources (sanitizers)"
python3 tests/compare-boot.py build/asan/kez || status=1
step "terminal tests (sanitizers, tmux)"
python3 tests/run-tty.py build/asan/kez || status=1
python3 tests/run-gui-tty.py build/asan/kez || status=1
step "process tests (sanitizers)"
python3 tests/run-process.py build/asan/kez || status=1
# Two intervals: a long one that lets state build up between moves, and a
# short one that moves buffers inside nearly every evaluation step.
for interval in $stress 7; do
  step "script tests (sanitizers, KEZ_GC_STRESS=$interval)"
  KEZ_GC_STRESS=$interval python3 tests/run-scripts.py build/asan/kez || status=1
  [ "$stress" = 7 ] && break
done

# Runs one libFuzzer target of build/fuzz (tests/fuzz/*.cpp, built by
# `make build-clang`) for a few seconds. Its corpus starts with copies of the
# seeds (files, or the files of directories), so that no run writes into them:
#   fuzz TARGET SECONDS [libFuzzer options] -- [seeds]
fuzz() {
  local target=$1 seconds=$2 options=() corpus log=build/fuzz/$1.log
  shift 2
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  step "fuzzing $target for $seconds s (clang, sanitizers)"
  corpus=$(mktemp -d)
  # Seeds that are absent (a corpus outside CI) are left out.
  for seed in "$@"; do
    if [ -d "$seed" ]; then cp -r "$seed"/. "$corpus"/; elif [ -e "$seed" ]; then cp "$seed" "$corpus"/; fi
  done
  ./build/fuzz/"$target" -max_total_time="$seconds" -timeout=5 -artifact_prefix=build/fuzz/"$target"- \
    "${options[@]}" "$corpus" >"$log" 2>&1 || { tail -40 "$log"; status=1; }
  rm -rf "$corpus"
  tail -1 "$log"
}
# The fuzz targets, one line each. Keep each run short: CI has two cores.
fuzz transcode_fuzz 20 -dict=tests/fuzz/transcode.dict -max_len=4096 -- src/boot/*.kez
fuzz roundtrip_fuzz 10 -dict=tests/fuzz/transcode.dict -max_len=4096 -- src/boot/*.kez \
  tests/fuzz/roundtrip-seeds
kezbin_seeds=$(mktemp -d)
./build/release/kez tests/fuzz/kezbin-seeds.kez "$kezbin_seeds" || status=1
fuzz kezbin_fuzz 10 -dict=tests/fuzz/kezbin.dict -max_len=4096 -rss_limit_mb=1024 -- "$kezbin_seeds"
rm -rf "$kezbin_seeds"
image_seeds=$(mktemp -d)
./build/release/kez tests/fuzz/image-seeds.kez "$image_seeds" || status=1
fuzz image_fuzz 10 -dict=tests/fuzz/image.dict -max_len=4096 -- "$image_seeds"
rm -rf "$image_seeds"
fuzz json_fuzz 10 -dict=tests/fuzz/json.dict -max_len=4096 -- \
  ../shared/corpora/json-parsing/test_parsing/*.json
fuzz csv_fuzz 10 -dict=tests/fuzz/csv.dict -max_len=4096
deflate_seeds=$(mktemp -d)
python3 tests/fuzz/deflate_seeds.py "$deflate_seeds/inflate" "$deflate_seeds/zlib" \
  "$deflate_seeds/gzip" || status=1
for t in inflate zlib gzip; do
  fuzz ${t}_fuzz 8 -dict=tests/fuzz/$t.dict -max_len=4096 -- "$deflate_seeds/$t"
done
rm -rf "$deflate_seeds"

[ $status -eq 0 ] && echo "== all tests passed" || echo "== some tests FAILED"
exit $status
