#!/usr/bin/env python3
"""Image files against a real peer, the Python image library (PIL).

Reading: a corpus made at test time, by PIL where it can write the variant
and by tests/image_writer.py for the rest, is loaded by `kez`; every file's
pixels must equal PIL's RGBA reading of it (JPEG: within a mean error).
Writing: `kez` saves test patterns in every format; PIL must open each file
with the same pixels: exactly for PNG, BMP and TIFF, and for GIF of at most
256 colours; within a mean error for JPEG and for GIF of more colours.

Usage: image_peer.py KEZ
Skips (status 0, with a message) when PIL is not installed.
"""
import os
import shutil
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:
    # The Debian package serves the system's python3, which another python3
    # first on the PATH may not see.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    print("skipped: the Python image library (python3-pil) is not installed")
    sys.exit(0)

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import image_writer as iw  # noqa: E402

W, H = 37, 21  # odd sizes: rows of packed bits and BMP rows end mid-byte


def rgb(x, y):
    return ((x * 7 + y * 3) % 256, (x * 3 + y * 11) % 256, (x * 5 + y * 7 + 40) % 256)


def alpha(x, y):
    return (x * 13 + y * 17) % 256


def grey(x, y):
    return (x * 9 + y * 5) % 256


PALETTE = [((i * 37) % 256, (i * 91) % 256, (i * 53 + 7) % 256) for i in range(256)]


def index(n):
    return lambda x, y: (x * 3 + y) % n


def pil(mode, **save):
    """A PIL writer of the test picture in a mode."""
    def write(path):
        if mode.startswith("P"):
            n = int(mode[1:])
            im = Image.new("P", (W, H))
            im.putpalette([c for rgb_ in PALETTE[:n] for c in rgb_])
            im.putdata([index(n)(x, y) for y in range(H) for x in range(W)])
        else:
            im = Image.new(mode, (W, H))
            data = {
                "RGB": lambda x, y: rgb(x, y),
                "RGBA": lambda x, y: rgb(x, y) + (alpha(x, y),),
                "L": grey,
                "LA": lambda x, y: (grey(x, y), alpha(x, y)),
                "1": lambda x, y: 255 if (x + y) % 3 == 0 else 0,
                "I;16": lambda x, y: (x * 1500 + y * 700) % 65536,
            }[mode]
            im.putdata([data(x, y) for y in range(H) for x in range(W)])
        im.save(path, **save)
    return write


def own(writer, *args, **kw):
    return lambda path: writer(path, *args, **kw)


def scaled(depth):
    top = (1 << depth) - 1
    return lambda x, y: ((x * 5 + y * 3) % (top + 1),)


def rgb16(x, y):
    return tuple(c * 256 + (x + y) % 256 for c in rgb(x, y))


