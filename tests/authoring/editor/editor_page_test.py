"""The editor page in headless Chromium against the editor's real server over a copy of the
show's data: every track is shown, dragging a key changes the source and the compiled track,
the ruler seeks to the grid, Space pauses, undo gives back the file byte for byte; the page's
curve formulas give exactly the player's values; and a change sent while another program writes
the source is sent again until the file is whole; a page pushed out by newer ones says so and
comes back when used. Then the daily work: exact entry with expressions, a live drag that the
show plays before it is saved, copy and paste across tracks onto occupied rows, a track deleted
and brought back, the playhead moved by the keyboard and a key put at it.

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


def pointer_path(driver, start, end, steps=6, down=True, up=True):
    """Moves the mouse from start to end in steps, pressing at the start and letting go at the
    end as asked: a drag can be held between two calls."""
    actions = ActionChains(driver)
    pointer = actions.w3c_actions.pointer_action
    pointer.move_to_location(round(start["x"]), round(start["y"]))
    if down:
        pointer.pointer_down()
    for i in range(1, steps + 1):
        pointer.move_to_location(round(start["x"] + (end["x"] - start["x"]) * i / steps),
                                 round(start["y"] + (end["y"] - start["y"]) * i / steps))
    if up:
        pointer.pointer_up()
    actions.perform()


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

    def test_3_clicking_the_ruler_seeks_to_the_grid(self):
        # The whole show in view: a bar (32 rows) is the finest grid whose lines stand 5 px apart.
        self.driver.execute_script("window.editor.zoomToRows(0, 2208)")
        per_row = self.driver.execute_script("return window.editor.pixelsPerRow()")
        self.assertTrue(5 / 32 <= per_row < 5 / 8, per_row)
        # 29.7 s is row 712.8, nearest the bar line at row 704 (22:0), whose first millisecond is
        # 29334 (704 rows at 24 a second end at 29333.3 ms).
        at = self.driver.execute_script("return window.editor.rulerPosition(29700)")
        actions = ActionChains(self.driver)
        actions.w3c_actions.pointer_action.move_to_location(round(at["x"]), round(at["y"])).click()
        actions.perform()
        seek = self.session.server.wait_request(lambda r: r.startswith("seek "))
        self.assertIsNotNone(seek, "no seek reached the show")
        self.assertEqual(seek, "seek 29334")
        wait_for(self.driver, "return window.editor.player().music_ms === 29334", message="the seek pushed back")
        # The clock is drawn on the page's next animation frame, which a busy machine delays.
        wait_for(self.driver, "return window.editor.clock().beat === '88:0'", message="the clock at 88:0")

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

    # ---- daily work: each test starts from the file the one before left ----
    def press(self, *keys, times=1):
        """Keys to the page as they are (no click first: a click would select and focus)."""
        actions = ActionChains(self.driver)
        for _ in range(times):
            for k in keys[:-1]:
                actions.key_down(k)
            actions.send_keys(keys[-1])
            for k in reversed(keys[:-1]):
                actions.key_up(k)
        actions.perform()

    def holding(self, key, pointer_actions):
        """Runs pointer_actions(pointer) with key held down all along (a key released in the same
        batch would be up again before the pointer's first step)."""
        if key:
            ActionChains(self.driver).key_down(key).perform()
        actions = ActionChains(self.driver)
        pointer_actions(actions.w3c_actions.pointer_action)
        actions.perform()
        if key:
            ActionChains(self.driver).key_up(key).perform()

    def click(self, at, shift=False):
        self.holding(Keys.SHIFT if shift else None, lambda p: p.move_to_location(round(at["x"]), round(at["y"])).click())

    def pause(self):
        """Test 4 left the show playing; the playhead's steps are checked where it stands."""
        if not self.driver.execute_script("return window.editor.player().paused"):
            self.press(Keys.SPACE)
            wait_for(self.driver, "return window.editor.player().paused === true", message="paused")

    def key_at(self, track, row):
        return wait_for(self.driver, f"return window.editor.keyPosition('{track}', {row})", message=f"{track} {row} on screen")

    def changed_by(self, before, steps=1):
        """Waits for the state after steps more changes; returns the history's last label."""
        wait_for(self.driver, f"return window.editor.state().version >= {before + steps}",
                 message="the change (the page says: " + self.driver.execute_script(
                     "return document.getElementById('notice').textContent") + ")")
        return self.driver.execute_script("const u = window.editor.state().history.undo; return u[u.length - 1]")

    def type_entry(self, value=None, position=None):
        self.press(Keys.ENTER)
        box = wait_for(self.driver, "const b = document.getElementById('entry'); return !b.hidden && b",
                       message="the entry box")
        self.assertIsNotNone(box)
        for field, text in (("entry-value", value), ("entry-position", position)):
            if text is not None:
                element = self.driver.find_element(By.ID, field)
                element.clear()
                element.send_keys(text)
        self.driver.find_element(By.ID, "entry-value").send_keys(Keys.ENTER)

    def test_9_a_exact_entry_sets_and_changes_every_selected_key(self):
        self.driver.execute_script("window.editor.zoomToRows(120, 150)")
        before = self.version()
        self.click(self.key_at("kick", 128))
        self.type_entry("0.75")
        self.assertEqual(self.changed_by(before), "set kick 16:0 to 0.75 (was 0.55)")
        self.assertIn("\n  16:0     0.75       linear\n", read(self.source_path))
        # Two keys, each one 0.1 higher and a row later: 0.75 + 0.1 and 0.55 + 0.1, as written in
        # the source (0.55 as a float plus 0.1 would be 0.6500000119, not 0.65).
        self.click(self.key_at("kick", 128))
        self.click(self.key_at("kick", 136), shift=True)
        self.assertEqual(len(self.driver.execute_script("return window.editor.selection()")), 2)
        self.assertEqual(self.driver.find_element(By.ID, "selection-info").text, "2 keys on kick")
        self.type_entry("+0.1", "+0:1")
        self.assertEqual(self.changed_by(before + 1), "move 2 keys on kick by +0:1 and change their values")
        text = read(self.source_path)
        self.assertIn("\n  16:1     0.85       linear\n  16:3     0.1375     linear\n", text)
        self.assertIn("\n  17:1     0.65       linear\n  17:3     0.1375     linear\n", text)
        keys = dict((k[0], k[1]) for k in track_keys(os.path.join(self.session.show, "data", "sync", "_kick.track")))
        self.assertEqual(keys[129], struct.unpack("<f", struct.pack("<f", 0.85))[0])
        self.assertNotIn(128, keys)
        self.assertEqual(sorted(k["row"] for k in self.driver.execute_script("return window.editor.selection()")), [129, 137])
        # What is not a number is refused in the box, and nothing is sent.
        self.type_entry("0.7.5")
        wait_for(self.driver, "return document.getElementById('entry-message').textContent.includes('is not a number')",
                 message="the box's refusal")
        self.press(Keys.ESCAPE)
        self.assertEqual(self.version(), before + 2)

    def test_9_b_a_held_drag_plays_in_the_show_before_it_is_saved_as_one_step(self):
        self.driver.execute_script("window.editor.zoomToRows(150, 180)")
        start = self.key_at("kick", 160)  # 20:0, 0.55
        before, text_before = self.version(), read(self.source_path, "rb")
        self.session.server.requests.clear()
        # Up by 24 px with 2 px of sideways wobble: the value alone changes.
        pointer_path(self.driver, start, {"x": start["x"] + 2, "y": start["y"] - 24}, up=False)
        # Beside the pointer, the key and its value now; the show is given that value.
        tip = self.driver.find_element(By.ID, "drag-tip")
        shown = re.match(r"kick 20:0  (\S+)  \(value only\)$", tip.text)
        self.assertIsNotNone(shown, tip.text)
        shown = shown.group(1)
        self.assertGreater(float(shown), 0.55)
        preview = self.session.server.wait_request(lambda r: r.startswith("preview kick ") and f" 160={shown} " in r)
        self.assertIsNotNone(preview, f"the show was not given the dragged key at {shown}")
        self.assertNotIn(" 161=", preview)
        self.assertEqual(read(self.source_path, "rb"), text_before, "the source was written during the drag")
        self.assertEqual(self.version(), before)
        pointer_path(self.driver, {"x": start["x"] + 2, "y": start["y"] - 24}, {"x": start["x"] + 2, "y": start["y"] - 24},
                     steps=1, down=False)
        self.assertFalse(tip.is_displayed())
        self.assertEqual(self.changed_by(before), f"set kick 20:0 to {shown} (was 0.55)")
        self.assertIn(f"\n  20:0     {shown:<10} linear\n", read(self.source_path))
        self.assertEqual(self.driver.execute_script("return window.editor.state().version"), before + 1)
        self.press(Keys.CONTROL, "z")
        wait_for(self.driver, f"return window.editor.state().version === {before + 2}", message="the undone drag")
        self.assertEqual(read(self.source_path, "rb"), text_before)

    def test_9_c_a_bar_of_two_tracks_pasted_two_bars_later_replaces_what_is_on_its_rows(self):
        # Lanes of 40 px: kick and word_t (the twelfth lane) in view together.
        self.driver.execute_script("const r = document.getElementById('lane-height'); r.value = 40; "
                                   "r.dispatchEvent(new Event('input'))")
        self.assertEqual(self.driver.execute_script("return window.editor.laneHeight()"), 40)
        self.driver.execute_script("window.editor.zoomToRows(300, 420)")
        per_row = self.driver.execute_script("return window.editor.pixelsPerRow()")
        x0 = self.driver.execute_script("return window.editor.rulerPosition(1000 * 319.5 / 24).x")
        x1 = x0 + 32 * per_row
        for track, additive in (("kick", False), ("word_t", True)):
            lane = self.driver.execute_script(f"return window.editor.laneBox('{track}')")
            self.holding(Keys.SHIFT if additive else None,
                         lambda p: p.move_to_location(round(x0), round(lane["top"] + 1)).pointer_down()
                         .move_to_location(round(x1), round(lane["bottom"] - 1)).pointer_up())
        selected = self.driver.execute_script("return window.editor.selection()")
        # 40:0 to 43:7: kick's 0, 3 and 7 of each beat (12 keys), word_t's 40:0 to 43:0 (4).
        self.assertEqual(sorted((k["track"], k["row"]) for k in selected),
                         sorted([("kick", b * 8 + r) for b in range(40, 44) for r in (0, 3, 7)] +
                                [("word_t", b * 8) for b in range(40, 44)]))
        self.press(Keys.CONTROL, "c")
        self.pause()
        # The playhead two bars on from 40:0: Home, eight bars (Page Down), four bars (Shift+Right).
        self.press(Keys.HOME)
        self.press(Keys.PAGE_DOWN)
        self.press(Keys.SHIFT, Keys.ARROW_RIGHT, times=4)
        wait_for(self.driver, "return window.editor.clock().beat === '48:0'", message="the playhead at 48:0")
        self.assertIsNotNone(self.session.server.wait_request(lambda r: r == "seek 16000"), "the show is not at 48:0")
        # Escape would clear the selection; the focused track is kick, but the clip holds two.
        before, text_before = self.version(), read(self.source_path)
        self.press(Keys.CONTROL, "v")
        # kick's bar 48 holds the same keys (12 replaced by equals); word_t's 48:0 and 51:0 are
        # replaced, 49:0 and 50:0 are new beside the 49:4 that stays.
        self.assertEqual(self.changed_by(before), "paste 16 keys on kick and word_t at 48:0, replacing 14")
        old = "  48:0     1          smooth\n  49:4     2          smooth\n  51:0     3          smooth\n"
        new = ("  48:0     1          smooth\n  49:0     2          smooth\n  49:4     2          smooth\n"
               "  50:0     3          smooth\n  51:0     4          smooth\n")
        self.assertEqual(text_before.count(old), 1)
        self.assertEqual(read(self.source_path), text_before.replace(old, new))
        self.assertEqual(len(self.driver.execute_script("return window.editor.selection()")), 16)
        self.press(Keys.CONTROL, "z")
        wait_for(self.driver, f"return window.editor.state().version === {before + 2}", message="the undone paste")
        self.assertEqual(read(self.source_path), text_before)

    def test_9_d_a_deleted_track_goes_with_its_file_and_undo_brings_both_back(self):
        before, text_before = self.version(), read(self.source_path)
        track_file = os.path.join(self.session.show, "data", "sync", "_umptchi.track")
        file_before = read(track_file, "rb")
        self.driver.execute_script("document.getElementById('labels').scrollIntoView()")
        self.click(wait_for(self.driver, "return window.editor.labelPosition('umptchi')", message="umptchi's name"))
        self.assertEqual(self.driver.execute_script("return window.editor.focused()"), "umptchi")
        self.assertEqual(len(self.driver.execute_script("return window.editor.selection()")), 5, "its keys are selected")
        self.session.server.requests.clear()
        self.press(Keys.SHIFT, Keys.DELETE)
        self.assertEqual(self.changed_by(before), "delete track umptchi (5 keys)")
        text = read(self.source_path)
        self.assertNotIn("track umptchi", text)
        self.assertEqual(text.count("\ntrack "), text_before.count("\ntrack ") - 1)
        self.assertFalse(os.path.exists(track_file))
        self.assertIsNotNone(self.session.server.wait_request(lambda r: r == "preview umptchi"),
                             "the show still plays the deleted track")
        self.assertNotIn("umptchi", self.driver.execute_script("return window.editor.trackNames()"))
        self.press(Keys.CONTROL, "z")
        wait_for(self.driver, f"return window.editor.state().version === {before + 2}", message="the undone deletion")
        self.assertEqual(read(self.source_path), text_before)
        self.assertEqual(read(track_file, "rb"), file_before)

    def test_9_e_the_playhead_steps_by_keys_beats_bars_and_rows_and_a_key_goes_at_it(self):
        self.click(wait_for(self.driver, "return window.editor.labelPosition('word_t')", message="word_t's name"))
        self.press(Keys.ESCAPE)
        self.assertEqual(self.driver.execute_script("return window.editor.selection()"), [])
        self.assertEqual(self.driver.execute_script("return window.editor.focused()"), "word_t")
        self.pause()
        beat = "return window.editor.clock().beat"
        # word_t's keys: 0:0, 31:0, 32:0, ... 37:5, 38:5.
        for keys, times, where in (((Keys.HOME,), 1, "0:0"), ((Keys.CONTROL, Keys.ARROW_RIGHT), 1, "31:0"),
                                   ((Keys.CONTROL, Keys.ARROW_RIGHT), 1, "32:0"), ((Keys.SHIFT, Keys.ARROW_RIGHT), 1, "36:0"),
                                   ((Keys.ARROW_RIGHT,), 1, "37:0"), (("."), 2, "37:2"),
                                   ((Keys.CONTROL, Keys.ARROW_RIGHT), 1, "37:5"), ((Keys.CONTROL, Keys.ARROW_RIGHT), 1, "38:5"),
                                   ((Keys.CONTROL, Keys.ARROW_LEFT), 1, "37:5"), ((Keys.ARROW_RIGHT,), 1, "38:5"),
                                   ((","), 4, "38:1")):
            self.press(*keys, times=times)
            wait_for(self.driver, f"return window.editor.clock().beat === '{where}'",
                     message=f"the playhead at {where} after {keys} (it is at {self.driver.execute_script(beat)})")
        # Row 305 begins at 12708.3 ms: the show is sent to its first whole millisecond.
        self.assertIsNotNone(self.session.server.wait_request(lambda r: r == "seek 12709"), "the show is not at 38:1")
        # Half-way from 37:5 (5, smooth) to 38:5 (5.96): 5 + 0.96 * (3 - 2 * 0.5) * 0.5^2 = 5.48.
        before = self.version()
        self.press("i")
        self.assertEqual(self.changed_by(before), "add word_t 38:1 = 5.48")
        self.assertIn("\n  37:5     5          smooth\n  38:1     5.48       smooth\n  38:5     5.96       step\n",
                      read(self.source_path))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
