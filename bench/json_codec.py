# Decodes a generated JSON document of 10 MB (records of numbers, strings
# with escapes and non-ASCII text, nested arrays and objects) with the json
# module, encodes the result again, and prints both rates: once with the C
# scanner and encoder, once with the pure-Python ones.
import json, json.decoder, json.encoder, json.scanner, time

parts, size, n = ["["], 1, 0
while size < 10000000:
    n += 1
    rec = (('{"id": %d, "name": "record %d", "score": %r, "ratio": -1.5e-3, "active": true, '
            '"owner": null, "tags": ["alpha", "beta", "caf\\u00e9 \\"quoted\\"\\n"], '
            '"text": "déjà vu ✓", "nested": {"x": [1, 2, 3], "y": {"z": false}}}')
           % (n, n, n * 0.25))
    parts.append(("," if n > 1 else "") + rec)
    size += len(rec) + (n > 1)
parts.append("]")
text = "".join(parts)
size = len(text.encode())


def measure(label, decode, encode):
    t = time.perf_counter()
    v = decode(text)
    print(f"{label} loads {size / 1e6 / (time.perf_counter() - t):.2f} MB/s")
    t = time.perf_counter()
    out = encode(v)
    print(f"{label} dumps {len(out.encode()) / 1e6 / (time.perf_counter() - t):.2f} MB/s")


compact = dict(ensure_ascii=False, separators=(",", ":"))
measure("C scanner  ", json.loads, lambda v: json.dumps(v, **compact))

decoder = json.JSONDecoder()
decoder.parse_string = json.decoder.py_scanstring
decoder.scan_once = json.scanner.py_make_scanner(decoder)
json.encoder.c_make_encoder = None
json.encoder.encode_basestring = json.encoder.py_encode_basestring
measure("pure Python", decoder.decode, lambda v: json.JSONEncoder(**compact).encode(v))
