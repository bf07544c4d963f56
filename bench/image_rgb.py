# The RGB bytes of a 4000x3000 image read out and written back, ten times.
import pil  # noqa: F401
from PIL import Image

im = Image.new("RGB", (4000, 3000), (10, 20, 30))
for _ in range(10):
    b = im.tobytes()
    im.frombytes(b)
print(len(b), im.getpixel((0, 0)))
