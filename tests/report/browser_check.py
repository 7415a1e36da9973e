#!/usr/bin/env python3
"""Opens a page in headless Chromium through chromedriver and prints, as
JSON, what the rendered page shows: its text as laid out, each table row's
cells, every resource it loaded or refers to, and its width.

    browser_check.py PAGE WIDTH HEIGHT [SCREENSHOT.png]

Only the Python standard library: chromedriver speaks WebDriver over HTTP.
"""
import base64
import json
import os
import socket
import subprocess
import sys
import time
import urllib.request

RENDERED = """
const rows = [...document.querySelectorAll('tbody tr')].map(
    tr => [...tr.cells].map(td => td.innerText.trim()));
const refs = [...document.querySelectorAll('[src],[href]')].map(
    e => e.getAttribute('src') || e.getAttribute('href'));
let cssUrls = 0;
for (const sheet of document.styleSheets)
  for (const rule of sheet.cssRules) if (rule.cssText.includes('url(')) cssUrls++;
return {
  text: document.body.innerText,
  rows: rows,
  loaded: performance.getEntriesByType('resource').map(e => e.name),
  refs: refs,
  cssUrls: cssUrls,
  fonts: [...document.fonts].map(f => f.family),
  scripts: document.scripts.length,
  width: document.documentElement.scrollWidth,
};
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def call(base, method, path, body=None):
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=60) as reply:
        return json.load(reply)["value"]


def main():
    page, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    shot = sys.argv[4] if len(sys.argv) > 4 else None
    port = free_port()
    driver = subprocess.Popen(["chromedriver", f"--port={port}"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    base = f"http://127.0.0.1:{port}"
    try:
        for _ in range(100):
            try:
                call(base, "GET", "/status")
                break
            except OSError:
                time.sleep(0.1)
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                f"--window-size={width},{height}",
                # Nothing from the network could load even if the page asked.
                "--host-resolver-rules=MAP * ~NOTFOUND"]
        options = {"binary": "/usr/bin/chromium", "args": args}
        if width < 500:  # narrower than a headless window can be: a phone's screen
            options["mobileEmulation"] = {"deviceMetrics": {
                "width": width, "height": height, "pixelRatio": 2}}
        session = call(base, "POST", "/session", {"capabilities": {"alwaysMatch": {
            "browserName": "chrome", "goog:chromeOptions": options}}})
        sid = session["sessionId"]
        try:
            call(base, "POST", f"/session/{sid}/url",
                 {"url": "file://" + os.path.abspath(page)})
            result = call(base, "POST", f"/session/{sid}/execute/sync",
                          {"script": RENDERED, "args": []})
            if shot:
                with open(shot, "wb") as out:
                    out.write(base64.b64decode(call(base, "GET", f"/session/{sid}/screenshot")))
        finally:
            call(base, "DELETE", f"/session/{sid}")
    finally:
        driver.terminate()
        driver.wait(10)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
