#!/usr/bin/env python3
"""Instruction counts of the evaluator's hot paths, from callgrind.

Each row runs a small Kez program at two problem sizes and divides the
difference in instructions by the difference in units (calls or loop
iterations), so start-up cancels. A "step" row also subtracts the cost of
one iteration of an empty `loop`, leaving the cost of the expression alone.
Counts are exact and stable, unlike times on a shared machine.

Usage: bench/icount.py [KEZ] [FILTER]
"""
import os, re, subprocess, sys, tempfile

KEZ = sys.argv[1] if len(sys.argv) > 1 else "build/release/kez"
FILTER = sys.argv[2] if len(sys.argv) > 2 else ""


def fib_calls(n):
    a, b = 1, 1  # calls of fib 0 and fib 1
    for _ in range(n - 1):
        a, b = b, a + b + 1
    return b if n > 0 else 1


# name, program (with {N}), sizes, units(N), subtract empty-loop iteration
ROWS = [
    ("one fib call (whole body)",
     "fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]] fib {N}",
     (12, 15), fib_calls, False),
    ("f 1 with f: func [x] [x]", "f: func [x] [x] loop {N} [f 1]", (20000, 40000), int, True),
    ("word fetch n", "n: 5 loop {N} [n]", (20000, 40000), int, True),
    ("n < 2", "n: 5 loop {N} [n < 2]", (20000, 40000), int, True),
    ("n and 255 (infix)", "n: 5 loop {N} [n and 255]", (20000, 40000), int, True),
    ("add n 1", "n: 5 loop {N} [add n 1]", (20000, 40000), int, True),
    ("either true [1] [2]", "loop {N} [either true [1] [2]]", (20000, 40000), int, True),
    ("one iteration of bench/loop", None, (20000, 40000), int, False),
    ("one iteration of bench/while_loop", "i: 0 while [i < {N}] [i: i + 1]", (20000, 40000), int,
     False),
    ("one iteration of bench/return_loop",
     "f: func [] [loop 10 [return 1] 0] s: 0 loop {N} [s: s + f]", (20000, 40000), int, False),
]


def loop_program():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "loop.kez")) as f:
        text = f.read()
    return text.replace("10000000", "{N}")


def count(program):
    with tempfile.NamedTemporaryFile("w", suffix=".kez", delete=False) as f:
        f.write("Kez []\n" + program + "\n")
        path = f.name
    try:
        r = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", KEZ,
                            path], capture_output=True, text=True)
    finally:
        os.unlink(path)
    m = re.search(r"Collected : (\d+)", r.stderr)
    if not m or r.returncode != 0:
        sys.exit(f"callgrind failed on: {program}\n{r.stdout}\n{r.stderr}")
    return int(m.group(1))


def per_unit(program, sizes, units):
    a, b = sizes
    return (count(program.replace("{N}", str(b))) - count(program.replace("{N}", str(a)))) / (
        units(b) - units(a))


empty = None
for name, program, sizes, units, step in ROWS:
    if FILTER and FILTER not in name:
        continue
    if program is None:
        program = loop_program()
    cost = per_unit(program, sizes, units)
    if step:
        if empty is None:
            empty = per_unit("loop {N} []", (20000, 40000), int)
        cost -= empty
    print(f"{name:<40} {cost:10.0f}")
