#!/usr/bin/env python3
"""The page's weight, its time to the first frame, and its frame time in headless Chromium.

Usage: bench/web-bench.py SOURCE_DIR BUILD_DIR [FRAMES]
Prints the bytes of every file of BUILD_DIR/web as served and gzip-compressed (what a compressing
server sends), then, standing and walking (the arrow key held), over FRAMES frames (default 300)
after 60: the interval between frames and the time spent in each frame's own code, with the
time from the start of the page's loading to its first frame. Results go to bench/README.md.
"""
import gzip
import importlib.util
import os
import shutil
import sys
import tempfile
import signal
import urllib.parse


def main():
    # A stop runs the clean-up: the browser and the temporary folders go.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    source, build = sys.argv[1], sys.argv[2]
    frames = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    spec = importlib.util.spec_from_file_location('web_test', os.path.join(source, 'tests', 'web', 'web_page_test.py'))
    web_test = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(web_test)
    site = os.path.join(build, 'web')
    total = packed = 0
    for name in sorted(os.listdir(site)):
        data = open(os.path.join(site, name), 'rb').read()
        size, small = len(data), len(gzip.compress(data, 9))
        total, packed = total + size, packed + small
        print(f'{name:14} {size:>10,} bytes, gzip -9 {small:>10,}')
    print(f'{"page":14} {total:>10,} bytes, gzip -9 {packed:>10,}')
    chromium = web_test.find_chromium()
    for view, keys in (('standing', ''), ('walking', f'0-{frames + 1000} UP')):
        work = tempfile.mkdtemp(prefix='zentrix-web-bench.')
        try:
            query = urllib.parse.urlencode({'measure': frames, 'keys': keys} if keys else {'measure': frames})
            r = web_test.run_page(source, build, chromium, f'http://127.0.0.1:PORT/index.html?{query}', work, 240)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        if not r:
            print(f'{view}: no report within 240 s')
            continue
        print(f'{view:9} first frame {r["firstFrameMs"]:.0f} ms after navigation; over {r["frames"]} frames: '
              f'{r["intervalMs"]:.2f} ms between frames, {r["workMs"]:.2f} ms in the frame')
    return 0


if __name__ == '__main__':
    sys.exit(main())