CORPUS = [
    # PNG: every colour type and bit depth
    ("grey1.png", pil("1")),
    ("grey2.png", own(iw.png, W, H, 0, 2, scaled(2))),
    ("grey4.png", own(iw.png, W, H, 0, 4, scaled(4))),
    ("grey8.png", pil("L")),
    ("grey16.png", pil("I;16")),
    ("grey8-trns.png", own(iw.png, W, H, 0, 8, lambda x, y: (grey(x, y),), trns=b"\0\x2d")),
    ("greyalpha8.png", pil("LA")),
    ("greyalpha16.png", own(iw.png, W, H, 4, 16,
                            lambda x, y: (grey(x, y) * 256 + 1, alpha(x, y) * 256 + 3))),
    ("palette1.png", pil("P2", bits=1)),
    ("palette2.png", pil("P4", bits=2)),
    ("palette4.png", pil("P16", bits=4)),
    ("palette8-trns.png", pil("P200", transparency=bytes(range(0, 200)))),
    ("rgb8.png", pil("RGB")),
    ("rgb8-trns.png", pil("RGB", transparency=rgb(1, 0))),
    ("rgb16.png", own(iw.png, W, H, 2, 16, rgb16)),
    ("rgba8.png", pil("RGBA")),
    ("rgba16.png", own(iw.png, W, H, 6, 16, lambda x, y: rgb16(x, y) + (alpha(x, y) * 256 + 255,))),
    ("interlaced-rgba8.png", own(iw.png, W, H, 6, 8, lambda x, y: rgb(x, y) + (alpha(x, y),),
                                 interlace=True)),
    ("interlaced-palette4.png", own(iw.png, W, H, 3, 4, lambda x, y: (index(16)(x, y),),
                                    palette=PALETTE[:16], trns=bytes([0, 128]), interlace=True)),
    ("interlaced-grey16.png", own(iw.png, W, H, 0, 16, lambda x, y: (grey(x, y) * 256 + x,),
                                  interlace=True)),
    ("interlaced-rgb16.png", own(iw.png, W, H, 2, 16, rgb16, interlace=True)),
    # BMP: 1 to 32 bits, both row orders
    ("bits1.bmp", pil("1")),
    ("bits1-top-down.bmp", own(iw.bmp, W, H, 1, index(2), palette=PALETTE[:2], top_down=True)),
    ("bits4.bmp", own(iw.bmp, W, H, 4, index(16), palette=PALETTE[:16])),
    ("bits4-top-down.bmp", own(iw.bmp, W, H, 4, index(12), palette=PALETTE[:12], top_down=True)),
    ("bits8.bmp", pil("P256")),
    ("bits8-grey.bmp", pil("L")),
    ("bits8-top-down.bmp", own(iw.bmp, W, H, 8, index(256), palette=PALETTE, top_down=True)),
    ("bits16-555.bmp", own(iw.bmp, W, H, 16, lambda x, y: tuple(c >> 3 for c in rgb(x, y)))),
    ("bits16-565.bmp", own(iw.bmp, W, H, 16,
                           lambda x, y: (rgb(x, y)[0] >> 3, rgb(x, y)[1] >> 2, rgb(x, y)[2] >> 3),
                           masks=(0xF800, 0x7E0, 0x1F))),
    ("bits16-top-down.bmp", own(iw.bmp, W, H, 16, lambda x, y: tuple(c >> 3 for c in rgb(x, y)),
                                top_down=True)),
    ("bits24.bmp", pil("RGB")),
    ("bits24-top-down.bmp", own(iw.bmp, W, H, 24, rgb, top_down=True)),
    ("bits32.bmp", own(iw.bmp, W, H, 32, rgb)),
    ("bits32-alpha-v5.bmp", own(iw.bmp, W, H, 32, lambda x, y: rgb(x, y) + (alpha(x, y),),
                                masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000), header=124)),
    ("bits32-alpha-top-down.bmp", own(iw.bmp, W, H, 32, lambda x, y: rgb(x, y) + (alpha(x, y),),
                                      masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000), header=124,
                                      top_down=True)),
    # GIF: 87a and 89a, transparency, interlace
    ("plain.gif", pil("P256", interlace=0)),
    ("interlaced.gif", pil("P64", interlace=1)),
    ("transparent.gif", pil("P32", transparency=5, interlace=0)),
    ("transparent-interlaced.gif", pil("P32", transparency=0, interlace=1)),
    # TIFF: both byte orders, compressions, alpha
    ("rgb.tif", pil("RGB")),
    ("rgb-lzw.tif", pil("RGB", compression="tiff_lzw")),
    ("rgb-deflate.tif", pil("RGB", compression="tiff_adobe_deflate")),
    ("rgb-packbits.tif", pil("RGB", compression="packbits")),
    ("rgba.tif", pil("RGBA")),
    ("rgba-lzw.tif", pil("RGBA", compression="tiff_lzw")),
    ("grey.tif", pil("L")),
    ("greyalpha.tif", pil("LA")),
    ("palette.tif", pil("P64")),
    ("bilevel.tif", pil("1")),
    ("big-endian-rgb.tif", own(iw.tiff_mm, W, H, 3, rgb)),
    ("big-endian-rgba.tif", own(iw.tiff_mm, W, H, 3, lambda x, y: rgb(x, y) + (alpha(x, y),),
                                alpha=True)),
    ("big-endian-grey.tif", own(iw.tiff_mm, W, H, 1, lambda x, y: (grey(x, y),))),
    # JPEG: baseline, progressive, grey
    ("baseline.jpg", pil("RGB", quality=90)),
    ("progressive.jpg", pil("RGB", quality=90, progressive=True)),
    ("grey.jpg", pil("L", quality=90)),
]

# Patterns that kez writes, with the formats and how PIL's reading must
# match: "exact" (RGBA), or "lossy": a mean error on the colour channels of
# at most LOSSY_SLACK times that of PIL's own file of the same pattern.
PW, PH = 40, 30


def pattern_alpha(x, y):
    return rgb(x, y) + (alpha(x, y),)


def pattern_palette(x, y):
    i = (x * 3 + y * 5) % 40
    return (0, 0, 0, 0) if i == 7 else PALETTE[i] + (255,)


def pattern_gradient(x, y):
    return (x * 6, y * 8, (x * y) % 256, 255)


PATTERNS = [
    ("alpha", pattern_alpha, {"png": "exact", "bmp": "exact", "tif": "exact", "jpg": "lossy"}),
    ("palette", pattern_palette, {"gif": "exact", "png": "exact", "bmp": "exact"}),
    ("gradient", pattern_gradient, {"gif": "lossy", "jpg": "lossy", "tif": "exact"}),
]
LOSSY_SLACK = 1.25
JPEG_QUALITY = 90  # what kez writes

