#!/usr/bin/env bash
# Runs every test: unit tests and script tests on the release build, then both
# again on the sanitizer build, the script tests also under relocation stress
# at two intervals.
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
# Two intervals: a long one that lets state build up between moves, and a
# short one that moves buffers inside nearly every evaluation step.
for interval in $stress 7; do
  step "script tests (sanitizers, KEZ_GC_STRESS=$interval)"
  KEZ_GC_STRESS=$interval python3 tests/run-scripts.py build/asan/kez || status=1
  [ "$stress" = 7 ] && break
done
step "building the fuzz targets (clang, sanitizers)"
build_fuzz() {
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DKEZ_SANITIZE=ON -DKEZ_FUZZ=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null || return 1
  local targets
  targets=$(basename -s .cpp tests/fuzz/*_fuzz.cpp)
  # shellcheck disable=SC2086
  ninja -C build/fuzz $targets >build/fuzz/build.log 2>&1 || { cat build/fuzz/build.log; return 1; }
}
# fuzz TARGET SECONDS SEED-FILES...: one libFuzzer target for a short fixed
# time, with tests/fuzz/TARGET.dict.
fuzz() {
  local target=$1 seconds=$2
  shift 2
  step "fuzzing $target for $seconds s (clang, sanitizers)"
  local corpus
  corpus=$(mktemp -d)
  # Seeds are copied so that no run can write its findings into the
  # source tree; those that are absent (a corpus outside CI) are left out.
  for f in "$@"; do [ -e "$f" ] && cp "$f" "$corpus"/; done
  "./build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=5 -max_len=4096 \
    -dict="tests/fuzz/$target.dict" -artifact_prefix=build/fuzz/ "$corpus" \
    >build/fuzz/run.log 2>&1 || { tail -40 build/fuzz/run.log; rm -rf "$corpus"; return 1; }
  rm -rf "$corpus"
  tail -1 build/fuzz/run.log
}
if build_fuzz; then
  fuzz transcode 20 src/boot/*.kez || status=1
  fuzz roundtrip 10 src/boot/*.kez tests/fuzz/roundtrip-seeds/* || status=1
  # The KEZBIN reader's seeds are images of every type, written by kez.
  kezbin_seeds=$(mktemp -d)
  { ./build/release/kez tests/fuzz/kezbin-seeds.kez "$kezbin_seeds" &&
    fuzz kezbin 10 "$kezbin_seeds"/*; } || status=1
  rm -rf "$kezbin_seeds"
  # The image decoders' seeds are a small image in every format, by kez.
  image_seeds=$(mktemp -d)
  { ./build/release/kez tests/fuzz/image-seeds.kez "$image_seeds" &&
    fuzz image 10 "$image_seeds"/*; } || status=1
  rm -rf "$image_seeds"
  fuzz json 10 ../shared/corpora/json-parsing/test_parsing/*.json || status=1
  fuzz csv 10 || status=1
  deflate_seeds=$(mktemp -d)
  python3 tests/fuzz/deflate_seeds.py "$deflate_seeds/inflate" "$deflate_seeds/zlib" \
    "$deflate_seeds/gzip" || status=1
  for t in inflate zlib gzip; do fuzz $t 8 "$deflate_seeds/$t"/* || status=1; done
  rm -rf "$deflate_seeds"
else
  status=1
fi

[ $status -eq 0 ] && echo "== all tests passed" || echo "== some tests FAILED"
exit $status
