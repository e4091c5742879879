#!/usr/bin/env python3
"""A loopback static web site for the brand-probe tests.

Usage: fake_brand_site.py ROOT PORT_FILE LOG_FILE

Serves the files under ROOT on 127.0.0.1 on a free port, writes the port to PORT_FILE and
appends each request's path to LOG_FILE. /redirect?to=URL answers 302 to URL; /loop
redirects to itself; /slow answers only after 20 s.
"""
import sys
import threading
import time
from functools import partial
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

ROOT, PORT_FILE, LOG_FILE = sys.argv[1], sys.argv[2], sys.argv[3]
LOG_LOCK = threading.Lock()


class Handler(SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        with LOG_LOCK, open(LOG_FILE, "a", encoding="utf-8") as log:
            log.write(self.path + "\n")
        url = urlparse(self.path)
        if url.path in ("/redirect", "/loop"):
            target = parse_qs(url.query).get("to", ["/loop"])[0]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if url.path == "/slow":
            # A site that takes its time: only a stop ends the wait early.
            time.sleep(20)
        super().do_GET()


server = ThreadingHTTPServer(("127.0.0.1", 0), partial(Handler, directory=ROOT))
with open(PORT_FILE + ".tmp", "w", encoding="utf-8") as f:
    f.write(str(server.server_address[1]))
import os  # noqa: E402

os.replace(PORT_FILE + ".tmp", PORT_FILE)
server.serve_forever()
