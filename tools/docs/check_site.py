"""Check the built documentation site as a reader's browser sees it.

    python tools/docs/check_site.py SITE_DIR SHOT_DIR

1. Static: every page and style sheet is read, and every resource it would
   load (script, style, font, image, frame, CSS url() and @import)
   must be a file of the site: no other host, no missing file. Every link
   between pages must reach an existing page, and its #fragment an element
   of that page.
2. Browser: headless Chromium (Debian's chromium), driven over the DevTools
   protocol on a pipe, opens every page from the file system. Every request
   the page makes is logged and must stay on the machine (file:, data:,
   blob:); none may fail; no script may throw or log an error; every formula must have been
   typeset by KaTeX (no raw TeX left, no KaTeX error) and every image must
   have loaded. Screenshots of the index, a reference page with formulas and
   the calendar guide go to SHOT_DIR.

Run it inside a network namespace without a route (`unshare -n`, as
./dev.sh docs --check does), so that a request to another host could not
succeed even if one slipped past the log. There it first opens a canary page
planted with each fault the checks look for, and fails unless it finds them
all: proof that the checks can see in this browser and this namespace.
"""
from __future__ import annotations

import base64
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from html.parser import HTMLParser
from pathlib import Path
from urllib.parse import unquote, urlsplit

LOCAL_SCHEMES = {"file", "data", "blob", "about", "chrome", "devtools"}
# (page, fragment to scroll to, screenshot name, full page)
SHOTS = [
    ("index.html", "", "index.png", False),
    ("reference/black76.html", "tessel.b76_delta", "reference-b76_delta.png", False),
    ("guides/calendar.html", "", "guide-calendar.png", True),
]
# What a page must show once its scripts have run.
PAGE_STATE = """(() => {
  const math = [...document.querySelectorAll('.arithmatex')];
  const imgs = [...document.querySelectorAll('article img')];
  return {
    formulas: math.length,
    typeset: math.filter(e => e.querySelector('.katex')).length,
    errors: document.querySelectorAll('.katex-error').length,
    raw: math.filter(e => /\\\\[\\(\\[]/.test(e.textContent) && !e.querySelector('.katex')).length,
    images: imgs.length,
    broken: imgs.filter(i => !(i.complete && i.naturalWidth > 0)).map(i => i.src),
    fonts: document.fonts.status,
  };
})()"""


class Resources(HTMLParser):
    """The resources a page loads and the links and ids it holds."""

    LOADS = {("script", "src"), ("img", "src"), ("iframe", "src"), ("source", "src"), ("source", "srcset"),
             ("video", "src"), ("audio", "src"), ("embed", "src"), ("object", "data"), ("image", "href")}

    def __init__(self) -> None:
        super().__init__()
        self.loads: list[str] = []
        self.links: list[str] = []
        self.ids: set[str] = set()

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        a = {k: v or "" for k, v in attrs}
        if "id" in a:
            self.ids.add(a["id"])
        if tag == "a" and "name" in a:
            self.ids.add(a["name"])
        for name, value in a.items():
            if (tag, name) in self.LOADS:
                self.loads += [part.split()[0] for part in value.split(",") if part.strip()]
        if tag == "link" and a.get("href"):
            rel = a.get("rel", "").lower().split()
            if {"stylesheet", "icon", "preload", "modulepreload", "manifest", "prefetch"} & set(rel):
                self.loads.append(a["href"])
            elif "preconnect" in rel or "dns-prefetch" in rel:
                self.loads.append(a["href"])
        if tag == "a" and a.get("href"):
            self.links.append(a["href"])
        if "style" in a:
            self.loads += css_urls(a["style"])


def css_urls(text: str) -> list[str]:
    found = re.findall(r"url\(\s*['\"]?([^'\")]+)['\"]?\s*\)", text)
    found += re.findall(r"@import\s+['\"]([^'\"]+)['\"]", text)
    return [u for u in found if not u.startswith("#")]


