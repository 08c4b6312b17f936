"""The editor page in a real browser: headless Chromium driven by Selenium, serving the page from
editor_page_server (the editor's real server over a copy of the show's data, with the stand-in
for the player's development mode). Shared by the browser test and the browser benchmark.
Needs Debian's python3-selenium, chromium and chromium-driver; the machine's network may be
closed, so Chromium is kept from reaching out."""
import os
import queue
import shutil
import subprocess
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def copy_show(data_dir, into):
    """The show's sync tracks and music (with its timeline) under into/data."""
    for sub in ("sync", "muzak"):
        shutil.copytree(os.path.join(data_dir, sub), os.path.join(into, "data", sub))


class PageServer:
    """editor_page_server on a show folder; its address, and the lines of what it asked the show."""

    def __init__(self, program, show_dir, play=False):
        args = [program, show_dir] + (["--play"] if play else [])
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        first = self.lines.get(timeout=30)
        if not first.startswith("# editor: http://127.0.0.1:"):
            raise RuntimeError(f"editor_page_server said {first!r}: {self.process.stderr.read()}")
        self.url = first.split(" ")[2]
        self.requests = []

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_request(self, predicate, timeout=10):
        """The first request line (after '# stand-in: ') that satisfies predicate, or None."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            for r in self.requests:
                if predicate(r):
                    self.requests.remove(r)
                    return r
            try:
                line = self.lines.get(timeout=0.1)
            except queue.Empty:
                continue
            if line.startswith("# stand-in: "):
                self.requests.append(line[len("# stand-in: "):])
        return None

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


def start_browser(profile_dir, width=1400, height=900, extra_flags=()):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in (*extra_flags, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={profile_dir}", f"--window-size={width},{height}"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def wait_for(driver, script, timeout=20, message="the page"):
    """Runs script (which returns a value) until it gives something true; returns that."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = driver.execute_script(script)
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"{message}: timed out waiting for {script}")


class Session:
    """A temporary show folder, the page server on it and a browser showing the page."""

    def __init__(self, program, data_dir, play=False, prepare=None, before_load=None, browser_flags=()):
        self.dir = tempfile.mkdtemp(prefix="editor-page-")
        self.show = os.path.join(self.dir, "show")
        copy_show(data_dir, self.show)
        if prepare:
            prepare(self.show)
        self.server = PageServer(program, self.show, play)
        self.driver = start_browser(os.path.join(self.dir, "profile"), extra_flags=browser_flags)
        if before_load:
            before_load(self.driver)
        self.driver.get(self.server.url)
        wait_for(self.driver, "return window.editor && window.editor.state() && window.editor.trackNames().length",
                 message="the first state")

    def close(self):
        try:
            self.driver.quit()
        finally:
            self.server.stop()
            shutil.rmtree(self.dir, ignore_errors=True)
