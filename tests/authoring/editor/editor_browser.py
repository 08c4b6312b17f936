"""The editor page in a real browser: headless Chromium driven by Selenium, serving the page from
editor_page_server (the editor's real server over a copy of the show's data, driving the
development mode's real control surface answered by a frame loop of the test's own) or from the
real player in development mode over a show of the probe module. Shared by the browser tests and
the editor's benchmarks. Needs Debian's python3-selenium, chromium and chromium-driver; the
machine's network may be closed, so Chromium is kept from reaching out."""
import math
import os
import queue
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import wave

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
        """The first request line the show took (after '# show: ') that satisfies predicate, or None."""
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
            if line.startswith("# show: "):
                self.requests.append(line[len("# show: "):])
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


def free_port():
    """A port on the loopback interface that nothing listens on (at this moment)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_probe_show(root, player, plugins, data, synctool, source, seconds=30):
    """A show of the probe module: bin/ with the player and the probe, data/ with the default
    shaders and textures, the probe's program, seconds of music, and the track source (compiled)."""
    os.makedirs(os.path.join(root, "bin", "dll_cache"))
    shutil.copy(player, os.path.join(root, "bin", "demoplayer"))
    shutil.copy(os.path.join(plugins, "render_probe.so"), os.path.join(root, "bin"))
    for name in ("shaders/default.vert", "shaders/default.frag", "textures/default_white.png",
                 "textures/default_black.png"):
        os.makedirs(os.path.dirname(os.path.join(root, "data", name)), exist_ok=True)
        shutil.copy(os.path.join(data, name), os.path.join(root, "data", name))
    with open(os.path.join(root, "data", "shaders", "probe.vert"), "w") as f:
        f.write("#version 330\nlayout(location = 0) in vec4 position;\nvoid main() { gl_Position = position; }\n")
    with open(os.path.join(root, "data", "shaders", "probe.frag"), "w") as f:
        f.write("#version 330\nout vec4 c;\nvoid main() { c = vec4(0.0, 0.5, 1.0, 1.0); }\n")
    os.makedirs(os.path.join(root, "data", "muzak"))
    rate = 22050
    with wave.open(os.path.join(root, "data", "muzak", "recut.mp3"), "wb") as w:  # the decoder goes by content
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", int(6000 * math.sin(2 * math.pi * 220 * i / rate)))
                               for i in range(seconds * rate)))
    sync = os.path.join(root, "data", "sync")
    os.makedirs(sync)
    with open(os.path.join(sync, "show.tracks"), "w") as f:
        f.write(source)
    subprocess.run([synctool, "compile", os.path.join(sync, "show.tracks"), sync], check=True, capture_output=True)


class Player:
    """demoplayer --dev in the show's bin/ (as made by make_probe_show), its terminal lines read as
    they come."""

    def __init__(self, root, port, env=None):
        self.process = subprocess.Popen(["./demoplayer", "--dev", "--editor-port", str(port)],
                                        cwd=os.path.join(root, "bin"), stdin=subprocess.DEVNULL, env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        for stream in (self.process.stdout, self.process.stderr):
            threading.Thread(target=self._read, args=(stream,), daemon=True).start()
        self.seen = []

    def _read(self, stream):
        for line in stream:
            self.lines.put(line.rstrip("\n"))

    def wait_line(self, pattern, timeout=60):
        """The first terminal line matching pattern (a regular expression), or None."""
        deadline = time.time() + timeout
        for line in self.seen:
            if re.search(pattern, line):
                return line
        while time.time() < deadline:
            try:
                line = self.lines.get(timeout=0.1)
            except queue.Empty:
                if self.process.poll() is not None and self.lines.empty():
                    return None
                continue
            self.seen.append(line)
            if re.search(pattern, line):
                return line
        return None

    def stop(self):
        """Ends it from the terminal (as Ctrl-C does); its exit status (-SIGINT: it ended by the signal,
        as it should), None when it hung."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
        try:
            return self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None
