#!/usr/bin/env python3
"""JSON against its peers: the public parsing corpus and Python's json module.

1. Corpus: every file of ../shared/corpora/json-parsing/test_parsing (beside
   the repository) is decoded through the json codec from its bytes, one
   `kez` process a file. `y_` files must load (no raised error, no error!
   value), `n_` files must give an error (raised or returned), `i_` files may
   do either; no file may crash or run past the time limit. Skipped, with a
   message, when the corpus is absent.
2. Python -> Kez: random documents written by `json.dumps` (with and
   without ensure_ascii, compact and indented) and by a writer of our own
   that spells numbers and blanks in every way JSON allows, loaded with
   `load-json` (or the codec, from a binary) and dumped by a small Kez
   function in a form that needs no escaping (strings as code points,
   floats as their bits), compared with what Python's own reader makes of
   the same text.
3. Kez -> Python: what `to-json` (plain, /pretty and /ascii) writes of the
   loaded values parses in Python to values equal to the originals.

Usage: json_peer.py KEZ [SEED]
"""
import concurrent.futures, json, math, os, random, struct, subprocess, sys, tempfile

TIMEOUT = 60
DOCS = 150

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.normpath(os.path.join(HERE, "..", "..", "..", "shared", "corpora",
                                       "json-parsing", "test_parsing"))

VERDICT = """Kez []
r: try [load/as read/binary to-kez-file first system/options/args 'json]
print either error? :r ["rejected"]["accepted"]
"""


