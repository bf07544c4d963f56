# KEZBIN's peers: pickle (protocol 5) and marshal of the same structures (a
# nested list of a million elements, lists of 10,000 to 40,000 distinct
# strings standing for words). Prints MB/s and sizes in bytes.
import marshal, pickle, time

def measure(name, v):
    for label, dumps, loads in (("pickle5", lambda x: pickle.dumps(x, protocol=5), pickle.loads),
                                ("marshal", marshal.dumps, marshal.loads)):
        t = time.perf_counter(); b = dumps(v); t = time.perf_counter() - t
        t2 = time.perf_counter(); loads(b); t2 = time.perf_counter() - t2
        mb = len(b) / 1048576.0
        print(name, label, "bytes", len(b), "encode MB/s", round(mb / t, 1), "decode MB/s", round(mb / t2, 1))

nested = []
for i in range(1, 100001):
    inner = []
    for j in range(1, 6):
        inner.append(i * j); inner.append("text")
    nested.append(inner)
measure("nested-1M", nested)
for n in (10000, 20000, 40000):
    measure("words-%d" % n, ["w%d" % i for i in range(1, n + 1)])
