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

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "unit tests (sanitizers)"
./build/asan/kez-unit --gtest_brief=1 || status=1
step "script tests (sanitizers)"
python3 tests/run-scripts.py build/asan/kez || status=1
step "script tests (sanitizers, KEZ_GC_STRESS=$stress)"
KEZ_GC_STRESS=$stress python3 tests/run-scripts.py build/asan/kez || status=1

[ $status -eq 0 ] && echo "== all tests passed" || echo "== some tests FAILED"
exit $status
