#!/usr/bin/env python3
"""A loopback HTTP server for scripts/run: prints each request the program sends and answers
200 "ok". With --port-file it writes the port it listens on there once it is listening."""
import argparse
import datetime
import os
import sys
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    # The program keeps its connection open between keys.
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        query = urllib.parse.urlsplit(self.path).query
        texts = [v for _, v in urllib.parse.parse_qsl(query, keep_blank_values=True)]
        now = datetime.datetime.now().strftime("%H:%M:%S.%f")[:-3]
        shown = " ".join(texts) if texts else urllib.parse.unquote(self.path)
        print(f"{now} transferred: {shown}    (GET {self.path})", flush=True)
        body = b"ok"
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(f"{port}\n")
        os.replace(args.port_file + ".tmp", args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
