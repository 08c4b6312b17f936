"""The editor page in headless Chromium against the editor's real server over a copy of the
show's data: every track is shown, dragging a key changes the source and the compiled track,
the ruler seeks, Space pauses, undo gives back the file byte for byte; the page's curve
formulas give exactly the player's values; and a change sent while another program writes the
source is sent again until the file is whole; a page pushed out by newer ones says so and comes
back when used.

Usage: editor_page_test.py EDITOR_PAGE_SERVER DATA_DIR"""
import json
import os
import re
import socket
import struct
import subprocess
import sys
import unittest
import urllib.parse

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from editor_browser import Session, wait_for  # noqa: E402

PROGRAM, DATA = sys.argv[1], sys.argv[2]


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def track_keys(path):
    """A .track file's keys as (row, value, interpolation)."""
    data = read(path, "rb")
    count = struct.unpack_from("<i", data)[0]
    return [struct.unpack_from("<ifb", data, 4 + 9 * i) for i in range(count)]


def drag(driver, start, end, steps=6):
    actions = ActionChains(driver)
    pointer = actions.w3c_actions.pointer_action
    pointer.move_to_location(round(start["x"]), round(start["y"]))
    pointer.pointer_down()
    for i in range(1, steps + 1):
        pointer.move_to_location(round(start["x"] + (end["x"] - start["x"]) * i / steps),
                                 round(start["y"] + (end["y"] - start["y"]) * i / steps))
    pointer.pointer_up()
    actions.perform()


class EditorPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = Session(PROGRAM, DATA)
        cls.driver = cls.session.driver
        cls.source_path = os.path.join(cls.session.show, "data", "sync", "show.tracks")
        cls.original = read(cls.source_path, "rb")
        cls.original_tracks = {n: read(os.path.join(cls.session.show, "data", "sync", n), "rb")
                               for n in os.listdir(os.path.join(cls.session.show, "data", "sync")) if n.endswith(".track")}

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def version(self):
        return self.driver.execute_script("return window.editor.state().version")

    def test_1_every_track_is_shown(self):
        names = re.findall(r"^track\s+(\S+)", self.original.decode(), re.M)
        self.assertEqual(len(names), 20)
        labels = self.driver.find_elements(By.CSS_SELECTOR, ".lane-label")
        self.assertEqual([label.get_attribute("data-track") for label in labels], names)
        self.assertTrue(labels[0].is_displayed())
        self.assertEqual(labels[0].text.split("\n")[0], names[0])
        self.assertEqual(self.driver.execute_script("return window.editor.trackNames()"), names)

    def test_2_dragging_a_key_changes_the_source_and_the_compiled_track(self):
        # kick's key at 32:0 (row 256), seen closely: two rows later and a little higher.
        self.driver.execute_script("window.editor.zoomToRows(236, 300)")
        start = wait_for(self.driver, "return window.editor.keyPosition('kick', 256)", message="kick 32:0 on screen")
        per_row = self.driver.execute_script("return window.editor.pixelsPerRow()")
        before = self.version()
        drag(self.driver, start, {"x": start["x"] + 2 * per_row, "y": start["y"] - 12})
        wait_for(self.driver, f"return window.editor.state().version > {before}", message="the moved key's state")
        text = read(self.source_path)
        self.assertNotIn("\n  32:0     0.75       linear\n", text)
        moved = re.search(r"\n  32:2     (\S+)\s+linear\n", text)
        self.assertIsNotNone(moved, "no key at 32:2 in the source")
        value = float(moved.group(1))
        self.assertGreater(value, 0.75)
        # Everything else of the file is as it was.
        self.assertEqual(text.replace(moved.group(0), "\n  32:0     0.75       linear\n"), self.original.decode())
        keys = track_keys(os.path.join(self.session.show, "data", "sync", "_kick.track"))
        rows = [k[0] for k in keys]
        self.assertIn(258, rows)
        self.assertNotIn(256, rows)
        self.assertEqual(keys[rows.index(258)][1], struct.unpack("<f", struct.pack("<f", value))[0])
        self.assertIsNotNone(self.session.server.wait_request(lambda r: r == "tracks"), "the show got no tracks")

    def test_3_clicking_the_ruler_seeks(self):
        self.driver.execute_script("window.editor.zoomToRows(0, 2208)")
        at = self.driver.execute_script("return window.editor.rulerPosition(30000)")
        ms_per_px = 1000 / 24 / self.driver.execute_script("return window.editor.pixelsPerRow()")
        actions = ActionChains(self.driver)
        actions.w3c_actions.pointer_action.move_to_location(round(at["x"]), round(at["y"])).click()
        actions.perform()
        seek = self.session.server.wait_request(lambda r: r.startswith("seek "))
        self.assertIsNotNone(seek, "no seek reached the show")
        self.assertLessEqual(abs(int(seek.split()[1]) - 30000), ms_per_px)
        wait_for(self.driver, "return Math.abs(window.editor.player().music_ms - 30000) < 100", message="the seek pushed back")

    def test_4_space_pauses_and_resumes(self):
        body = self.driver.find_element(By.TAG_NAME, "body")
        paused = self.driver.execute_script("return window.editor.player().paused")
        ActionChains(self.driver).send_keys_to_element(body, Keys.SPACE).perform()
        self.assertIsNotNone(self.session.server.wait_request(lambda r: r == "toggle"), "Space sent no pause")
        wait_for(self.driver, f"return window.editor.player().paused === {'false' if paused else 'true'}",
                 message="the play state pushed back")

    def test_5_undo_restores_the_file_byte_for_byte(self):
        before = self.version()
        body = self.driver.find_element(By.TAG_NAME, "body")
        ActionChains(self.driver).key_down(Keys.CONTROL).send_keys_to_element(body, "z").key_up(Keys.CONTROL).perform()
        wait_for(self.driver, f"return window.editor.state().version > {before}", message="the undone state")
        self.assertEqual(read(self.source_path, "rb"), self.original)
        sync = os.path.join(self.session.show, "data", "sync")
        for name, data in self.original_tracks.items():
            self.assertEqual(read(os.path.join(sync, name), "rb"), data, name)
        history = self.driver.execute_script("return window.editor.state().history")
        self.assertEqual(history["undo"], [])
        self.assertEqual(len(history["redo"]), 1)

    def test_6_curve_formulas_give_the_players_values(self):
        cases = json.loads(subprocess.run([PROGRAM, "curves"], check=True, capture_output=True, text=True).stdout)
        results = self.driver.execute_async_script("""
            const [cases, done] = arguments;
            import('/curve.js').then((curve) => {
              const exact = (x) => Number.isFinite(x) ? x : String(x);
              done(cases.map((c) => {
                const keys = curve.keysFromJson(c.keys);
                return {values: c.rows.map((r) => exact(curve.valueAt(keys, r))),
                        read: c.times_ms.map((ms) => exact(curve.getValue(keys, ms)))};
              }));
            }, (err) => done(String(err)));""", cases)
        self.assertIsInstance(results, list, results)
        self.assertEqual(len(results), len(cases))
        checked = 0
        for case, got in zip(cases, results):
            for row, want, value in zip(case["rows"], case["values"], got["values"]):
                self.assertEqual(value, want, f"{case['keys']} at row {row}")
                checked += 1
            for ms, want, value in zip(case["times_ms"], case["read"], got["read"]):
                self.assertEqual(value, want, f"{case['keys']} at {ms} ms")
                checked += 1
        self.assertEqual(checked, sum(len(c["rows"]) + len(c["times_ms"]) for c in cases))

    def test_7_a_change_while_another_program_writes_the_source_waits_for_it(self):
        before = self.version()
        redone = self.driver.execute_script("return window.editor.state().history.redo.length")
        self.assertEqual(redone, 1, "test 5 leaves one step to redo")
        body = self.driver.find_element(By.TAG_NAME, "body")
        with open(self.source_path, "r+b"):  # open for writing, as a text editor that saves in place
            ActionChains(self.driver).key_down(Keys.CONTROL).key_down(Keys.SHIFT).send_keys_to_element(body, "z") \
                .key_up(Keys.SHIFT).key_up(Keys.CONTROL).perform()
            wait_for(self.driver, "return document.getElementById('notice').textContent.includes('trying again')",
                     message="the page's notice of the file being written")
            self.assertEqual(read(self.source_path, "rb"), self.original)
        wait_for(self.driver, f"return window.editor.state().version > {before}", message="the redo sent again")
        self.assertNotEqual(read(self.source_path, "rb"), self.original)
        self.assertEqual(self.driver.execute_script("return window.editor.state().history.redo.length"), 0)

    def test_8_a_page_pushed_out_by_newer_ones_says_so_and_follows_again_when_used(self):
        url = urllib.parse.urlsplit(self.session.server.url)
        token = urllib.parse.parse_qs(url.query)["token"][0]
        streams = []
        try:
            # Eight event streams from elsewhere: this page's, the oldest, gives way.
            for _ in range(8):
                s = socket.create_connection(("127.0.0.1", url.port), timeout=10)
                s.sendall(f"GET /api/events?token={token} HTTP/1.1\r\nHost: 127.0.0.1:{url.port}\r\n\r\n".encode())
                streams.append(s)
                heard = b""
                while b"event: state" not in heard:
                    got = s.recv(65536)
                    self.assertTrue(got, "a stream was closed before its state")
                    heard += got
            wait_for(self.driver, "return document.getElementById('notice').textContent.includes("
                                  "'Another page of the editor was opened')", message="the notice of the page pushed out")
        finally:
            for s in streams:
                s.close()
        # Used again, it follows the player again (pushing out the oldest other page).
        ActionChains(self.driver).move_to_element(self.driver.find_element(By.ID, "history")).click().perform()
        wait_for(self.driver, "return document.getElementById('notice').hidden", message="the page following again")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