def is_remote(url: str) -> bool:
    scheme = urlsplit(url).scheme.lower()
    return url.startswith("//") or (scheme != "" and scheme not in LOCAL_SCHEMES)


def check_static(site: Path, quiet: bool = False) -> list[str]:
    site = site.resolve()
    problems: list[str] = []
    pages: dict[Path, Resources] = {}
    for html in sorted(site.rglob("*.html")):
        if html.name == "404.html":
            continue  # served by a web server for any path, so its links are absolute
        parser = Resources()
        parser.feed(html.read_text(encoding="utf-8"))
        pages[html.resolve()] = parser
    for css in sorted(site.rglob("*.css")):
        for url in css_urls(css.read_text(encoding="utf-8", errors="replace")):
            problems += check_resource(site, css, url)
    for html, parser in pages.items():
        for url in parser.loads:
            problems += check_resource(site, html, url)
        for href in parser.links:
            parts = urlsplit(href)
            if parts.scheme or href.startswith("//"):
                continue  # a link the reader may follow, not a resource the page loads
            target = (html.parent / unquote(parts.path)).resolve() if parts.path else html
            if target.is_dir():
                target = target / "index.html"
            rel = html.relative_to(site)
            if not target.is_file():
                problems.append(f"{rel}: link to a missing page: {href}")
            elif parts.fragment and target.suffix == ".html":
                ids = pages[target].ids if target in pages else set()
                if unquote(parts.fragment) not in ids:
                    problems.append(f"{rel}: link to a missing anchor: {href}")
    if not quiet:
        print(f"   static: {len(pages)} pages, "
              f"{sum(len(p.loads) for p in pages.values())} resources, "
              f"{sum(len(p.links) for p in pages.values())} links")
    return problems


def check_resource(site: Path, owner: Path, url: str) -> list[str]:
    rel = owner.relative_to(site)
    if is_remote(url):
        return [f"{rel}: loads from another host: {url}"]
    parts = urlsplit(url)
    if parts.scheme or not parts.path:
        return []
    target = (owner.parent / unquote(parts.path)).resolve()
    if not target.is_file():
        return [f"{rel}: missing resource: {url}"]
    if site.resolve() not in target.parents:
        return [f"{rel}: resource outside the site: {url}"]
    return []


