#!/usr/bin/env python3
"""A small HTTP server for the tests of url! values: it answers on 127.0.0.1
at a free port, prints that port on its first line of output, and serves
until it is stopped (or asked to stop).

Paths:
    /echo...         any method: "METHOD path", the request's headers one a
                     line as received, a blank line, then the body
    /status/N        status N with the body "status N"
    /redirect/N?to=P status N (a redirect) to P, with a header of its own
    /cookies         two Set-Cookie headers
    /tight           a header written without a blank after its colon
    /count           the number of requests served so far, this one included
    /stop            answers, then ends the server's process

With --tls CERT KEY it speaks HTTPS with that certificate.
Usage: http-echo.py [--tls CERT KEY]
"""
import http.server, os, ssl, sys


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    count = 0

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        data = body.encode()
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def handle_any(self):
        Handler.count += 1
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path, _, query = self.path.partition("?")
        if path.startswith("/echo"):
            lines = [f"{self.command} {self.path}"]
            lines += [f"{k}: {v}" for k, v in self.headers.items()]
            self.reply(200, "\n".join(lines) + "\n\n" + body.decode("utf-8", "replace"))
        elif path.startswith("/status/"):
            code = int(path[len("/status/"):])
            self.reply(code, f"status {code}")
        elif path.startswith("/redirect/"):
            code = int(path[len("/redirect/"):])
            target = query[len("to="):] if query.startswith("to=") else "/echo"
            self.reply(code, "moved", [("Location", target), ("X-Redirected", "yes")])
        elif path == "/cookies":
            self.reply(200, "cookies", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2")])
        elif path == "/tight":
            data = b"tight"
            self.wfile.write(b"HTTP/1.1 200 OK\r\nX-A:v\r\nContent-Length: 5\r\n\r\n" + data)
        elif path == "/count":
            self.reply(200, str(Handler.count))
        elif path == "/stop":
            # At once: a request that follows must find nothing listening,
            # so the listening socket closes before the answer goes out (the
            # serving loop's complaint about it goes nowhere).
            sys.stderr = open(os.devnull, "w")
            self.server.socket.close()
            self.reply(200, "stopping")
            self.wfile.flush()
            os._exit(0)
        else:
            self.reply(404, "not found")

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = handle_any


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if len(sys.argv) == 4 and sys.argv[1] == "--tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


main()
