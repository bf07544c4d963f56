# fib 20 under the interpreter's own hooks, as slowdowns over the plain run:
# cProfile, and a sys.settrace tracer that formats every event it receives.
import cProfile, io, pstats, sys, time

def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)

def best(f):
    t = []
    for _ in range(3):
        s = time.perf_counter()
        f()
        t.append(time.perf_counter() - s)
    return min(t)

plain = best(lambda: fib(20))
print(f"fib 20 untraced: {plain * 1000:.1f} ms")

def ratio(label, f):
    print(f"{label:<30} x {best(f) / plain:.1f}")

def empty(frame, event, arg):
    return empty

def run_with(tracer):
    sys.settrace(tracer)
    try:
        fib(20)
    finally:
        sys.settrace(None)

lines = []
def formatting(frame, event, arg):
    lines.append(f"{event.upper()} {frame.f_lineno} {frame.f_code.co_name} {arg!r:.30}")
    if len(lines) > 1000:
        lines.clear()
    return formatting

def profiled():
    p = cProfile.Profile()
    p.runcall(fib, 20)
    pstats.Stats(p, stream=io.StringIO()).sort_stats("ncalls").print_stats()

ratio("settrace, empty tracer", lambda: run_with(empty))
ratio("cProfile", profiled)
ratio("settrace, formatting events", lambda: run_with(formatting))
