#!/usr/bin/env python3
"""The page in headless Chromium against the native program, on the same options.

Usage: web_page_test.py SOURCE_DIR BUILD_DIR [own|sound]
Serves BUILD_DIR/web, opens index.html?frames=..&seed=..&fixed-step=..&keys=..&report=1, takes the
last frame and the trace the page posts back, and runs BUILD_DIR/zentrix --headless with the same
options on BUILD_DIR/bundled. The traces must be equal column for column, the pictures within
30 dB PSNR, the head-up display's three lines legible. With "own" the page is given a height
picture instead (from=, as if dropped) and the native run a data set the landscape tool made of
the same picture: the same trace, so the ground under the walker follows the picture. With
"sound" a live page, allowed to sound, must carry the music to its output. Exit 77 (skipped)
without a web build or Chromium, saying which.
"""
import base64
import csv
import io
import json
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import urllib.parse
import zlib

FRAMES, SEED, STEP = 150, 1, 20
# Walks, turns, changes all three values on the display and raises the eye.
KEYS = ['0-40 UP', '45-60 LEFT', '70 B', '75 M', '80 E', '90-110 NUMPAD1']
SKIP = 77
# More browser switches, for trying other rasterisers by hand.
EXTRA_FLAGS = []


def read_png(path):
    """8-bit RGB or RGBA, not interlaced (what the program writes) -> (width, height, RGBA bytes)."""
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
    pos, idat, header = 8, b'', None
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, f'unsupported PNG {header}'
    bpp = 4 if colour == 6 else 3
    raw, stride = zlib.decompress(idat), width * bpp
    out, prev = bytearray(), bytearray(stride)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        if bpp == 4:
            out += line
        else:
            for x in range(width):
                out += line[x * 3:x * 3 + 3] + b'\xff'
    return width, height, bytes(out)


def psnr(a, b, width, box=None):
    x0, y0, x1, y1 = box or (0, 0, width, len(a) // (4 * width))
    total, count = 0, 0
    for y in range(y0, y1):
        row = y * width * 4
        for i in range(row + x0 * 4, row + x1 * 4, 4):
            for k in range(3):
                d = a[i + k] - b[i + k]
                total += d * d
            count += 3
    return float('inf') if total == 0 else 10 * math.log10(255 * 255 * count / total)


def text_mask(rgba, width, x1, y1):
    """Pixels of the grey display text over the light-blue sky (stars are brighter, not darker)."""
    return {(x, y) for y in range(y1) for x in range(x1)
            if rgba[(y * width + x) * 4 + 1] < 160 and rgba[(y * width + x) * 4 + 2] < 180}


def hud_lines_legible(native, page, width):
    """The display's lines are the bands of text rows in the top-left corner; in each, nearly all
    of the native text pixels must be text in the page's picture too (a pixel of slack)."""
    want, got = text_mask(native, width, 260, 70), text_mask(page, width, 260, 70)
    rows = sorted({y for _, y in want})
    bands, start = [], None
    for i, y in enumerate(rows):
        if start is None:
            start = y
        if i + 1 == len(rows) or rows[i + 1] > y + 1:
            bands.append((start, y))
            start = None
    problems = [] if len(bands) == 3 else [f'the native picture shows {len(bands)} display lines, not 3']
    for top, bottom in bands:
        line = [(x, y) for x, y in want if top <= y <= bottom]
        found = sum(1 for x, y in line if any((x + dx, y + dy) in got for dx in (-1, 0, 1) for dy in (-1, 0, 1)))
        if found < 0.85 * len(line):
            problems.append(f'display line at rows {top}-{bottom}: {found} of {len(line)} text pixels')
    return problems


def compare_traces(native_text, page_text):
    native, page = list(csv.reader(io.StringIO(native_text))), list(csv.reader(io.StringIO(page_text)))
    if not page or native[0] != page[0]:
        return ['the page trace has another header: ' + (','.join(page[0]) if page else '(empty)')]
    if len(native) != len(page):
        return [f'the native trace has {len(native) - 1} rows, the page {len(page) - 1}']
    problems = []
    for column, name in enumerate(native[0]):
        rows = [i for i in range(1, len(native)) if native[i][column] != page[i][column]]
        if rows:
            i = rows[0]
            problems.append(f'column {name} differs in {len(rows)} rows, first in frame {i - 1}: '
                            f'native {native[i][column]}, page {page[i][column]}')
    return problems


def find_chromium():
    for name in ('chromium', 'chromium-browser', 'google-chrome'):
        path = shutil.which(name)
        if path:
            return path
    return None


def write_png(path, width, height, rgba):
    rows = b''.join(b'\x00' + rgba[y * width * 4:(y + 1) * width * 4] for y in range(height))
    chunk = lambda kind, body: (struct.pack('>I', len(body)) + kind + body +
                                struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)) +
                chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))


def height_picture(path):
    """A slope rising to the far edge with ridges across it: the walker climbs and crosses them."""
    side, rgba = 64, bytearray()
    for y in range(side):
        for x in range(side):
            v = max(0, min(255, int(255 * (1 - y / (side - 1)) * 0.7 + 60 * math.sin(x / 6.0) ** 2)))
            rgba += bytes((v, v, v, 255))
    write_png(path, side, side, bytes(rgba))


