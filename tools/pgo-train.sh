#!/usr/bin/env bash
# The training run of the profile-guided release build: runs the
# instrumented kez of build/profile (KEZ_PROFILE_GENERATE=BUILD_DIR/counts)
# over a training set, and keeps the counts it wrote, which the release
# build compiles with (KEZ_PROFILE_USE=BUILD_DIR/trained).
#   tools/pgo-train.sh BUILD_DIR
#
# The training set is each kind of evaluation step on its own
# (tools/pgo-train.kez), then the benchmarks that exercise the evaluator and
# the everyday natives (calls, loops, words, blocks, strings, maps, parsing,
# the text codecs, the collector), each scaled down a hundredfold so that
# the whole run takes a few seconds. Their work is fixed, so the counts are the
# same at every run. Code none of them runs keeps the optimisation it would
# have without counts (-fprofile-partial-training), so the set leaves out
# what only a few programs use rather than run it a handful of times, which
# would mark it cold. A training program that fails stops the build: its
# counts would no longer train what they should.
#
# The counts move out of BUILD_DIR/counts once written, so that the programs
# the instrumented build runs itself (the boot pool's packer) add none to
# them. A run whose instrumented kez and training set are older than the
# kept counts is skipped, so that a build with nothing to do stays quick.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."
dir=$1
kez=$dir/kez
counts=$dir/counts
trained=$dir/trained
stamp=$trained/stamp
programs=(fib loop while_loop repeat_loop return_loop integer_sum money_math pair_math tuple_math
  block_append block_find block_sort block_unique foreach_block forall_block reduce_compose
  map_integer map_string string_append string_find string_sort binary_append print_lines
  parse csv_codec json_codec kezbin_codec base64_codec decode_url event_dispatch gc_churn
  gc_pause startup)

if [ -e "$stamp" ] && [ "$stamp" -nt "$kez" ] && [ "$stamp" -nt "$self" ]; then
  stale=0
  for file in tools/pgo-train.kez "${programs[@]/#/bench/}"; do
    [ "${file%.kez}.kez" -nt "$stamp" ] && stale=1
  done
  [ $stale -eq 0 ] && exit 0
fi

echo "Training the profile-guided build"
rm -rf "$counts"
mkdir -p "$counts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tools/pgo-train.kez "$work/steps.kez"
for name in steps "${programs[@]}"; do
  # Every literal of five digits or more that ends in 00 loses those zeros.
  [ -e "$work/$name.kez" ] || sed -E 's/\b([0-9]{3,})00\b/\1/g' "bench/$name.kez" >"$work/$name.kez"
  if ! "$kez" "$work/$name.kez" >"$work/$name.out" 2>&1; then
    echo "pgo-train: $name.kez failed under the instrumented build:" >&2
    tail -5 "$work/$name.out" >&2
    exit 1
  fi
done
rm -rf "$trained"
mv "$counts" "$trained"
touch "$stamp"