def check_corpus(kez, work):
    if not os.path.isdir(CORPUS):
        print(f"json corpus: skipped ({CORPUS} is absent)")
        return 0
    script = os.path.join(work, "verdict.kez")
    with open(script, "w") as f:
        f.write(VERDICT)

    def run(name):
        try:
            p = subprocess.run([kez, script, os.path.join(CORPUS, name)], capture_output=True,
                               timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            return name, f"timed out after {TIMEOUT}s"
        out = p.stdout.decode("utf-8", "replace").strip()
        if p.returncode != 0 or out not in ("accepted", "rejected"):
            err = p.stderr.decode("utf-8", "replace").strip()[-300:]
            return name, f"status {p.returncode}, output {out!r} {err}"
        if name.startswith("y_") and out != "accepted":
            return name, "rejected, must be accepted"
        if name.startswith("n_") and out != "rejected":
            return name, "accepted, must be rejected"
        return name, None

    names = sorted(n for n in os.listdir(CORPUS) if n.endswith(".json"))
    failures = 0
    with concurrent.futures.ThreadPoolExecutor(max(2, os.cpu_count() or 2)) as pool:
        for name, problem in pool.map(run, names):
            if problem:
                failures += 1
                print(f"FAIL json corpus {name}: {problem}")
    print(f"json corpus: {len(names) - failures} of {len(names)} files as required")
    return failures


# --- Random documents -------------------------------------------------------

KEYS = ["name", "first name", "1st", "-1", ".5", "+1", "-", "a-b", "été", "x\u0000y", "",
        "true", "none", "a'b", "ok?", "_x", "π", "key/sub", "a:b", "\U0001F600"]
PIECES = ["a", "Z", " ", "\"", "\\", "/", "\b", "\f", "\n", "\r", "\t", "\u0000", "\u001f",
          "\u007f", "é", "\u00a0", "\u0100", "\u2028", "\u20ac", "\uffff", "\U0001F600",
          "\U0010FFFF", "^", "{", "]", ",", ":", "ab cd"]


def rand_string(rng):
    return "".join(rng.choice(PIECES) for _ in range(rng.randrange(0, 8)))


def rand_number(rng):
    kind = rng.randrange(9)
    if kind == 0:
        return rng.randrange(-1000, 1000)
    if kind == 1:
        return rng.choice([2**31 - 1, -2**31, 2**31, -2**31 - 1, 0])
    if kind == 2:
        return rng.randrange(-2**70, 2**70)
    if kind == 3:
        return rng.uniform(-1e6, 1e6)
    if kind == 4:
        return rng.choice([0.0, -0.0, 1.0, -2.5, 0.1, 1e-7, 1e22, 1e300, 5e-324,
                           1.7976931348623157e308, 2.2250738585072014e-308])
    if kind == 5:
        return math.ldexp(rng.random(), rng.randrange(-1070, 1020)) * rng.choice([1, -1])
    if kind == 6:
        return float(rng.randrange(-10**6, 10**6))
    if kind == 7:
        return struct.unpack("<d", struct.pack("<Q", rng.getrandbits(62)))[0]
    return rng.randrange(0, 10) / 8


def rand_value(rng, depth=0):
    kind = rng.randrange(9 if depth < 4 else 6)
    if kind == 0:
        return rng.choice([None, True, False])
    if kind in (1, 2):
        return rand_number(rng)
    if kind in (3, 4, 5):
        return rand_string(rng)
    if kind in (6, 7):
        return [rand_value(rng, depth + 1) for _ in range(rng.randrange(0, 6))]
    obj = {}
    for _ in range(rng.randrange(0, 6)):
        obj[rng.choice(KEYS) if rng.random() < 0.6 else rand_string(rng)] = \
            rand_value(rng, depth + 1)
    return obj


def spelled(rng, v):
    """JSON text of v with every spelling that the grammar allows."""
    ws = lambda: rng.choice(["", "", " ", "\n", "\t", "\r\n  "])
    if isinstance(v, bool) or v is None:
        return json.dumps(v)
    if isinstance(v, int):
        return str(v) if v or rng.random() < 0.5 else "-0"
    if isinstance(v, float):
        text = repr(v)
        if "e" in text and rng.random() < 0.5:
            text = text.replace("e", rng.choice(["E", "e"]))
        elif "e" not in text and rng.random() < 0.5:
            m, _, f = text.partition(".")
            sign, m = ("-", m[1:]) if m.startswith("-") else ("", m)
            digits = (m + f).lstrip("0") or "0"
            text = sign + (f"{digits}E-{len(f)}" if rng.random() < 0.5 else f"{m}.{f}e+0")
        return text
    if isinstance(v, str):
        out = []
        for c in v:
            r = rng.random()
            if c in "\"\\" or c < " ":
                out.append(json.dumps(c)[1:-1] if r < 0.7 else f"\\u{ord(c):04x}")
            elif r < 0.15 and ord(c) <= 0xFFFF:
                out.append(f"\\u{ord(c):04X}")
            elif r < 0.15:
                n = ord(c) - 0x10000
                out.append(f"\\u{0xD800 + (n >> 10):04x}\\u{0xDC00 + (n & 1023):04X}")
            elif c == "/" and r < 0.5:
                out.append("\\/")
            else:
                out.append(c)
        return '"' + "".join(out) + '"'
    if isinstance(v, list):
        return "[" + ws() + ",".join(ws() + spelled(rng, x) + ws() for x in v) + ws() + "]"
    return "{" + ws() + ",".join(ws() + spelled(rng, k) + ws() + ":" + ws() + spelled(rng, x)
                               + ws() for k, x in v.items()) + ws() + "}"


# --- Comparable forms ---------------------------------------------------------

def canonical(v):
    """A Python value as Kez holds it: integers beyond 32 bits become floats."""
    if v is None or isinstance(v, bool):
        return v
    if isinstance(v, int):
        return ("i", v) if -2**31 <= v < 2**31 else ("d", float(v))
    if isinstance(v, float):
        return ("d", v)
    if isinstance(v, str):
        return ("s", v)
    if isinstance(v, list):
        return ("a", [canonical(x) for x in v])
    return ("m", [(k, canonical(x)) for k, x in v.items()])


def from_dump(d):
    """The dump that the Kez side prints, in the same comparable form."""
    if d is None or isinstance(d, bool):
        return d
    if isinstance(d, list):
        return ("a", [from_dump(x) for x in d])
    (tag, x), = d.items()
    if tag == "i":
        return ("i", x)
    if tag == "d":
        return ("d", struct.unpack(">d", bytes.fromhex(x))[0])
    if tag in ("s", "w"):
        return ("s", "".join(map(chr, x)))
    if tag == "m":
        return ("m", [(from_dump(k)[1], from_dump(v)) for k, v in x])
    return ("?", x)


DRIVER = r"""Kez []
codes: func [s /local out][
	out: copy "["
	foreach c s [append out to integer! c append out #","]
	if #"," = last out [take/last out]
	append out "]"
]
dump: func [v /local out][
	switch/default type?/word :v [
		none! ["null"]
		logic! [either v ["true"]["false"]]
		integer! [rejoin ["{^"i^":" v "}"]]
		float! [rejoin ["{^"d^":^"" enbase/base to binary! v 16 "^"}"]]
		string! [rejoin ["{^"s^":" codes v "}"]]
		word! [rejoin ["{^"w^":" codes form v "}"]]
		block! [
			out: copy "["
			foreach x v [append out dump :x append out #","]
			if #"," = last out [take/last out]
			append out "]"
		]
		map! [
			out: copy "{^"m^":["
			foreach k keys-of v [
				append out rejoin ["[" dump k "," dump select/case v k "],"]
			]
			if #"," = last out [take/last out]
			append out "]}"
		]
	][rejoin ["{^"?^":^"" type?/word :v "^"}"]]
]
foreach name load %list.txt [
	v: either #"b" = last name [
		load/as read/binary to-kez-file name 'json
	][
		load-json read to-kez-file name
	]
	print dump :v
	if error? :v [continue]
	write to-kez-file rejoin [name ".plain"] to-json :v
	write to-kez-file rejoin [name ".pretty"] to-json/pretty :v "  "
	write to-kez-file rejoin [name ".ascii"] to-json/ascii :v
]
"""


def check_peer(kez, work, seed):
    rng = random.Random(seed)
    docs, names = [], []
    for i in range(DOCS):
        doc = rand_value(rng)
        variant = i % 5
        if variant == 0:
            text = json.dumps(doc)
        elif variant == 1:
            text = json.dumps(doc, ensure_ascii=False)
        elif variant == 2:
            text = json.dumps(doc, ensure_ascii=False, indent=rng.choice([1, 4, "\t"]))
        else:
            text = spelled(rng, doc)
        expected = json.loads(text)
        # Binary inputs (through the codec) end in "b", text inputs in "t".
        name = os.path.join(work, f"doc{i}.json" + ("b" if i % 2 else "t"))
        with open(name, "w", encoding="utf-8") as f:
            f.write(text)
        docs.append((text, expected))
        names.append(name)
    with open(os.path.join(work, "list.txt"), "w", encoding="utf-8") as f:
        f.write(" ".join(json.dumps(n) for n in names))
    with open(os.path.join(work, "driver.kez"), "w", encoding="utf-8") as f:
        f.write(DRIVER)
    p = subprocess.run([kez, "driver.kez"], cwd=work, capture_output=True, timeout=600)
    lines = p.stdout.decode("utf-8", "replace").splitlines()
    if p.returncode != 0 or len(lines) != len(docs):
        print(f"FAIL json peer (seed {seed}): status {p.returncode}, {len(lines)} lines")
        print(p.stdout.decode("utf-8", "replace")[-1000:], p.stderr.decode("utf-8", "replace"))
        return 1
    failures = 0
    for (text, expected), name, line in zip(docs, names, lines):
        want = canonical(expected)
        got = from_dump(json.loads(line))
        if got != want:
            failures += 1
            print(f"FAIL json peer (seed {seed}) load-json of {text[:200]!r}:\n  got  {got}"
                  f"\n  want {want}")
            continue
        for kind in ("plain", "pretty", "ascii"):
            with open(f"{name}.{kind}", encoding="utf-8") as f:
                out = f.read()
            try:
                back = canonical(json.loads(out))
            except ValueError as e:
                back = f"unreadable: {e}"
            if back != want or (kind == "ascii" and not out.isascii()):
                failures += 1
                print(f"FAIL json peer (seed {seed}) to-json/{kind} of {text[:200]!r}:\n"
                      f"  wrote {out[:300]!r}")
    print(f"json peer: {len(docs) - failures} of {len(docs)} documents both ways (seed {seed})")
    return failures


def main():
    kez = os.path.abspath(sys.argv[1])
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else random.randrange(1 << 30)
    with tempfile.TemporaryDirectory(prefix="kez-json-") as work:
        failures = check_corpus(kez, work) + check_peer(kez, work, seed)
    sys.exit(1 if failures else 0)


main()