class Browser:
    """Headless Chromium over the DevTools protocol on a pipe (fds 3 and 4 of the child)."""

    def __init__(self, exe: str) -> None:
        self.profile = tempfile.mkdtemp(prefix="tessel-docs-chromium.")
        to_child, self._out = os.pipe()
        self._in, from_child = os.pipe()

        def fds() -> None:
            os.dup2(to_child, 3)
            os.dup2(from_child, 4)

        self.proc = subprocess.Popen(
            [exe, "--headless", "--remote-debugging-pipe", "--no-sandbox", "--disable-gpu",
             "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--disable-default-apps",
             "--disable-extensions", "--hide-scrollbars", "--mute-audio", "--allow-file-access-from-files",
             f"--user-data-dir={self.profile}", "about:blank"],
            preexec_fn=fds, pass_fds=(3, 4), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_child)
        os.close(from_child)
        self._buffer = b""
        self._next = 0
        self.events: list[dict] = []

    def close(self) -> None:
        try:
            self.call("Browser.close")
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self._out)
        os.close(self._in)
        shutil.rmtree(self.profile, ignore_errors=True)

    def _read(self, deadline: float) -> dict:
        while b"\0" not in self._buffer:
            if time.monotonic() > deadline:
                raise TimeoutError("the browser did not answer in time")
            chunk = os.read(self._in, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed the pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method: str, params: dict | None = None, session: str | None = None,
             timeout: float = 30.0) -> dict:
        self._next += 1
        msg: dict = {"id": self._next, "method": method, "params": params or {}}
        if session:
            msg["sessionId"] = session
        os.write(self._out, json.dumps(msg).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read(deadline)
            if reply.get("id") == self._next:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def wait_event(self, method: str, session: str, timeout: float) -> dict:
        deadline = time.monotonic() + timeout
        while True:
            for i, e in enumerate(self.events):
                if e.get("method") == method and e.get("sessionId") == session:
                    return self.events.pop(i)
            self.events.append(self._read(deadline))


class Tab:
    """One page target of the browser, with the domains whose events the checks read."""

    def __init__(self, browser: Browser) -> None:
        self.browser = browser
        target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        for method in ("Page.enable", "Network.enable", "Runtime.enable", "Log.enable"):
            browser.call(method, session=self.session)
        browser.call("Network.setCacheDisabled", {"cacheDisabled": True}, session=self.session)
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False}, session=self.session)

    def visit(self, url: str, name: str, patience: float = 15.0) -> tuple[list[str], dict, int]:
        """Open url; the problems seen, the page state once settled, the number of requests."""
        self.browser.events.clear()
        self.browser.call("Page.navigate", {"url": url}, session=self.session)
        self.browser.wait_event("Page.loadEventFired", self.session, timeout=30)
        state = settle(self.browser, self.session, patience)
        problems, requests = [], 0
        for e in self.browser.events:
            if e.get("sessionId") != self.session:
                continue
            method, params = e.get("method"), e.get("params", {})
            if method == "Network.requestWillBeSent":
                requests += 1
                if is_remote(params["request"]["url"]):
                    problems.append(f"{name}: request to another host: {params['request']['url']}")
            elif method == "Network.loadingFailed":
                problems.append(f"{name}: a request failed: {params.get('errorText')} ({params.get('type')})")
            elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
                entry = params["entry"]
                problems.append(f"{name}: browser error: {entry['text']} {entry.get('url', '')}")
            elif method == "Runtime.consoleAPICalled" and params.get("type") == "error":
                args = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
                problems.append(f"{name}: console error: {args}")
            elif method == "Runtime.exceptionThrown":
                details = params.get("exceptionDetails", {})
                text = details.get("exception", {}).get("description") or details.get("text")
                problems.append(f"{name}: script error: {text}")
        if state["typeset"] != state["formulas"] or state["raw"] or state["errors"]:
            problems.append(f"{name}: {state['formulas']} formulas, {state['typeset']} typeset, "
                            f"{state['raw']} left as TeX, {state['errors']} KaTeX errors")
        problems += [f"{name}: image did not load: {src}" for src in state["broken"]]
        return problems, state, requests


# A page with every fault the checks look for: if one of them goes unseen,
# the checks are blind here and their silence about the site means nothing.
CANARY = """<!doctype html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="https://fonts.example.invalid/css?family=Roboto">
</head><body><article>
<p><span class="arithmatex">\\(x^2\\)</span></p>
<img src="missing.png" alt="">
</article>
<script src="https://cdn.example.invalid/katex.min.js"></script>
<script>throw new Error("canary");</script>
</body></html>
"""
CANARY_FINDS = {
    "static: a resource on another host": "loads from another host",
    "static: a missing file": "missing resource",
    "browser: a request to another host": "request to another host",
    "browser: a script error": "script error",
    "browser: TeX left untypeset": "left as TeX",
    "browser: a broken image": "image did not load",
}


def check_canary(tab: Tab) -> list[str]:
    with tempfile.TemporaryDirectory(prefix="tessel-docs-canary.") as tmp:
        (Path(tmp) / "index.html").write_text(CANARY)
        found = check_static(Path(tmp), quiet=True)
        found += tab.visit((Path(tmp) / "index.html").as_uri(), "canary", patience=2.0)[0]
    blind = [what for what, text in CANARY_FINDS.items() if not any(text in p for p in found)]
    print(f"   canary: {len(CANARY_FINDS) - len(blind)} of {len(CANARY_FINDS)} planted faults found")
    return [f"the checks do not see {what} on a page made to have one" for what in blind]


