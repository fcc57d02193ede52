#!/usr/bin/env python3
"""timestamp_authority.py CONFIG PORT_FILE

A throw-away RFC 3161 timestamp authority for the signing tests: answers each
timestamp query POSTed to http://127.0.0.1:PORT/ with `openssl ts -reply
-config CONFIG`. Listens on a free port and writes its number to PORT_FILE once
it accepts queries; runs until it is stopped.
"""
import http.server
import os
import subprocess
import sys
import tempfile

config, port_file = sys.argv[1], sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as work:
            query_file = os.path.join(work, "query.tsq")
            reply_file = os.path.join(work, "reply.tsr")
            with open(query_file, "wb") as out:
                out.write(query)
            done = subprocess.run(
                ["openssl", "ts", "-reply", "-config", config,
                 "-queryfile", query_file, "-out", reply_file],
                capture_output=True, text=True)
            if done.returncode != 0:
                sys.stderr.write(done.stderr)
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(reply_file, "rb") as reply_in:
                reply = reply_in.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, format, *args):
        sys.stderr.write("timestamp authority: " + (format % args) + "\n")


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".new", "w") as out:
    out.write(str(server.server_address[1]))
os.replace(port_file + ".new", port_file)
server.serve_forever()
