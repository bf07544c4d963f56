#!/usr/bin/env python3
"""Interchange tests against real peers: Python's zlib, hashlib and hmac, and
the `gzip` command.

A corpus of text, binary, random and empty data (made here, the same on
every run) goes both ways:
  - Kez compresses each file in the three framings; Python's zlib and
    `gzip -d` must give the data back;
  - Kez decompresses what zlib makes at every level (stored, fixed and
    dynamic blocks, raw and framed) and what `gzip` makes (-1, -6, -9, with
    and without a file name in the header);
  - Kez's CRC-32, Adler-32, digests and HMACs (keys of many lengths, around
    the block sizes) must equal Python's.
Usage: compression_peer.py KEZ
"""
import gzip, hashlib, hmac, os, random, shutil, struct, subprocess, sys, tempfile, zlib

DIGESTS = ["md5", "sha1", "sha256", "sha384", "sha512"]
KEY_LENGTHS = [0, 1, 20, 63, 64, 65, 127, 128, 129, 131, 300]


def corpus():
    r = random.Random(20240611)
    words = ("the of and to in is was that for on as with by at from value block word "
             "series string binary compress checksum deflate inflate digest").split()
    text = " ".join(r.choice(words) for _ in range(60000)).encode()
    records = b"".join(struct.pack("<IHhd", i, i % 977, -i % 300, i / 7.0) for i in range(20000))
    window = r.randbytes(40000)
    return {
        "empty": b"",
        "one": b"k",
        "text": text,
        "utf8": ("naïve façade 中文 — " * 3000).encode(),
        "records": records,
        "random": r.randbytes(200000),
        "runs": b"a" * 70000 + b"b" * 300 + bytes(1000) + b"ab" * 5000,
        "far": window + window,  # matches near the window's far end
        "gzip-looking": b"\x1f\x8b\x08" + r.randbytes(100),
        "short-gzip": b"\x1f\x8b\x08\x00",
    }


def peer_streams(name, data, folder):
    """Files that peers made from `data`: (file, method)."""
    made = []
    def put(suffix, blob, method):
        path = os.path.join(folder, f"{name}.{suffix}")
        with open(path, "wb") as f:
            f.write(blob)
        made.append((f"{name}.{suffix}", method))
    for level in range(10):
        put(f"z{level}", zlib.compress(data, level), "zlib")
    for level, strategy in ((0, zlib.Z_DEFAULT_STRATEGY), (1, zlib.Z_DEFAULT_STRATEGY),
                            (6, zlib.Z_FIXED), (9, zlib.Z_DEFAULT_STRATEGY),
                            (6, zlib.Z_HUFFMAN_ONLY), (6, zlib.Z_RLE)):
        c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
        put(f"raw{level}-{strategy}", c.compress(data) + c.flush(), "deflate")
    # Many small blocks: a full flush every 1000 bytes.
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    blob = b"".join(c.compress(data[i:i + 1000]) + c.flush(zlib.Z_FULL_FLUSH)
                    for i in range(0, len(data), 1000))
    put("rawflushed", blob + c.flush(), "deflate")
    src = os.path.join(folder, name)
    for flags in (["-1"], ["-6"], ["-9"], ["-9", "-n"]):
        out = subprocess.run(["gzip", "-c", *flags, src], capture_output=True, check=True).stdout
        put("gz" + "".join(flags), out, "gzip")
    put("pygz", gzip.compress(data, mtime=0), "gzip")
    return made


def main():
    kez = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="kez-interop-")
    passed = failed = 0

    def check(ok, what):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1
            print("FAIL", what)

    try:
        data = corpus()
        r = random.Random(7)
        keys = [r.randbytes(n) for n in KEY_LENGTHS]
        streams = []
        for name, blob in data.items():
            with open(os.path.join(work, name), "wb") as f:
                f.write(blob)
            streams += peer_streams(name, blob, work)
        for i, k in enumerate(keys):
            with open(os.path.join(work, f"key{i}"), "wb") as f:
                f.write(k)
        names = " ".join(f"%{n}" for n in data)
        script = f"""Kez []
hex: func [b] [enbase/base b 16]
keys: collect [repeat i {len(keys)} [keep read/binary to-file rejoin ["key" i - 1]]]
foreach f [{names}] [
	d: read/binary f
	foreach [m s] [zlib ".kz" deflate ".kd" gzip ".kg"] [
		write/binary to-file rejoin [f s] compress d m
	]
	print [f "crc32" checksum d 'crc32]
	print [f "adler32" checksum d 'adler32]
	foreach m [{" ".join(DIGESTS)}] [
		print [f m hex checksum d m]
		foreach k keys [print [f m length? k hex checksum/with d m k]]
	]
]
foreach [f m] [{" ".join(f"%{f} {m}" for f, m in streams)}] [
	print [f either error? got: try [decompress read/binary f m] ["error"] [hex checksum got 'sha256]]
]
"""
        with open(os.path.join(work, "interop.kez"), "w") as f:
            f.write(script)
        p = subprocess.run([kez, "interop.kez"], cwd=work, capture_output=True, timeout=600)
        lines = p.stdout.decode().splitlines()
        check(p.returncode == 0, f"kez exited {p.returncode}: {p.stderr.decode()[-2000:]}")
        got = {}
        for line in lines:
            parts = line.split()
            got[tuple(parts[:-1])] = parts[-1]

        for name, blob in data.items():
            def read(suffix):
                with open(os.path.join(work, name + suffix), "rb") as f:
                    return f.read()
            check(zlib.decompress(read(".kz")) == blob, f"zlib of {name}")
            check(zlib.decompress(read(".kd"), -15) == blob, f"raw deflate of {name}")
            check(gzip.decompress(read(".kg")) == blob, f"gzip of {name} (Python)")
            tool = subprocess.run(["gzip", "-dc", os.path.join(work, name + ".kg")],
                                  capture_output=True)
            check(tool.returncode == 0 and tool.stdout == blob, f"gzip -d of {name}")
            check(got.get((name, "crc32")) == str(to_int32(zlib.crc32(blob))), f"crc32 of {name}")
            check(got.get((name, "adler32")) == str(to_int32(zlib.adler32(blob))),
                  f"adler32 of {name}")
            for m in DIGESTS:
                check(got.get((name, m)) == hashlib.new(m, blob).hexdigest().upper(), f"{m} of {name}")
                for k in keys:
                    want = hmac.new(k, blob, m).hexdigest().upper()
                    check(got.get((name, m, str(len(k)))) == want,
                          f"hmac {m} of {name} with a key of {len(k)}")
        for f, m in streams:
            name = f.rsplit(".", 1)[0]
            want = hashlib.sha256(data[name]).hexdigest().upper()
            check(got.get((f,)) == want, f"decompress {f} ({m}): {got.get((f,))}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


def to_int32(v):
    return v - (1 << 32) if v >= 1 << 31 else v


main()
