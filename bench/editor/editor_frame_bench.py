"""The editor page's frame time in headless Chromium: 20 tracks of 1,000 keys while the show
plays and the playhead moves, (a) with the whole show in view (only the playhead moves),
(b) following the playhead closely (every lane redrawn every frame), and (c) during a live drag
of a whole track's 1,000 keys, the pointer moving every 16 ms and the show given each new
value (every lane and the values beside the names redrawn, the preview sent to the player).
Measured with the requestAnimationFrame timestamps of the page itself, wrapped before the page
loads, with the time its pointer handlers take counted into the frame that follows them: once
at the display's rate (60 Hz: a frame that keeps up takes 16.7 ms) and once with the frame rate
limit lifted, where the time between frames is what a frame costs. Target: the page's own work
per frame under 16 ms.

Usage: /usr/bin/python3 bench/editor/editor_frame_bench.py BUILD_DIR [SECONDS]"""
import math
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "authoring", "editor"))
from editor_browser import Session  # noqa: E402

# Every frame callback's start (the rAF timestamp) and how long the page's work in it took,
# with the pointer handlers' time since the frame before.
WRAP_FRAMES = """
(() => {
  const raf = window.requestAnimationFrame.bind(window);
  window.__frames = [];
  let handlers = 0;
  window.requestAnimationFrame = (callback) => raf((stamp) => {
    const start = performance.now();
    callback(stamp);
    window.__frames.push([stamp, performance.now() - start + handlers]);
    handlers = 0;
  });
  const add = EventTarget.prototype.addEventListener;
  EventTarget.prototype.addEventListener = function (type, listener, options) {
    if (type !== 'pointermove' || typeof listener !== 'function') return add.call(this, type, listener, options);
    return add.call(this, type, function (e) {
      const start = performance.now();
      const result = listener.call(this, e);
      handlers += performance.now() - start;
      return result;
    }, options);
  };
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


def drag_measure(driver, seconds):
    """A whole track's keys (t5, 1,000) dragged up and down for seconds, the pointer moving
    every 16 ms; the frames while the drag is held."""
    from selenium.webdriver.common.action_chains import ActionChains
    label = driver.execute_script("return window.editor.labelPosition('t5')")
    actions = ActionChains(driver)
    actions.w3c_actions.pointer_action.move_to_location(round(label["x"]), round(label["y"])).click()
    actions.perform()
    start = driver.execute_script("return window.editor.keyPosition('t5', 200)")
    driver.execute_script("window.__frames = []")
    actions = ActionChains(driver, duration=0)
    pointer = actions.w3c_actions.pointer_action
    pointer.move_to_location(round(start["x"]), round(start["y"])).pointer_down()
    steps = int(seconds * 1000 / 16)
    for i in range(steps):
        pointer.move_to_location(round(start["x"]), round(start["y"] - 20 * math.sin(i / 20)))
        pointer.pause(0.016)
    pointer.pointer_up()
    began = time.time()
    actions.perform()
    held = time.time() - began
    frames = driver.execute_script("return window.__frames")
    previews = driver.execute_script("return window.editor.state().version")
    intervals = [b[0] - a[0] for a, b in zip(frames, frames[1:])]
    work = [f[1] for f in frames]
    driver.execute_script("document.dispatchEvent(new KeyboardEvent('keydown', {key: 'z', ctrlKey: true}))")
    return intervals, work, held, previews


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
        d.find_element("id", "follow").click()
        d.execute_script("window.editor.zoomToRows(0, 480)")
        intervals, work, held, _ = drag_measure(d, seconds)
        show(f"live drag of 1,000 keys held {held:.1f} s (20 s of show in view)", intervals, work)
    finally:
        session.close()


def main():
    build = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5
    program = os.path.join(build, "tests", "authoring", "editor", "editor_page_server")
    print("editor page frame time (target: the page's own work per frame under 16 ms)")
    run(program, seconds, "at the display's rate (60 Hz)", ())
    run(program, seconds, "frame rate limit lifted", ("--disable-frame-rate-limit", "--disable-gpu-vsync"))


if __name__ == "__main__":
    main()