def check_browser(site: Path, shots: Path, tab: Tab) -> list[str]:
    site = site.resolve()
    problems: list[str] = []
    shots.mkdir(parents=True, exist_ok=True)
    wanted = {page: (frag, name, full) for page, frag, name, full in SHOTS}
    pages = sorted(p.relative_to(site).as_posix() for p in site.rglob("*.html") if p.name != "404.html")
    requests = formulas = 0
    for page in pages:
        url = (site / page).as_uri()
        found, state, n = tab.visit(url, page)
        problems += found
        requests += n
        formulas += state["formulas"]
        if page in wanted:
            frag, name, full = wanted.pop(page)
            shoot(tab.browser, tab.session, frag, full, shots / name)
            print(f"   screenshot {name}: {page}{'#' + frag if frag else ''} "
                  f"({state['formulas']} formulas, {state['images']} images)")
    if wanted:
        problems.append(f"pages to photograph are missing: {sorted(wanted)}")
    if formulas == 0:
        problems.append("no formula on any page: the math check checked nothing")
    print(f"   browser: {len(pages)} pages, {requests} requests, {formulas} formulas")
    return problems


def settle(browser: Browser, session: str, timeout: float = 15.0) -> dict:
    """The page state once typesetting has finished (or the time is up)."""
    deadline = time.monotonic() + timeout
    while True:
        state = evaluate(browser, session, PAGE_STATE)
        done = state["typeset"] == state["formulas"] and state["fonts"] == "loaded" and not state["broken"]
        if done or time.monotonic() > deadline:
            return state
        time.sleep(0.1)


def evaluate(browser: Browser, session: str, expression: str) -> dict:
    result = browser.call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session=session)
    if "exceptionDetails" in result:
        raise RuntimeError(f"page check failed: {result['exceptionDetails']}")
    return result["result"]["value"]


def shoot(browser: Browser, session: str, fragment: str, full: bool, path: Path) -> None:
    if fragment:
        # Below the fixed header bar, not under it.
        evaluate(browser, session, f"(e => window.scrollTo(0, e.getBoundingClientRect().top + scrollY - 72))"
                                   f"(document.getElementById({json.dumps(fragment)})), 0")
        time.sleep(0.2)
    params: dict = {"format": "png"}
    if full:
        size = evaluate(browser, session, "({w: 1280, h: document.documentElement.scrollHeight})")
        params.update(captureBeyondViewport=True, clip={"x": 0, "y": 0, "width": size["w"], "height": size["h"], "scale": 1})
    data = browser.call("Page.captureScreenshot", params, session=session)["data"]
    path.write_bytes(base64.b64decode(data))


def isolated() -> bool:
    """True in a network namespace with no interface but loopback."""
    return {name for _, name in socket.if_nameindex()} <= {"lo"}


def main(argv: list[str]) -> int:
    args = [a for a in argv if not a.startswith("--")]
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    site, shots = Path(args[0]), Path(args[1])
    if not (site / "index.html").is_file():
        print(f"check_site: no {site}/index.html: build the site first", file=sys.stderr)
        return 1
    if not isolated() and "--networked" not in argv:
        # The canary page names hosts that must never be asked.
        print("check_site: run it without a network (unshare -n), or pass --networked", file=sys.stderr)
        return 1
    exe = shutil.which("chromium") or shutil.which("chromium-browser")
    if not exe:
        print("check_site: chromium is not installed (apt-get install chromium)", file=sys.stderr)
        return 1
    start = time.monotonic()
    problems = check_static(site)
    browser = Browser(exe)
    try:
        tab = Tab(browser)
        if isolated():
            problems += check_canary(tab)
        problems += check_browser(site, shots, tab)
    finally:
        browser.close()
    for p in problems:
        print(f"   PROBLEM {p}")
    print(f"   {'FAILED' if problems else 'ok'} in {time.monotonic() - start:.1f} s")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
