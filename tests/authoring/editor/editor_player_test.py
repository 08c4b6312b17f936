"""The editor page in headless Chromium against the real player: demoplayer --dev under Xvfb,
serving its editor, with the probe module logging the time and the track "probe_value" it reads
each frame. The page shows the show's tracks; the ruler seeks the player and Space pauses it; a
dragged key reaches the source file, the compiled track and the value the module reads, which
reads it while the drag is held, before anything is saved; the value beside a track's name is
the one the module reads; undo
gives the file back byte for byte; a text editor's save reaches the page; a page left open while
the player restarts says so; a taken port leaves the player running without its editor.

Usage (under xvfb-run): editor_player_test.py DEMOPLAYER PLUGIN_DIR DATA_DIR SYNCTOOL"""
import os
import re
import shutil
import signal
import socket
import struct
import sys
import tempfile
import time
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from editor_browser import Player, free_port, make_probe_show, start_browser, wait_for  # noqa: E402

PLAYER, PLUGINS, DATA, SYNCTOOL = sys.argv[1:5]

SOURCE = ("# the probe's tracks\n"
          "track scene_probe\n"
          "  0:0   1     step\n"
          "\n"
          "track probe_value\n"
          "  0:0   0.5   linear   # rises to the key below\n"
          "  32:0  2.5   step\n")
KEY_ROW = 256          # 32:0
AFTER_KEY_MS = 12000   # row 288: the last key's value holds


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def track_keys(path):
    data = read(path, "rb")
    count = struct.unpack_from("<i", data)[0]
    return [struct.unpack_from("<ifb", data, 4 + 9 * i) for i in range(count)]


