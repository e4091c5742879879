#!/usr/bin/env python3
"""A loopback stand-in for the model vendor's messages API, for tests.

Usage: fake_messages_api.py PORT_FILE LOG_FILE [REPLY_FILE]

Listens on 127.0.0.1 on a free port, writes the port to PORT_FILE, and appends one JSON line
per request (method, path, headers, body) to LOG_FILE. The scenario is the first path
segment before /v1/messages ("/429/v1/messages"); without one it is "ok". The reply text is
REPLY_FILE's content (read on every request), or "fake reply".

Scenarios: ok, 401, 429 (retry-after 90), 500 (1,000-character body), malformed (200, not
JSON), shape (200, JSON without a content list), slow (answers after 5 s), max_tokens
(stop_reason max_tokens), redirect (302 elsewhere), text (never calls a tool), echo-key
(401 quoting the key sent), echo-key-ok (200 whose text holds the key as sent, upper-cased and
in a Basic credential, then the reply text), huge (a 3 MB reply).
A request whose tools include StructuredOutput is answered by calling that tool with the
reply text as its input, unless the scenario is "text" or a tool result is already there.
Requests with "stream": true are answered as server-sent events.
"""
import base64
import json
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PORT_FILE, LOG_FILE = sys.argv[1], sys.argv[2]
REPLY_FILE = sys.argv[3] if len(sys.argv) > 3 else None
LOG_LOCK = threading.Lock()


def reply_text():
    if REPLY_FILE:
        try:
            with open(REPLY_FILE, encoding="utf-8") as f:
                return f.read()
        except OSError:
            pass
    return "fake reply"


def has_tool_result(body):
    messages = body.get("messages") or []
    if not messages:
        return False
    content = messages[-1].get("content")
    return isinstance(content, list) and any(
        isinstance(b, dict) and b.get("type") == "tool_result" for b in content)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.send_response(200)
        self.send_header("content-length", "0")
        self.end_headers()

    def do_GET(self):
        self.plain(404, json.dumps({"type": "error", "error": {"type": "not_found_error"}}))

    def plain(self, status, text, headers=()):
        data = text.encode()
        self.send_response(status)
        self.send_header("content-type", "application/json")
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("content-length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def error(self, status, kind, message, headers=()):
        self.plain(status, json.dumps(
            {"type": "error", "error": {"type": kind, "message": message}}), headers)

    def do_POST(self):
        raw = self.rfile.read(int(self.headers.get("content-length", "0")))
        try:
            body = json.loads(raw)
        except ValueError:
            body = None
        path = self.path.split("?", 1)[0]
        with LOG_LOCK, open(LOG_FILE, "a", encoding="utf-8") as log:
            log.write(json.dumps({"method": "POST", "path": path,
                                  "headers": {k.lower(): v for k, v in self.headers.items()},
                                  "body": body}) + "\n")
        if not path.endswith("/v1/messages"):
            return self.error(404, "not_found_error", "no such path")
        prefix = path[: -len("/v1/messages")].strip("/")
        scenario = prefix.split("/")[-1] if prefix else "ok"
        body = body if isinstance(body, dict) else {}

        if scenario == "401":
            return self.error(401, "authentication_error", "token rejected")
        if scenario == "429":
            return self.error(429, "rate_limit_error", "rate limit reached",
                              [("retry-after", "90")])
        if scenario == "500":
            return self.plain(500, "E" * 1000)
        if scenario == "echo-key":
            # A gateway that quotes the credentials it was sent.
            key = self.headers.get("x-api-key", "")
            return self.error(401, "authentication_error",
                              "key %s rejected (Authorization: Bearer %s)" % (key, key))
        if scenario == "echo-key-ok":
            # The key as sent, upper-cased and inside a Basic credential, then the reply text.
            key = self.headers.get("x-api-key", "")
            basic = base64.b64encode(("user:" + key).encode()).decode()
            text = "your key is %s, %s, Basic %s; %s" % (key, key.upper(), basic, reply_text())
            return self.plain(200, json.dumps({"content": [{"type": "text", "text": text}],
                                               "stop_reason": "end_turn"}))
        if scenario == "huge":
            text = "x" * (3 << 20)
            return self.plain(200, json.dumps({"content": [{"type": "text", "text": text}]}))
        if scenario == "malformed":
            return self.plain(200, "{not json at all")
        if scenario == "shape":
            return self.plain(200, json.dumps({"id": "msg", "content": "not a list"}))
        if scenario == "redirect":
            self.send_response(302)
            self.send_header("location", "http://127.0.0.1:9/elsewhere")
            self.send_header("content-length", "0")
            self.end_headers()
            return
        if scenario == "slow":
            time.sleep(5)

        text = reply_text()
        tools = [t.get("name") for t in body.get("tools") or [] if isinstance(t, dict)]
        use_tool = ("StructuredOutput" in tools and scenario != "text"
                    and not has_tool_result(body))
        stop_reason = "max_tokens" if scenario == "max_tokens" else "end_turn"
        if use_tool:
            try:
                tool_input = json.loads(text)
            except ValueError:
                tool_input = {"text": text}
            block = {"type": "tool_use", "id": "toolu_fake", "name": "StructuredOutput",
                     "input": tool_input}
            stop_reason = "tool_use"
        elif has_tool_result(body):
            block = {"type": "text", "text": "Done."}
        else:
            block = {"type": "text", "text": text}

        if body.get("stream"):
            return self.stream(body, block, stop_reason)
        self.plain(200, json.dumps({
            "id": "msg_fake", "type": "message", "role": "assistant",
            "model": body.get("model", "fake"),
            "content": [block], "stop_reason": stop_reason,
            "usage": {"input_tokens": 10, "output_tokens": 10}}))

    def stream(self, body, block, stop_reason):
        self.send_response(200)
        self.send_header("content-type", "text/event-stream")
        self.send_header("connection", "close")
        self.end_headers()
        self.close_connection = True

        def event(name, data):
            self.wfile.write(f"event: {name}\ndata: {json.dumps(data)}\n\n".encode())

        event("message_start", {"type": "message_start", "message": {
            "id": "msg_fake", "type": "message", "role": "assistant",
            "model": body.get("model", "fake"), "content": [], "stop_reason": None,
            "usage": {"input_tokens": 10, "output_tokens": 1}}})
        if block["type"] == "tool_use":
            start = dict(block, input={})
            delta = {"type": "input_json_delta", "partial_json": json.dumps(block["input"])}
        else:
            start = {"type": "text", "text": ""}
            delta = {"type": "text_delta", "text": block["text"]}
        event("content_block_start", {"type": "content_block_start", "index": 0,
                                      "content_block": start})
        event("content_block_delta", {"type": "content_block_delta", "index": 0,
                                      "delta": delta})
        event("content_block_stop", {"type": "content_block_stop", "index": 0})
        event("message_delta", {"type": "message_delta",
                                "delta": {"stop_reason": stop_reason, "stop_sequence": None},
                                "usage": {"output_tokens": 10}})
        event("message_stop", {"type": "message_stop"})
        self.wfile.flush()


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    with open(PORT_FILE + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    import os
    os.replace(PORT_FILE + ".tmp", PORT_FILE)
    server.serve_forever()


if __name__ == "__main__":
    main()
