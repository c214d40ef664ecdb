#!/usr/bin/env python3
"""make serve: serves the browser build on 127.0.0.1 with the standard library alone.

Usage: serve-web.py FOLDER [PORT]   (PORT 0 or absent: 8000, or a free one if that is taken)
The browser test imports make_server, which can also take the page's report (POST ./report) and
serve files of its own beside the folder's.
"""
import functools
import http.server
import sys


class PageHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.wasm': 'application/wasm', '.js': 'text/javascript', '.data': 'application/octet-stream'}
    on_report = None  # set per server: called with the body of a POST to /report
    extra = {}  # set per server: more files by name, served as if they were in the folder
    max_report_bytes = 64 << 20

    def do_GET(self):
        name = self.path.split('?')[0].lstrip('/')
        if name not in self.extra:
            return super().do_GET()
        body = self.extra[name]
        self.send_response(200)
        self.send_header('Content-Type', 'application/octet-stream')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        if self.on_report is None or self.path.split('?')[0] != '/report':
            self.send_error(404)
            return
        try:
            length = int(self.headers.get('Content-Length', ''))
        except ValueError:
            length = -1
        if not 0 <= length <= self.max_report_bytes:
            self.send_error(413)
            return
        body = self.rfile.read(length)
        self.send_response(204)
        self.end_headers()
        self.on_report(body)

    def end_headers(self):
        # A rebuilt page is never mixed with a cached half of the old one.
        self.send_header('Cache-Control', 'no-store')
        super().end_headers()

    def log_message(self, format, *args):
        pass


def make_server(folder, port=0, on_report=None, extra=None):
    handler = type('Handler', (PageHandler,), {'on_report': staticmethod(on_report) if on_report else None,
                                               'extra': dict(extra or {})})
    return http.server.ThreadingHTTPServer(('127.0.0.1', port), functools.partial(handler, directory=folder))


def main():
    if len(sys.argv) not in (2, 3):
        print('usage: serve-web.py FOLDER [PORT]', file=sys.stderr)
        return 2
    folder = sys.argv[1]
    try:
        port = int(sys.argv[2]) if len(sys.argv) == 3 else 8000
        server = make_server(folder, port)
    except ValueError:
        print(f'zentrix: the port must be a number, not {sys.argv[2]}', file=sys.stderr)
        return 2
    except OSError:
        server = make_server(folder, 0)
    print(f'zentrix: serving {folder} at http://127.0.0.1:{server.server_address[1]}/ (Ctrl-C stops)', flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == '__main__':
    sys.exit(main())
