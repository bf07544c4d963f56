#!/usr/bin/env bash
# Times each benchmark of bench/ with kez beside its Python 3 and Lua 5.4
# peers (same name, .py and .lua) and prints the ratios of the fastest runs.
# C++ micro-benchmarks (bench/*.cpp) are built and run as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
filter=${1:-}
kez=build/release/kez
# The system's CPython is the peer: a python3 found first on PATH may be a
# slow wrapper that starts another interpreter.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
for src in bench/*.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
  ninja -C build/release "bench-$name" >/dev/null
  echo "== $name (C++)"
  "build/release/bench-$name"
done
# The GUI event loop in a real terminal.
if [[ -z "$filter" || "gui_loop" == *"$filter"* ]] && command -v tmux >/dev/null; then
  echo "== gui_loop (tmux)"
  python3 bench/gui_loop.py "$kez"
fi
for src in bench/*.kez; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .kez)
  [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
  cmds=("$kez $src")
  [ -f "bench/$name.py" ] && cmds+=("$python bench/$name.py")
  [ -f "bench/$name.lua" ] && cmds+=("lua5.4 bench/$name.lua")
  echo "== $name"
  # A benchmark with a NAME.server.py beside it needs that server running:
  # its first line of output is the URL the programs read (KEZ_BENCH_URL).
  server=""
  if [ -f "bench/$name.server.py" ]; then
    exec {server_out}< <(exec python3 "bench/$name.server.py")
    server=$!
    read -r KEZ_BENCH_URL <&"$server_out"
    export KEZ_BENCH_URL
  fi
  hyperfine -N --warmup 1 --runs 5 --export-json "/tmp/kez-bench-$name.json" "${cmds[@]}" \
    >/dev/null
  if [ -n "$server" ]; then
    kill "$server"
    exec {server_out}<&-
  fi
  python3 - "/tmp/kez-bench-$name.json" <<'PY'
import json, sys
# The fastest of the runs: on a shared machine the others measure the load.
results = json.load(open(sys.argv[1]))["results"]
base = results[0]["min"]
for r in results:
    print(f"  {r['command']:<40} {r['min']*1000:9.1f} ms   x{r['min']/base:6.2f} of kez")
PY
done
