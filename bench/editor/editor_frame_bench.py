"""The editor page's frame time in headless Chromium: 20 tracks of 1,000 keys while the show
plays and the playhead moves, (a) with the whole show in view (only the playhead moves) and
(b) following the playhead closely (every lane redrawn every frame). Measured with the
requestAnimationFrame timestamps of the page itself, wrapped before the page loads: once at
the display's rate (60 Hz: a frame that keeps up takes 16.7 ms) and once with the frame rate
limit lifted, where the time between frames is what a frame costs. Target: median under 16 ms.

Usage: /usr/bin/python3 bench/editor/editor_frame_bench.py BUILD_DIR [SECONDS]"""
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "host", "editor"))
from editor_browser import Session  # noqa: E402

# Every frame callback's start (the rAF timestamp) and how long the page's work in it took.
WRAP_FRAMES = """
(() => {
  const raf = window.requestAnimationFrame.bind(window);
  window.__frames = [];
  window.requestAnimationFrame = (callback) => raf((stamp) => {
    const start = performance.now();
    callback(stamp);
    window.__frames.push([stamp, performance.now() - start]);
  });
})();
"""


def large_source(show):
    lines = ["# 20 tracks of 1,000 keys"]
    for t in range(20):
        lines += ["", f"track t{t}"]
        for k in range(1000):
            lines.append(f"  r{k * 2:<8} {(k * 37 % 100) / 100:<10} {'linear' if k % 2 else 'smooth'}")
    with open(os.path.join(show, "data", "sync", "show.tracks"), "w") as f:
        f.write("\n".join(lines) + "\n")


def measure(driver, seconds):
    driver.execute_script("window.__frames = []")
    time.sleep(seconds)
    frames = driver.execute_script("return window.__frames")
    intervals = [b[0] - a[0] for a, b in zip(frames, frames[1:])]
    work = [f[1] for f in frames]
    return intervals, work


def show(label, intervals, work):
    q = lambda xs, p: sorted(xs)[min(len(xs) - 1, int(p * len(xs)))]  # noqa: E731
    print(f"  {label}: {len(intervals)} frames; frame time median {statistics.median(intervals):.2f} ms, "
          f"95% {q(intervals, 0.95):.2f} ms; page work per frame median {statistics.median(work):.2f} ms, "
          f"95% {q(work, 0.95):.2f} ms")


def run(program, seconds, title, flags):
    session = Session(program, os.path.join(ROOT, "data"), play=True, prepare=large_source, browser_flags=flags,
                      before_load=lambda d: d.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                                              {"source": WRAP_FRAMES}))
    try:
        d = session.driver
        keys = d.execute_script("return window.editor.state().tracks.reduce((n, t) => n + t.keys.length, 0)")
        print(f"editor page, headless Chromium, 20 tracks, {keys} keys, {title}")
        time.sleep(1)
        show("whole show in view, playhead moving", *measure(d, seconds))
        d.execute_script("window.editor.zoomToRows(0, 240)")
        d.find_element("id", "follow").click()
        show("following the playhead (10 s in view), all lanes redrawn", *measure(d, seconds))
        d.execute_script("window.editor.zoomToRows(0, 2208)")
        show("following the playhead (whole show in view)", *measure(d, seconds))
    finally:
        session.close()


def main():
    build = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5
    program = os.path.join(build, "tests", "authoring", "editor", "editor_page_server")
    print("editor page frame time (target: median under 16 ms)")
    run(program, seconds, "at the display's rate (60 Hz)", ())
    run(program, seconds, "frame rate limit lifted", ("--disable-frame-rate-limit", "--disable-gpu-vsync"))


if __name__ == "__main__":
    main()
