# Every pixel of a 1000x1000 image set one by one with putpixel.
import pil  # noqa: F401
from PIL import Image

im = Image.new("RGBA", (1000, 1000), (255, 255, 255, 255))
c = (1, 2, 3, 255)
for y in range(1000):
    for x in range(1000):
        im.putpixel((x, y), c)
print(im.getpixel((0, 0)), im.getpixel((999, 999)))