KEZ_SCRIPT = """Kez []
foreach f read %corpus/ [
	either error? e: try [img: load rejoin [%corpus/ f]] [
		write rejoin [%read/ f %.err] form e/id
	][
		write rejoin [%read/ f %.argb] img/argb
		write rejoin [%read/ f %.size] mold img/size
	]
]
foreach [name size formats] [PATTERNS] [
	img: make image! size
	img/argb: read/binary rejoin [%patterns/ name %.raw]
	foreach ext formats [save rejoin [%written/ name "." ext] img]
]
"""


def rgba_of_bgra(data):
    out = bytearray(data)
    out[0::4], out[2::4] = data[2::4], data[0::4]
    return bytes(out)


def pil_rgba(path):
    im = Image.open(path)
    im.load()
    if im.mode in ("I", "I;16", "I;16B", "I;16L"):
        # 16-bit grey: the high byte of each sample, as 8-bit readers keep it
        return b"".join(bytes((v >> 8, v >> 8, v >> 8, 255)) for v in im.getdata()), im.size
    return im.convert("RGBA").tobytes(), im.size


def peer_error(source, ext, work):
    """The mean error of PIL's own lossy file of the pattern."""
    im = Image.frombytes("RGBA", (PW, PH), source).convert("RGB")
    path = os.path.join(work, "peer." + ext)
    im.save(path, quality=JPEG_QUALITY) if ext == "jpg" else im.save(path)
    return mean_error(pil_rgba(path)[0], source)


def mean_error(a, b, channels=(0, 1, 2)):
    total = sum(abs(a[i + c] - b[i + c]) for i in range(0, len(a), 4) for c in channels)
    return total / (len(a) // 4 * len(channels))


def first_difference(a, b, width):
    for i in range(0, min(len(a), len(b)), 4):
        if a[i:i + 4] != b[i:i + 4]:
            p = i // 4
            return f"pixel {p % width}x{p // width}: kez {tuple(a[i:i + 4])} PIL {tuple(b[i:i + 4])}"
    return "lengths differ"


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    kez = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="kez-image-peers-")
    failures, checks = [], 0
    try:
        for d in ("corpus", "read", "patterns", "written"):
            os.mkdir(os.path.join(work, d))
        for name, write in CORPUS:
            write(os.path.join(work, "corpus", name))
        entries = []
        for name, fn, formats in PATTERNS:
            data = bytearray()
            for y in range(PH):
                for x in range(PW):
                    r, g, b, a = fn(x, y)
                    data += bytes((b, g, r, a))
            with open(os.path.join(work, "patterns", name + ".raw"), "wb") as f:
                f.write(data)
            entries.append(f'%{name} {PW}x{PH} [{" ".join(formats)}]')
        with open(os.path.join(work, "peers.kez"), "w") as f:
            f.write(KEZ_SCRIPT.replace("PATTERNS", " ".join(entries)))
        run = subprocess.run([kez, "peers.kez"], cwd=work, capture_output=True, text=True,
                             timeout=300)
        if run.returncode != 0:
            print(run.stdout + run.stderr)
            print("FAIL: kez stopped")
            return 1

        for name, _ in CORPUS:
            checks += 1
            base = os.path.join(work, "read", name)
            if os.path.exists(base + ".err"):
                failures.append(f"read {name}: kez raised {open(base + '.err').read()}")
                continue
            expected, size = pil_rgba(os.path.join(work, "corpus", name))
            got_size = open(base + ".size").read().strip()
            if got_size != f"{size[0]}x{size[1]}":
                failures.append(f"read {name}: size {got_size}, PIL {size}")
                continue
            got = rgba_of_bgra(open(base + ".argb", "rb").read())
            if name.endswith(".jpg"):
                err = mean_error(got, expected)
                if err > 1.0:
                    failures.append(f"read {name}: mean error {err:.2f} against PIL")
            elif got != expected:
                failures.append(f"read {name}: {first_difference(got, expected, size[0])}")

        for name, fn, formats in PATTERNS:
            source = b"".join(bytes(fn(x, y)) for y in range(PH) for x in range(PW))
            for ext, rule in formats.items():
                checks += 1
                path = os.path.join(work, "written", f"{name}.{ext}")
                try:
                    got, size = pil_rgba(path)
                except Exception as e:  # PIL refusing the file is the failure
                    failures.append(f"write {name}.{ext}: PIL cannot open it: {e}")
                    continue
                if size != (PW, PH):
                    failures.append(f"write {name}.{ext}: PIL reads size {size}")
                elif rule == "exact":
                    if got != source:
                        failures.append(f"write {name}.{ext}: {first_difference(got, source, PW)}")
                else:
                    err, peer = mean_error(got, source), peer_error(source, ext, work)
                    if err > LOSSY_SLACK * peer + 0.5:
                        failures.append(f"write {name}.{ext}: mean error {err:.2f}, "
                                        f"PIL's own {peer:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL", f)
    print(f"{checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
