"""From an edit arriving at the editor's server to (a) the source file being safely on disk (the
server answers an edit only after the file and its compiled tracks are written, synced and
renamed into place) and (b) the first frame in which the module reads the new value: the real
demoplayer --dev playing a show of the probe module, which logs the value it reads and the
monotonic clock (the same clock as Python's time.monotonic) in every frame. Each round moves a
key's value while the show plays in a loop past that key. Target: both under 50 ms.

Usage: /usr/bin/python3 bench/editor/editor_live_bench.py BUILD_DIR [ROUNDS]
Without a display it uses SDL's offscreen driver; without a sound card SDL's dummy audio."""
import json
import os
import random
import re
import statistics
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "authoring", "editor"))
from editor_browser import Player, free_port, make_probe_show  # noqa: E402

SOURCE = "track scene_probe\n  0:0 1 step\ntrack probe_value\n  0:0 0.5 step\n  4:0 1.0 step\n"
KEY_ROW = 32  # 4:0, at 1333 ms; the loop plays 2 s to 6 s, past it


def post(base, token, verb, body):
    request = urllib.request.Request(f"{base}/api/{verb}", data=json.dumps(body).encode(), method="POST",
                                     headers={"Content-Type": "application/json", "X-Editor-Token": token})
    with urllib.request.urlopen(request, timeout=10) as reply:
        return json.loads(reply.read())


def get(base, token, what):
    request = urllib.request.Request(f"{base}/api/{what}", headers={"X-Editor-Token": token})
    with urllib.request.urlopen(request, timeout=10) as reply:
        return json.loads(reply.read())


def first_read(log, value, after_us, timeout=2.0):
    """The monotonic time (us) of the first frame after after_us in which the probe read value."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        with open(log) as f:
            text = f.read()
        for m in re.finditer(r"^v\d+ render -?\d+ (\S+) (\d+)$", text, re.M):
            if int(m.group(2)) > after_us and float(m.group(1)) == value:
                return int(m.group(2))
        time.sleep(0.002)
    return None


def summary(values):
    return f"median {statistics.median(values):6.1f} ms  max {max(values):6.1f} ms"


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    env = dict(os.environ)
    if not env.get("DISPLAY"):
        env["SDL_VIDEODRIVER"] = "offscreen"
    if not os.path.exists("/dev/snd"):
        env["SDL_AUDIODRIVER"] = "dummy"
    with tempfile.TemporaryDirectory(prefix="editor-live-") as dir:
        show = os.path.join(dir, "show")
        make_probe_show(show, os.path.join(build, "show", "bin", "demoplayer"), os.path.join(build, "tests", "plugins"),
                        os.path.join(ROOT, "data"), os.path.join(build, "tools", "synctool"), SOURCE, seconds=10)
        player = Player(show, free_port(), env)
        try:
            line = player.wait_line(r"^# editor: ")
            if not line:
                sys.exit("the player printed no editor address:\n" + "\n".join(player.seen))
            url = line.split(" ")[2]
            base, token = url.split("/?token=")
            post(base, token, "loop", {"start_ms": 2000, "end_ms": 6000})
            post(base, token, "seek", {"ms": 2000})
            version = get(base, token, "state")["version"]
            log = os.path.join(show, "probe.log")
            time.sleep(1.0)
            disk, frame = [], []
            for i in range(rounds):
                value = round(2.0 + i * 0.125, 3)  # exact in single precision
                time.sleep(random.uniform(0.05, 0.15))  # edits land anywhere within a frame
                sent = time.monotonic()
                answer = post(base, token, "edit", {"version": version, "op": "move",
                                                    "keys": [{"track": "probe_value", "row": KEY_ROW, "value": value}]})
                answered = time.monotonic()
                version = answer["version"]
                read = first_read(log, value, int(sent * 1e6))
                disk.append((answered - sent) * 1000)
                if read is not None:
                    frame.append((read / 1e6 - sent) * 1000)
            load = os.getloadavg()
            print(f"editor edit -> show ({rounds} edits, the probe show playing; load average {load[0]:.2f}):")
            print(f"  source and tracks on disk (the edit's answer)  {summary(disk)}")
            if frame:
                print(f"  first frame reading the new value ({len(frame):2d} seen)   {summary(frame)}")
            else:
                print("  no frame read the new value")
        finally:
            player.stop()


if __name__ == "__main__":
    main()
