#!/usr/bin/python3
"""Renders ostrel-cli's HTML report in headless Chromium and checks what a reader sees.

Usage: check_report_render.py OSTREL_CLI INPUT...

Writes the report of a scan over INPUT, then with Chromium: a screenshot of the expected
size that is not blank, a DOM in which every chart's SVG is present with its marks and
the hostile request texts are text (no element came from a log line), and no console
message. Exit status 0 when all hold, 77 (skipped) without Chromium, 1 otherwise.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

CHARTS = ["chart-category", "chart-slot", "chart-addresses", "chart-locations",
          "chart-timeline", "chart-paths", "chart-status"]
WIDTH, HEIGHT = 1280, 2400
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def chromium(browser, profile, *args):
    command = [browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--user-data-dir=" + profile, "--enable-logging=stderr",
               "--v=0", *args]
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=180, check=False)


def png_pixels(path):
    """The width, height and RGB(A) rows of an 8-bit PNG, decoded here (no imaging library)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, color = header[:4]
    if depth != 8 or color not in (2, 6):
        raise ValueError(f"unexpected PNG format depth {depth} colour {color}")
    channels = 3 if color == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


def main():
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("chromium not installed: skipped", file=sys.stderr)
        return 77
    cli, inputs = os.path.abspath(sys.argv[1]), [os.path.abspath(p) for p in sys.argv[2:]]
    with tempfile.TemporaryDirectory() as tmp:
        report = os.path.join(tmp, "report.html")
        run = subprocess.run([cli, "scan", "-q", "--type", "auto", "--any-status", "-o",
                              os.path.join(tmp, "1.log"), "--report", report, *inputs],
                             stderr=subprocess.PIPE, check=False)
        check(run.returncode == 0, f"scan exit {run.returncode}: {run.stderr.decode()}")
        url = "file://" + report
        shot = os.path.join(tmp, "shot.png")
        rendered = chromium(browser, os.path.join(tmp, "p1"), "--hide-scrollbars",
                            f"--window-size={WIDTH},{HEIGHT}", "--screenshot=" + shot, url)
        dumped = chromium(browser, os.path.join(tmp, "p2"), "--dump-dom", url)
        for run in (rendered, dumped):
            for line in run.stderr.decode(errors="replace").splitlines():
                check("CONSOLE" not in line, "console message: " + line)

        try:
            width, height, channels, rows = png_pixels(shot)
            check((width, height) == (WIDTH, HEIGHT), f"screenshot is {width}x{height}")
            colours, inked = set(), 0
            for row in rows[::8]:
                for x in range(0, width * channels, channels * 8):
                    pixel = row[x:x + 3]
                    colours.add(pixel)
                    inked += pixel != b"\xff\xff\xff"
            check(len(colours) > 20 and inked > len(rows[::8]) * (width // 8) // 20,
                  f"screenshot looks blank: {len(colours)} colours, {inked} inked samples")
        except (OSError, ValueError, TypeError, zlib.error) as error:
            failures.append(f"screenshot {shot}: {error}")

        dom = dumped.stdout.decode("utf-8", errors="replace")
        for chart in CHARTS:
            found = re.search(r'<svg id="' + chart + r'"[^>]*>(.*?)</svg>', dom, re.S)
            check(found is not None, f"no SVG {chart} in the rendered page")
            if found:
                check(re.search(r"<rect", found.group(1)), f"{chart} has no bars")
        check("<script" not in dom, "a <script> element reached the page")
        check("<b>bold" not in dom, "a log line's markup became an element")
        check("&lt;script&gt;alert" in dom, "the hostile request is not shown as text")

    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
