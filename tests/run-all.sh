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
step "fuzzing transcode for 20 s (clang, sanitizers)"
fuzz() {
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DKEZ_SANITIZE=ON -DKEZ_FUZZ=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null || return 1
  ninja -C build/fuzz transcode_fuzz kezbin_fuzz roundtrip_fuzz >build/fuzz/build.log 2>&1 ||
    { cat build/fuzz/build.log; return 1; }
  local corpus
  corpus=$(mktemp -d)
  # The boot sources seed the corpus; they are copied so that no run can
  # write its findings into the source tree.
  cp src/boot/*.kez "$corpus"/
  ./build/fuzz/transcode_fuzz -max_total_time=20 -timeout=5 -max_len=4096 \
    -dict=tests/fuzz/transcode.dict -artifact_prefix=build/fuzz/ "$corpus" \
    >build/fuzz/run.log 2>&1 || { tail -40 build/fuzz/run.log; rm -rf "$corpus"; return 1; }
  rm -rf "$corpus"
  tail -1 build/fuzz/run.log
}
fuzz || status=1
step "fuzzing the KEZBIN reader for 10 s (clang, sanitizers)"
fuzz_kezbin() {
  local corpus seeds
  corpus=$(mktemp -d)
  seeds=$(mktemp -d)
  ./build/release/kez tests/fuzz/kezbin-seeds.kez "$seeds" || { rm -rf "$corpus" "$seeds"; return 1; }
  ./build/fuzz/kezbin_fuzz -max_total_time=10 -timeout=5 -max_len=4096 -rss_limit_mb=1024 \
    -artifact_prefix=build/fuzz/kezbin- "$corpus" "$seeds" \
    >build/fuzz/kezbin.log 2>&1 || { tail -40 build/fuzz/kezbin.log; rm -rf "$corpus" "$seeds"; return 1; }
  rm -rf "$corpus" "$seeds"
  tail -1 build/fuzz/kezbin.log
}
fuzz_kezbin || status=1
step "fuzzing the mold/all and load round trip for 10 s (clang, sanitizers)"
fuzz_round_trip() {
  local corpus
  corpus=$(mktemp -d)
  cp src/boot/*.kez tests/fuzz/roundtrip-seeds/* "$corpus"/
  ./build/fuzz/roundtrip_fuzz -max_total_time=10 -timeout=5 -max_len=4096 \
    -dict=tests/fuzz/transcode.dict -artifact_prefix=build/fuzz/roundtrip- "$corpus" \
    >build/fuzz/roundtrip.log 2>&1 || { tail -40 build/fuzz/roundtrip.log; rm -rf "$corpus"; return 1; }
  rm -rf "$corpus"
  tail -1 build/fuzz/roundtrip.log
}
fuzz_round_trip || status=1

[ $status -eq 0 ] && echo "== all tests passed" || echo "== some tests FAILED"
exit $status
