# the pause of one full collection with a million live objects
import gc, time
b = [bytearray(b"x") for _ in range(1000000)]
t = time.perf_counter()
gc.collect()
print("collect pause:", time.perf_counter() - t)
