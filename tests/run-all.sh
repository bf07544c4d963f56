#!/usr/bin/env bash
# Runs every test: unit tests and script tests on the release build, then both
# again on the sanitizer build, the script tests also under relocation stress.
set -uo pipefail
cd "$(dirname "$0")/.."
stress=${1:-97}
status=0
step() { echo "== $*"; }

step "unit tests (release)"
./build/release/kez-unit --gtest_brief=1 || status=1
step "script tests (release)"
python3 tests/run-scripts.py build/release/kez || status=1
step "terminal tests (release, tmux)"
python3 tests/run-tty.py build/release/kez || status=1

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "unit tests (sanitizers)"
./build/asan/kez-unit --gtest_brief=1 || status=1
step "script tests (sanitizers)"
python3 tests/run-scripts.py build/asan/kez || status=1
step "terminal tests (sanitizers, tmux)"
python3 tests/run-tty.py build/asan/kez || status=1
step "script tests (sanitizers, KEZ_GC_STRESS=$stress)"
KEZ_GC_STRESS=$stress python3 tests/run-scripts.py build/asan/kez || status=1
step "fuzzing transcode for 20 s and the mold/load round trip for 10 s (clang, sanitizers)"
fuzz() {
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DKEZ_SANITIZE=ON -DKEZ_FUZZ=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null || return 1
  ninja -C build/fuzz transcode_fuzz roundtrip_fuzz >build/fuzz/build.log 2>&1 ||
    { cat build/fuzz/build.log; return 1; }
  local target seconds seeds corpus
  for run in transcode_fuzz:20: roundtrip_fuzz:10:tests/fuzz/roundtrip-seeds; do
    IFS=: read -r target seconds seeds <<<"$run"
    corpus=$(mktemp -d)
    ./build/fuzz/$target -max_total_time=$seconds -timeout=5 -max_len=4096 \
      -dict=tests/fuzz/transcode.dict -artifact_prefix=build/fuzz/ "$corpus" src/boot $seeds \
      >build/fuzz/$target.log 2>&1 || { tail -40 build/fuzz/$target.log; rm -rf "$corpus"; return 1; }
    rm -rf "$corpus"
    echo "$target: $(tail -1 build/fuzz/$target.log)"
  done
}
fuzz || status=1

[ $status -eq 0 ] && echo "== all tests passed" || echo "== some tests FAILED"
exit $status
