#!/usr/bin/env python3
"""timestamp_authority.py CONFIG PORT_FILE: a throw-away RFC 3161 timestamp
authority for the signing tests. Answers each query POSTed to
http://127.0.0.1:PORT/ with `openssl ts -reply -config CONFIG`; listens on a
free port, writes its number to PORT_FILE once it accepts queries, and runs
until it is stopped."""
import http.server
import os
import subprocess
import sys

config, port_file = sys.argv[1], sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile",
                               "/dev/stdin", "-out", "/dev/stdout"], input=query,
                              capture_output=True)
        if done.returncode != 0:
            sys.stderr.write(done.stderr.decode(errors="replace"))
            self.send_error(500, "openssl ts -reply failed")
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(done.stdout)))
        self.end_headers()
        self.wfile.write(done.stdout)


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".new", "w") as out:
    out.write(str(server.server_address[1]))
os.replace(port_file + ".new", port_file)
server.serve_forever()