def run_page(source, build, chromium, url, work, timeout, extra=None, flags=()):
    """Serves build/web, opens url (PORT: the server's port) and returns the report the page
    posts, or None when none came in time."""
    got, arrived = {}, threading.Event()

    def on_report(body):
        got['body'] = body
        arrived.set()

    import importlib.util
    spec = importlib.util.spec_from_file_location('serve_web', os.path.join(source, 'scripts', 'serve-web.py'))
    serve_web = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(serve_web)
    server = serve_web.make_server(os.path.join(build, 'web'), 0, on_report, extra)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    browser = None
    try:
        page = url.replace('PORT', str(server.server_address[1]))
        browser = subprocess.Popen(
            [chromium, '--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
             *EXTRA_FLAGS, *flags, '--no-first-run', '--disable-extensions', '--disable-background-networking',
             f'--user-data-dir={os.path.join(work, "profile")}', page],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        arrived.wait(timeout)
    finally:
        if browser:
            for sig, wait in ((signal.SIGTERM, 10), (signal.SIGKILL, 10)):
                try:
                    os.killpg(browser.pid, sig)
                    browser.wait(wait)
                    break
                except (ProcessLookupError, subprocess.TimeoutExpired):
                    continue
        server.shutdown()
        server.server_close()
    return json.loads(got['body']) if 'body' in got else None


def hear_the_music(source, build, chromium, work):
    """A live page, allowed to sound as after a click: the music must reach the page's output."""
    report = run_page(source, build, chromium, 'http://127.0.0.1:PORT/index.html?listen=4000', work, 120,
                      flags=['--autoplay-policy=no-user-gesture-required'])
    if report is None:
        print('FAIL: the page posted no report within 120 s')
        return 1
    levels = sorted(report['levels'])
    median = levels[len(levels) // 2] if levels else 0.0
    print(f'sound contexts {report["contexts"]}, median loudness {median:.3f} (RMS) over {len(levels)} samples')
    if 'running' not in report['contexts'] or median < 0.02:
        print('FAIL: no music reached the page\'s sound output')
        return 1
    return 0


def main():
    # A stop (ctest's time limit among them) runs the clean-up: the browser and the temporary
    # folder go.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    source, build = sys.argv[1], sys.argv[2]
    own = sys.argv[3:] == ['own']
    if not os.path.exists(os.path.join(build, 'web', 'zentrix.wasm')):
        print(f'SKIP: no browser build in {build}/web (make web builds it; it needs emscripten)')
        return SKIP
    chromium = find_chromium()
    if not chromium:
        print('SKIP: no Chromium to run the page in (scripts/install-deps.sh test installs it)')
        return SKIP
    work = tempfile.mkdtemp(prefix='zentrix-web-test.')
    try:
        if sys.argv[3:] == ['sound']:
            return hear_the_music(source, build, chromium, work)
        keys = os.path.join(work, 'keys.txt')
        with open(keys, 'w') as f:
            f.write('\n'.join(KEYS) + '\n')
        trace, shot = os.path.join(work, 'native.csv'), os.path.join(work, 'native.png')
        data, query, extra = os.path.join(build, 'bundled'), {}, {}
        if own:
            picture, data = os.path.join(work, 'height.png'), os.path.join(work, 'own')
            height_picture(picture)
            subprocess.run([os.path.join(build, 'zentrix-landscape'), '--from', picture, '--size', '400', '--height',
                            '60', '--water', '10', '--out', data], check=True, stdout=subprocess.DEVNULL)
            query = {'from': 'height.png', 'size': 400, 'rise': 60, 'water': 10}
            extra = {'height.png': open(picture, 'rb').read()}
        subprocess.run([os.path.join(build, 'zentrix'), '--data', data, '--headless',
                        '--frames', str(FRAMES), '--seed', str(SEED), '--fixed-step', str(STEP), '--keys', keys,
                        '--trace', trace, '--screenshot', shot], check=True, stderr=subprocess.DEVNULL)
        query = urllib.parse.urlencode({**query, 'frames': FRAMES, 'seed': SEED, 'fixed-step': STEP,
                                        'keys': ';'.join(KEYS), 'report': 1})
        report = run_page(source, build, chromium, f'http://127.0.0.1:PORT/index.html?{query}', work, 240, extra)
        if report is None:
            print('FAIL: the page posted no report within 240 s')
            return 1
        if report['reason'] != 'frames':
            print(f'FAIL: the page stopped with {report["reason"]}: {report["message"]}')
            return 1
        problems = compare_traces(open(trace).read(), report['trace'])
        width, height, native = read_png(shot)
        page = base64.b64decode(report['picture'])
        if (report['width'], report['height']) != (width, height) or len(page) != len(native):
            problems.append(f'the page picture is {report["width"]} x {report["height"]}, native {width} x {height}')
        else:
            value = psnr(native, page, width)
            print(f'picture PSNR {value:.1f} dB, first frame {report["firstFrameMs"]:.0f} ms after the page loaded')
            if value < 30:
                problems.append(f'picture PSNR {value:.1f} dB, below 30 dB')
            problems += hud_lines_legible(native, page, width)
        for p in problems:
            print('FAIL: ' + p)
        if own and not problems:
            column = next(csv.reader(io.StringIO(report['trace']))).index('ground_height')
            grounds = [float(row[column]) for row in list(csv.reader(io.StringIO(report['trace'])))[1:]]
            if max(grounds) - min(grounds) < 3:
                problems.append(f'the ground stayed within {min(grounds)} and {max(grounds)} over the walk')
        if not problems:
            print(f'the page matches the native run: {FRAMES} trace rows equal in every column')
        return 1 if problems else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
