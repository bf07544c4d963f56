# Checksums and digests (the same bytes as checksum.kez): CRC-32 and
# Adler-32 of 100 MB, SHA-256 of 100 MB, a million HMAC-SHA256 of 64-byte
# messages (hmac.digest, the one-shot form).
import hashlib, hmac, time, zlib

chunk = bytearray()
x = 1
for _ in range(1048576):
    x = (x * 75 + 74) % 65537
    chunk.append(x % 256)
chunk = bytes(chunk)
data = chunk * 100
gb = len(data) / 1e9
def s32(v):
    return v - (1 << 32) if v >= 1 << 31 else v
t = time.perf_counter()
for _ in range(5):
    crc = zlib.crc32(data)
crc_s = (time.perf_counter() - t) / 5
t = time.perf_counter()
for _ in range(5):
    adler = zlib.adler32(data)
adler_s = (time.perf_counter() - t) / 5
t = time.perf_counter()
sha = hashlib.sha256(data).hexdigest().upper()
sha_s = time.perf_counter() - t
message, key = chunk[:64], chunk[100:132]
t = time.perf_counter()
for _ in range(1000000):
    mac = hmac.digest(key, message, "sha256")
hmac_s = time.perf_counter() - t
print("crc32", s32(crc), f"{gb / crc_s:.2f}", "GB/s")
print("adler32", s32(adler), f"{gb / adler_s:.2f}", "GB/s")
print("sha256", sha[:16], f"{gb * 1000 / sha_s:.1f}", "MB/s")
print(f"hmac-sha256 x 1000000: {hmac_s:.2f} s, {hmac_s:.3f} us each", mac.hex().upper()[:16])
