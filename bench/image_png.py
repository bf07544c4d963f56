# A 4000x3000 picture (a 100x100 tile of varied pixels, pasted over it)
# encoded as PNG once and the bytes decoded three times, all in memory.
import io

import pil  # noqa: F401
from PIL import Image

tile = Image.new("RGBA", (100, 100))
tile.putdata([(n * 7 % 256, n * n % 256, (n * n + n * 31) % 256, 255) for n in range(1, 10001)])
im = Image.new("RGBA", (4000, 3000), (255, 255, 255, 255))
for y in range(30):
    for x in range(40):
        im.paste(tile, (x * 100, y * 100))
buf = io.BytesIO()
im.save(buf, "PNG")
png = buf.getvalue()
for _ in range(3):
    j = Image.open(io.BytesIO(png))
    j.load()
print(len(png), j.size, j.tobytes() == im.tobytes())
