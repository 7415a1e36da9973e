#!/usr/bin/env python3
"""Opens a page in headless Chromium through chromedriver and prints, as
JSON, what the rendered page shows: its text as first laid out, each
table's rows, every resource it loaded or refers to, and its width; then,
with every <details> opened, what the page cuts (an element past the
window's edge, or a cell or paragraph whose text overflows its box) and how
many lines each column head takes.

    browser_check.py PAGE WIDTH HEIGHT [SCREENSHOT.png]

The screenshot shows the page as it opens. Only the Python standard
library: chromedriver speaks WebDriver over HTTP.
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
const rowsOf = table => [...document.querySelectorAll(table + ' tbody tr')].map(
    tr => [...tr.cells].map(td => td.innerText.trim()));
const refs = [...document.querySelectorAll('[src],[href]')].map(
    e => e.getAttribute('src') || e.getAttribute('href'));
let cssUrls = 0;
for (const sheet of document.styleSheets)
  for (const rule of sheet.cssRules) if (rule.cssText.includes('url(')) cssUrls++;
const shown = {
  text: document.body.innerText,
  summary: [...document.querySelectorAll('ul.summary li')].map(li => li.innerText.trim()),
  rows: rowsOf('table.controllers'),
  loaded: performance.getEntriesByType('resource').map(e => e.name),
  refs: refs,
  cssUrls: cssUrls,
  fonts: [...document.fonts].map(f => f.family),
  scripts: document.scripts.length,
  width: document.documentElement.scrollWidth,
};
for (const d of document.querySelectorAll('details')) d.open = true;
shown.openText = document.body.innerText;
shown.fineRows = rowsOf('table.fine-list');
shown.times = [...document.querySelectorAll('time')].map(t => t.innerText.trim());
const edge = document.documentElement.clientWidth;
shown.cut = [];
for (const e of document.body.querySelectorAll('*')) {
  const box = e.getBoundingClientRect();
  if (box.width === 0 || e.closest('.hidden')) continue;
  const overflows = e.matches('th, td, p, li, h1, h2, h3, summary, figcaption') &&
                    e.scrollWidth > e.clientWidth + 1;
  if (box.right > edge + 1 || box.left < -1 || overflows)
    shown.cut.push(e.tagName.toLowerCase() + ': ' + (e.textContent || '').trim().slice(0, 40));
}
shown.headLines = [...document.querySelectorAll('th')].filter(th => th.getClientRects().length)
  .map(th => {
    const range = document.createRange();
    range.selectNodeContents(th);
    return new Set([...range.getClientRects()].map(r => Math.round(r.top))).size;
  });
return shown;
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
            if shot:
                with open(shot, "wb") as out:
                    out.write(base64.b64decode(call(base, "GET", f"/session/{sid}/screenshot")))
            result = call(base, "POST", f"/session/{sid}/execute/sync",
                          {"script": RENDERED, "args": []})
        finally:
            call(base, "DELETE", f"/session/{sid}")
    finally:
        driver.terminate()
        driver.wait(10)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
