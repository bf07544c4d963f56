# Splits 100,000 URLs of four shapes (plain host; user, port, path, query
# and fragment; a deep path; a query) into their parts with
# urllib.parse.urlsplit, reading every part as decode-url gives it, and
# prints how many have a port and the rate.
import posixpath, time
from urllib.parse import unquote, urlsplit

shapes = [
    lambda i: f"http://host{i}.example.com/",
    lambda i: f"https://user:pw@host{i}.example.com:8443/docs/page{i}.html?a={i}&b=2#top",
    lambda i: f"ftp://files.example.org/pub/dir{i}/archive.tar.gz",
    lambda i: f"http://example.com/search?q=term{i}",
]
urls = [shapes[i % 4](i) for i in range(1, 100001)]
t = time.perf_counter()
ports = 0
for u in urls:
    s = urlsplit(u)
    parts = (s.scheme, s.username, s.hostname, s.port, posixpath.split(unquote(s.path)),
             unquote(s.query), unquote(s.fragment))
    if parts[3] is not None:
        ports += 1
print(f"urlsplit {ports} ports {round(100000 / (time.perf_counter() - t))} URLs/s")
