"""A page opened in headless Chromium over the DevTools protocol (on a pipe,
no port): what it asked for beyond itself, its errors, its plots as drawn,
its print on A4, and a screenshot."""
import base64
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe", "--hide-scrollbars"]

# Each plot's size on the page and its drawn lines of positive length.
PLOTS = """JSON.stringify([...document.querySelectorAll('figure svg')].map(s => {
  const r = s.getBoundingClientRect();
  const drawn = [...s.querySelectorAll('polyline')].filter(p => p.getTotalLength() > 0);
  return {width: r.width, height: r.height, lines: drawn.length,
          dots: s.querySelectorAll('circle').length};
}))"""


# The browser reads the protocol from fd 3 and writes to fd 4: a small
# Python program puts the pipes' ends there and becomes the browser.
TRAMPOLINE = "import fcntl, os, sys\n" \
             "ends = [fcntl.fcntl(int(fd), fcntl.F_DUPFD, 10) for fd in sys.argv[1:3]]\n" \
             "os.dup2(ends[0], 3)\nos.dup2(ends[1], 4)\nos.execv(sys.argv[3], sys.argv[3:])"


class DevTools:
    def __init__(self, profile):
        to_browser, self.write_end = os.pipe()
        self.read_end, from_browser = os.pipe()
        browser = shutil.which("chromium")
        self.process = subprocess.Popen(
            [sys.executable, "-c", TRAMPOLINE, str(to_browser), str(from_browser), browser] +
            FLAGS + [f"--user-data-dir={profile}"], pass_fds=(to_browser, from_browser),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer = b""
        self.events = []
        self.next_id = 0

    def call(self, method, session=None, timeout=60, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.write_end, json.dumps(message).encode() + b"\0")
        reply = self.wait(lambda m: m.get("id") == self.next_id, timeout)
        if "error" in reply:
            raise RuntimeError(f"{method}: {reply['error']}")
        return reply.get("result", {})

    def wait(self, wanted, timeout=60):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            while b"\0" in self.buffer:
                raw, self.buffer = self.buffer.split(b"\0", 1)
                message = json.loads(raw)
                if "method" in message:
                    self.events.append(message)
                if wanted(message):
                    return message
            chunk = os.read(self.read_end, 1 << 16)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.buffer += chunk
        raise RuntimeError("no answer from the browser in time")

    def close(self):
        self.process.terminate()
        self.process.wait(30)
        os.close(self.write_end)
        os.close(self.read_end)


def open_page(path, screenshot):
    """The page at `path`: (problems, plots, pdf pages); a PNG of the whole
    page at `screenshot`."""
    # As the browser writes it: any name percent-encoded.
    url = pathlib.Path(os.path.abspath(path)).as_uri()
    # Chromium's helper processes may still write to the profile a moment
    # after the browser has gone: it is removed once they have let go.
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as profile:
        tools = DevTools(profile)
        try:
            target = tools.call("Target.createTarget", url="about:blank")["targetId"]
            session = tools.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
            for domain in ("Network", "Log", "Runtime", "Page"):
                tools.call(f"{domain}.enable", session)
            tools.call("Emulation.setDeviceMetricsOverride", session, width=1000, height=1400,
                       deviceScaleFactor=1, mobile=False)
            tools.call("Page.navigate", session, url=url)
            tools.wait(lambda m: m.get("method") == "Page.loadEventFired")
            plots = json.loads(tools.call("Runtime.evaluate", session, expression=PLOTS,
                                          returnByValue=True)["result"]["value"])
            size = tools.call("Page.getLayoutMetrics", session)["cssContentSize"]
            shot = tools.call("Page.captureScreenshot", session, format="png",
                              captureBeyondViewport=True,
                              clip={"x": 0, "y": 0, "width": 1000, "height": size["height"],
                                    "scale": 1})
            with open(screenshot, "wb") as f:
                f.write(base64.b64decode(shot["data"]))
            pdf = base64.b64decode(tools.call("Page.printToPDF", session, paperWidth=8.27,
                                              paperHeight=11.69, printBackground=True)["data"])
        finally:
            tools.close()
    problems = []
    for event in tools.events:
        method, params = event["method"], event.get("params", {})
        if method == "Network.requestWillBeSent" and params["request"]["url"] != url:
            problems.append("asked for " + params["request"]["url"])
        elif method == "Network.loadingFailed":
            problems.append("failed to load: " + params.get("errorText", ""))
        elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
            problems.append("error: " + params["entry"]["text"])
        elif method == "Runtime.exceptionThrown":
            problems.append("exception: " + json.dumps(params["exceptionDetails"]))
    pages = pdf.count(b"/Type /Page") - pdf.count(b"/Type /Pages")
    return problems, plots, pages
