# Loading source text: the records of bench/load.cpp in Python's own
# notation, read by ast.literal_eval, in MB/s.
import ast, time

RECORDS = 270000
WORDS = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota", "kappa",
         "lambda", "mu", "nu", "xi", "omicron", "pi", "rho", "sigma", "tau", "upsilon", "phi",
         "chi", "psi", "omega"]
seed = 1

def rnd():
    global seed
    seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
    return seed >> 8

def word():
    return WORDS[rnd() % len(WORDS)]

def record(out):
    a, b, c = rnd() % 100000, rnd() % 1000, rnd() % 100
    t1 = word() + " " + word()
    w1 = word()
    d, e = rnd() % 1000, rnd() % 1000000
    w2 = word()
    t2 = word() + " " + word()
    f = rnd() % 100
    w3 = word()
    w4 = word()
    out.append(f"[{a}, {b}.{c:02d}, '{t1}', '{w1}', [{d}, {e}, '{w2}', '{t2}', [{f}, '{w3}']], '{w4}'],\n")

parts = []
for _ in range(RECORDS):
    record(parts)
source = "[" + "".join(parts) + "]"
best = None
for _ in range(3):
    start = time.perf_counter()
    value = ast.literal_eval(source)
    elapsed = time.perf_counter() - start
    best = elapsed if best is None or elapsed < best else best
mb = len(source) / (1 << 20)
print(f"  python literal_eval {mb:6.1f} MB in {best * 1000:7.1f} ms  {mb / best:7.1f} MB/s  ({len(value)} records)")
