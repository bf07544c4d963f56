# Base-64 encoding and decoding of 16 MB, five rounds each way.
import base64
b = bytes.fromhex("00FF10EF20DF30CF40BF50AF609F708F") * 1048576
for _ in range(5):
    s = base64.b64encode(b)
for _ in range(5):
    d = base64.b64decode(s)
print(len(s), "true" if d == b else "false")
