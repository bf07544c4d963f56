# Reads 10 MB of CSV text (ten columns, some fields quoted: commas, doubled
# quotes and line breaks inside) with the csv module, writes the lines again,
# and prints both rates.
import csv, io, time

parts, size, n = [], 0, 0
while size < 10000000:
    n += 1
    line = (f'{n},record {n},"Smith, John",{n * 3},2024-01-15,"say ""hi""",'
            f'déjà vu,"two\nlines",12.5,plain text\n')
    parts.append(line)
    size += len(line)
text = "".join(parts)
size = len(text.encode())
t = time.perf_counter()
rows = list(csv.reader(io.StringIO(text, newline="")))
print(f"csv.reader {size / 1e6 / (time.perf_counter() - t):.2f} MB/s")
t = time.perf_counter()
out = io.StringIO(newline="")
csv.writer(out, lineterminator="\n").writerows(rows)
out = out.getvalue()
print(f"csv.writer {len(out.encode()) / 1e6 / (time.perf_counter() - t):.2f} MB/s")
