# A 4000x3000 picture (a 100x100 tile of varied pixels, pasted over it)
# encoded as JPEG and the bytes decoded, three times each, all in memory.
import io

import pil  # noqa: F401
from PIL import Image

tile = Image.new("RGB", (100, 100))
tile.putdata([(n * 7 % 256, n * n % 256, (n * n + n * 31) % 256) for n in range(1, 10001)])
im = Image.new("RGB", (4000, 3000), (255, 255, 255))
for y in range(30):
    for x in range(40):
        im.paste(tile, (x * 100, y * 100))
for _ in range(3):
    buf = io.BytesIO()
    im.save(buf, "JPEG", quality=90)
jpeg = buf.getvalue()
for _ in range(3):
    j = Image.open(io.BytesIO(jpeg))
    j.load()
print(len(jpeg), j.size)
