#!/usr/bin/env python3
"""Loopback HTTPS server for the updater tests. Serves one scenario per path prefix and prints
its port once listening. Usage: feed_server.py CERT KEY ARCHIVE_DIR"""
import http.server
import json
import ssl
import sys
import time

CERT, KEY, ARCHIVES = sys.argv[1], sys.argv[2], sys.argv[3]


def feed(version, zip_url, signature="c2lnbmF0dXJl"):
    entry = {"version": version, "zip": zip_url, "notes": "n", "extra": 1}
    if signature is not None:
        entry["signature"] = signature
    return json.dumps(entry).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body=b"", kind="application/json"):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        base = "https://127.0.0.1:%d" % self.server.server_address[1]
        scenario = self.path.split("/")[1]
        if self.path.startswith("/archive/"):
            try:
                with open(ARCHIVES + "/" + self.path.split("/")[-1], "rb") as f:
                    return self.reply(200, f.read(), "application/zip")
            except OSError:
                return self.reply(404)
        if scenario == "trickle":
            # An archive that arrives a little at a time, for as long as anyone listens.
            self.send_response(200)
            self.send_header("Content-Type", "application/zip")
            self.send_header("Content-Length", str(64 << 20))
            self.end_headers()
            try:
                while True:
                    self.wfile.write(b"x" * 8192)
                    self.wfile.flush()
                    time.sleep(0.05)
            except OSError:
                return
        if scenario == "ok":
            return self.reply(200, feed("99.1", base + "/archive/update.zip"))
        if scenario == "notfound":
            return self.reply(404, b"no")
        if scenario == "notmodified":
            return self.reply(304)
        if scenario == "html":
            return self.reply(200, b"<html><body>Oops</body></html>", "text/html")
        if scenario == "plainhttp":
            return self.reply(200, feed("99.1", "http://127.0.0.1/archive/update.zip"))
        if scenario == "older":
            return self.reply(200, feed("0.0.1", base + "/archive/update.zip"))
        if scenario == "unsigned":
            return self.reply(200, feed("99.1", base + "/archive/update.zip", None))
        if scenario == "blanksignature":
            return self.reply(200, feed("99.1", base + "/archive/update.zip", " "))
        if scenario == "silent":
            time.sleep(20)
            return self.reply(200, feed("99.1", base + "/archive/update.zip"))
        return self.reply(404)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