class EditorOnPlayer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="editor-player-")
        cls.show = os.path.join(cls.dir, "show")
        make_probe_show(cls.show, PLAYER, PLUGINS, DATA, SYNCTOOL, SOURCE)
        cls.source_path = os.path.join(cls.show, "data", "sync", "show.tracks")
        cls.track_path = os.path.join(cls.show, "data", "sync", "_probe_value.track")
        cls.original_track = read(cls.track_path, "rb")
        cls.port = free_port()
        cls.player = Player(cls.show, cls.port)
        line = cls.player.wait_line(r"^# editor: http://127\.0\.0\.1:\d+/\?token=[0-9a-f]{32}$")
        assert line, "the player printed no editor address: " + "\n".join(cls.player.seen)
        cls.url = line.split(" ")[2]
        cls.driver = start_browser(os.path.join(cls.dir, "profile"))
        cls.driver.get(cls.url)
        wait_for(cls.driver, "return window.editor && window.editor.state() && window.editor.trackNames().length",
                 message="the first state")

    @classmethod
    def tearDownClass(cls):
        try:
            cls.driver.quit()
        finally:
            cls.player.stop()
            shutil.rmtree(cls.dir, ignore_errors=True)

    # ---- the probe's log ----
    def renders(self):
        """(time, value) of every frame the probe drew."""
        try:
            text = read(os.path.join(self.show, "probe.log"))
        except FileNotFoundError:
            return []
        return [(int(m.group(1)), float(m.group(2))) for m in re.finditer(r"^v1 render (-?\d+) (\S+)", text, re.M)]

    def wait_render(self, predicate, message, timeout=20):
        """Waits until the last frame the probe drew satisfies predicate(time, value)."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            r = self.renders()
            if r and predicate(*r[-1]):
                return r[-1]
            time.sleep(0.05)
        self.fail(f"{message}; the probe last drew {self.renders()[-3:]}")

    def version(self):
        return self.driver.execute_script("return window.editor.state().version")

    def press(self, *keys):
        body = self.driver.find_element(By.TAG_NAME, "body")
        actions = ActionChains(self.driver)
        for k in keys[:-1]:
            actions.key_down(k)
        actions.send_keys_to_element(body, keys[-1])
        for k in reversed(keys[:-1]):
            actions.key_up(k)
        actions.perform()

    def click_ruler(self, ms):
        at = self.driver.execute_script(f"return window.editor.rulerPosition({ms})")
        actions = ActionChains(self.driver)
        actions.w3c_actions.pointer_action.move_to_location(round(at["x"]), round(at["y"])).click()
        actions.perform()

    # ---- the tests, in order: each starts where the one before left the show ----
    def test_1_the_page_shows_the_players_tracks(self):
        self.assertEqual(self.driver.execute_script("return window.editor.trackNames()"), ["scene_probe", "probe_value"])
        keys = self.driver.execute_script("return window.editor.state().tracks[1].keys")
        self.assertEqual(keys, [[0, 0.5, 1], [KEY_ROW, 2.5, 0]])

    def test_2_space_pauses_the_player_and_the_ruler_seeks_it(self):
        self.wait_render(lambda t, v: t > 0, "the show does not play")
        self.press(Keys.SPACE)
        wait_for(self.driver, "return window.editor.player().paused === true", message="the pause pushed back")
        # Paused: the module sees one time, and no more frames come.
        time.sleep(0.5)
        count, last = len(self.renders()), self.renders()[-1]
        time.sleep(0.5)
        self.assertEqual(self.renders()[len(self.renders()) - 1], last)
        self.assertLessEqual(len(self.renders()) - count, 1)

        self.driver.execute_script("window.editor.zoomToRows(0, 720)")
        ms_per_px = 1000 / 24 / self.driver.execute_script("return window.editor.pixelsPerRow()")
        self.click_ruler(AFTER_KEY_MS)
        t, v = self.wait_render(lambda t, v: abs(t - AFTER_KEY_MS) <= ms_per_px + 1, "the seek did not reach the module")
        self.assertEqual(v, 2.5, "past the last key the module reads its value")
        wait_for(self.driver, f"return window.editor.player().music_ms === {t}", message="the player's time on the page")

        self.press(Keys.SPACE)
        self.wait_render(lambda t2, v: t2 > t + 100, "Space did not resume the show")
        self.press(Keys.SPACE)
        wait_for(self.driver, "return window.editor.player().paused === true", message="paused again")
        self.click_ruler(AFTER_KEY_MS)
        self.wait_render(lambda t, v: abs(t - AFTER_KEY_MS) <= ms_per_px + 1, "the second seek")

    def test_3_a_dragged_key_reaches_the_file_the_track_and_the_module(self):
        self.driver.execute_script(f"window.editor.zoomToRows({KEY_ROW - 40}, {KEY_ROW + 40})")
        start = wait_for(self.driver, f"return window.editor.keyPosition('probe_value', {KEY_ROW})",
                         message="the key on screen")
        before = self.version()
        actions = ActionChains(self.driver)
        pointer = actions.w3c_actions.pointer_action
        pointer.move_to_location(round(start["x"]), round(start["y"]))
        pointer.pointer_down()
        for i in range(1, 7):
            pointer.move_to_location(round(start["x"]), round(start["y"] - 4 * i))
        pointer.pointer_up()
        actions.perform()
        wait_for(self.driver, f"return window.editor.state().version > {before}",
                 message="the moved key's state (the page says: " +
                 self.driver.execute_script("return document.getElementById('notice').textContent + ' / ' + "
                                            "document.getElementById('readout').textContent") + ")")

        text = read(self.source_path)
        moved = re.search(r"\n  32:0 +(\S+) +step\n", text)
        self.assertIsNotNone(moved, text)
        value = float(moved.group(1))
        self.assertGreater(value, 2.5)
        self.assertEqual(text.replace(moved.group(0), "\n  32:0  2.5   step\n"), SOURCE, "only the key's line changed")
        self.assertEqual(track_keys(self.track_path), [(0, 0.5, 1), (KEY_ROW, f32(value), 0)])
        # At an unchanged time, the module now reads the new value.
        t, v = self.wait_render(lambda t, v: f32(v) == f32(value), "the module does not read the new value")
        self.assertLessEqual(abs(t - AFTER_KEY_MS), 50)

    def test_3_b_a_held_drag_plays_in_the_module_before_it_is_saved_and_the_names_show_what_it_reads(self):
        # Paused after the last key: the value beside the name is the one the module reads.
        t, v = self.renders()[-1]
        shown = lambda: self.driver.execute_script("return window.editor.shownValues().probe_value")  # noqa: E731
        self.assertEqual(f32(float(shown())), f32(v), f"the page shows {shown()} where the module reads {v} at {t} ms")
        before, text_before, track_before = self.version(), read(self.source_path), read(self.track_path, "rb")
        start = wait_for(self.driver, f"return window.editor.keyPosition('probe_value', {KEY_ROW})", message="the key")
        actions = ActionChains(self.driver)
        pointer = actions.w3c_actions.pointer_action
        pointer.move_to_location(round(start["x"]), round(start["y"])).pointer_down()
        for i in range(1, 7):
            pointer.move_to_location(round(start["x"]), round(start["y"] + 4 * i))
        actions.perform()
        # Held: the module reads the value beside the pointer; the files are as they were.
        tip = self.driver.execute_script("return document.getElementById('drag-tip').textContent")
        dragged = re.match(r"probe_value 32:0  (\S+)", tip)
        self.assertIsNotNone(dragged, f"the tip beside the pointer says {tip!r}")
        dragged = float(dragged.group(1))
        self.assertLess(dragged, v)
        self.wait_render(lambda t2, v2: f32(v2) == f32(dragged), f"the module does not read the dragged {dragged}")
        self.assertEqual(f32(float(shown())), f32(dragged))
        self.assertEqual(read(self.source_path), text_before, "the source was written during the drag")
        self.assertEqual(read(self.track_path, "rb"), track_before, "the track file was written during the drag")
        self.assertEqual(self.version(), before)
        release = ActionChains(self.driver)
        release.w3c_actions.pointer_action.pointer_up()
        release.perform()
        wait_for(self.driver, f"return window.editor.state().version === {before + 1}", message="the drag saved")
        self.assertEqual(track_keys(self.track_path), [(0, 0.5, 1), (KEY_ROW, f32(dragged), 0)])
        self.assertEqual(self.driver.execute_script("return window.editor.state().history.undo.length"), 2)
        self.press(Keys.CONTROL, "z")
        wait_for(self.driver, f"return window.editor.state().version === {before + 2}", message="the undone drag")
        self.assertEqual(read(self.source_path), text_before)
        self.wait_render(lambda t2, v2: f32(v2) == f32(v), "the module does not read the value before the drag again")

    def test_4_undo_gives_the_file_back_byte_for_byte(self):
        before = self.version()
        self.press(Keys.CONTROL, "z")
        wait_for(self.driver, f"return window.editor.state().version > {before}", message="the undone state")
        self.assertEqual(read(self.source_path), SOURCE)
        self.assertEqual(read(self.track_path, "rb"), self.original_track)
        self.wait_render(lambda t, v: v == 2.5, "the module does not read the old value again")

    def test_5_a_text_editors_save_reaches_the_page_and_the_module(self):
        before = self.version()
        changed = SOURCE.replace("32:0  2.5 ", "32:0  4.25")
        temp = self.source_path + ".swp"
        with open(temp, "w") as f:
            f.write(changed)
        os.replace(temp, self.source_path)
        wait_for(self.driver, f"return window.editor.state().version > {before} && "
                              f"window.editor.state().tracks[1].keys[1][1] === 4.25", message="the save on the page")
        self.wait_render(lambda t, v: v == 4.25, "the module does not read the saved value")
        self.assertEqual(read(self.source_path), changed, "the player left the saved file alone")

    def test_6_a_page_left_open_while_the_player_restarts_says_so(self):
        # Ended by SIGINT, as from the terminal: by the signal, once its exit has run.
        self.assertEqual(self.player.stop(), -signal.SIGINT, "the player did not end cleanly with its editor running")
        self.assertIsNotNone(self.player.wait_line(r"^# note: SIGINT .*status 130$", timeout=5), "its last line")
        type(self).player = Player(self.show, self.port)
        line = self.player.wait_line(r"^# editor: ")
        self.assertIsNotNone(line, "\n".join(self.player.seen))
        self.assertNotEqual(line.split(" ")[2], self.url, "a new token at each start")
        wait_for(self.driver, "const n = document.getElementById('notice'); "
                              "return !n.hidden && n.textContent.includes('restarted')",
                 timeout=30, message="the page's notice")
        # The old page's token opens nothing any more.
        before = read(self.source_path)
        self.press(Keys.CONTROL, "z")
        time.sleep(1)
        self.assertEqual(read(self.source_path), before)

    def test_7_a_taken_port_leaves_the_player_running_without_its_editor(self):
        self.assertEqual(self.player.stop(), -signal.SIGINT)
        os.remove(os.path.join(self.show, "probe.log"))
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            type(self).player = Player(self.show, port)
            warning = self.player.wait_line(r"editor is off")
            self.assertIsNotNone(warning, "\n".join(self.player.seen))
            self.assertEqual(warning, f"# WARNING: the editor is off: 127.0.0.1:{port} is taken by another program "
                                      "(choose another with --editor-port N); the show goes on without it")
            self.wait_render(lambda t, v: t > 500, "the show does not go on")
            self.assertIsNone(self.player.wait_line(r"^# editor: ", timeout=0.5))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
