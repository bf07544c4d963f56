#!/usr/bin/env python3
"""Writes seed inputs for the decompression fuzz targets: small streams of
every block kind (stored, fixed, dynamic) in the three framings, and gzip
members with every header field. Usage: deflate_seeds.py INFLATE ZLIB GZIP
(three directories, made when missing)."""
import gzip, os, struct, sys, zlib

texts = [b"", b"a", b"abcabcabcabc" * 3, bytes(range(256)),
         b"the seeds of a fuzzer: text that repeats, text that repeats " * 4]
raw, framed = [], []
for t in texts:
    for level in (0, 1, 9):
        c = zlib.compressobj(level, zlib.DEFLATED, -15)
        raw.append(c.compress(t) + c.flush())
        framed.append(zlib.compress(t, level))
members = [gzip.compress(t, mtime=0) for t in texts]
# A member with FEXTRA, FNAME, FCOMMENT and FHCRC.
header = b"\x1f\x8b\x08\x1e" + bytes(6) + struct.pack("<H", 3) + b"xyz" + b"name\0note\0"
header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
members.append(header + raw[-1] + struct.pack("<II", zlib.crc32(texts[-1]), len(texts[-1])))
for folder, seeds in zip(sys.argv[1:4], (raw, framed, members)):
    os.makedirs(folder, exist_ok=True)
    for i, s in enumerate(seeds):
        with open(os.path.join(folder, f"seed{i:02}"), "wb") as f:
            f.write(s)
