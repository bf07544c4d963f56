# Compression and decompression of 100 MB each of text, binary records and
# random bytes with zlib at levels 1 and 6 (the same bytes as compress.kez).
import struct, time, zlib

words = ["the", "of", "and", "to", "in", "is", "was", "that", "for", "on", "as", "with", "by", "at",
         "from", "value", "block", "word", "series", "string", "binary", "compress", "checksum",
         "digest", "a", "an", "program", "data", "language", "function", "return", "loop", "each",
         "while", "object", "context"]
x = 1
text = bytearray()
while len(text) < 1048576:
    x = (x * 75 + 74) % 65537
    text += words[x % len(words)].encode() + b" "
text = bytes(text[:1048576])
records = b"".join(struct.pack(">iid", i, i * 7 % 1000, i / 3.0) for i in range(1, 65537))
noise = bytearray()
x = 1
for _ in range(1048576):
    x = (x * 75 + 74) % 65537
    noise.append(x % 256)

for name, chunk in (("text", text), ("binary", records), ("random", bytes(noise))):
    data = chunk * 100
    crc = zlib.crc32(data)
    crc = crc - (1 << 32) if crc >= 1 << 31 else crc
    line = f"{name:<7} crc32 {crc:<11}"
    for level in (1, 6):
        t = time.perf_counter()
        packed = zlib.compress(data, level)
        c = time.perf_counter() - t
        t = time.perf_counter()
        back = zlib.decompress(packed)
        d = time.perf_counter() - t
        line += (f" level {level}: compress {104.8576 / c:6.1f} MB/s ratio {len(packed) / len(data):.3f}"
                 f" decompress {104.8576 / d:6.1f} MB/s {str(back == data).lower()}")
    print(line)
