#!/usr/bin/python3
# Writes a first version of the show's track source "data/sync/show.tracks" from the music's
# timeline (kicks, sung notes, sections). The committed source is what people edit afterwards,
# so this refuses to overwrite it unless told to (--force). Needs numpy for float formatting.
"""Choreograph the sync tracks from the music timeline.

    /usr/bin/python3 tools/music/make_tracks.py [--timeline PATH] [--out PATH] [--force]

Then compile with: build/tools/synctool compile
"""
import argparse
import json
import os
import sys

import numpy as np

ROWS_PER_BEAT = 8

# Track order in the source: the switch first, then the scene's tracks in drawing order.
TRACK_ORDER = [
    "scene_karaoke", "kick", "numwords", "textrot", "umptchi", "textits",
    "word0its", "word1its", "word2its", "word3its", "word4its", "word_t", "circle_hofs",
    "tunnel", "tunnel_twist", "tunnel_ofs",
    "draw_duck", "duck_rot", "duck_trans", "duck_trans_y",
]
WORD_TRACKS = 5   # words 0..4 have a brightness track each

# Choreography settings per section.
KICK_PEAK = {"intro": 0.55, "verse1": 0.75, "chorus1": 1.0, "tunnel": 0.7, "chorus2": 1.0, "ending": 0.8}
TEXT_LEVEL = {"verse1": 0.9, "chorus1": 1.0, "tunnel": 0.8, "chorus2": 1.0, "ending": 0.9}
WORD_REST = {"la": 0.4, "umptchi": 0.55}           # brightness of a word after its note
SWAY = {"intro": (0.0, 64), "verse1": (3.0, 64), "chorus1": (6.0, 32), "tunnel": (4.5, 64),
        "chorus2": (7.0, 32), "ending": (3.0, 32)}  # degrees, rows per swing

# Rows within a two-bar phrase (64 rows) where its words fade and the circle leaves.
EXIT_START, FADE_START, EXIT_END, CLEAR = 45, 46, 53, 54

HEADER = """\
# Sync tracks of the show: the one source of every data/sync/_NAME.track file.
# Compile after editing:   build/tools/synctool compile      (checks everything first)
# Look at a track:         build/tools/synctool plot --out /tmp/t.png kick word_t
#
# Music: 180 bpm, 8 rows per beat, 24 rows per second; 4 beats to the bar.
# A track starts with "track NAME"; each key line is   POSITION  VALUE  INTERPOLATION
#   POSITION       BEAT:ROW (ROW 0..7 within the beat), e.g. 12:4 is row 100; or rROW, e.g. r100
#   VALUE          a decimal number
#   INTERPOLATION  how the value goes on to the next key: step (hold), linear, smooth
#                  (ease in and out), quadratic (ease in)
# Before the first key a track reads the first key's value, after the last key the last one's.
# "#" starts a comment. Keep keys in time order, one key per row.
#
# Sections: intro 0:0 (0 s), verse1 32:0 (10.67 s), chorus1 96:0 (32 s), tunnel 128:0 (42.67 s),
# chorus2 192:0 (64 s), ending 224:0 (74.67 s), final hit 264:0 (88 s); the show ends at 264:6
# (88.25 s).
"""


def fmt_value(v):
    return np.format_float_positional(np.float32(round(v, 4)), unique=True, trim="-")


def fmt_position(row):
    return "%d:%d" % (row // ROWS_PER_BEAT, row % ROWS_PER_BEAT)


def pad(text, width):
    return text + " " * max(1, width - len(text))


class Track:
    def __init__(self, name, sections):
        self.name = name
        self.keys = {}
        self.sections = sections

    def key(self, row, value, interpolation):
        row = int(row)
        assert interpolation in ("step", "linear", "smooth", "quadratic")
        assert row not in self.keys or self.keys[row] == (value, interpolation), (self.name, row)
        self.keys[row] = (value, interpolation)

    def text(self):
        lines = ["track " + self.name]
        marks = list(self.sections)
        for row in sorted(self.keys):
            passed = None
            while marks and marks[0][1] <= row:
                passed = marks.pop(0)
            if passed:
                name, first = passed
                lines.append("  # -- %s, %s, %.2f s --" % (name, fmt_position(first), first / 24.0))
            value, interpolation = self.keys[row]
            lines.append("  " + pad(fmt_position(row), 9) + pad(fmt_value(value), 11) + interpolation)
        return "\n".join(lines) + "\n"


def section_of(timeline, row):
    for s in timeline["sections"]:
        if s["start_beat"] * ROWS_PER_BEAT <= row < s["end_beat"] * ROWS_PER_BEAT:
            return s["name"]
    return "outro"


def choreograph(timeline):
    R = ROWS_PER_BEAT
    marks = [(s["name"], s["start_beat"] * R) for s in timeline["sections"] if s["name"] != "outro"]
    marks.append(("final hit", timeline["final_hit_beat"] * R))
    tracks = {name: Track(name, marks) for name in TRACK_ORDER}
    T = tracks
    final = timeline["final_hit_beat"] * R
    show_end_row = timeline["show_end_ms"] * 24 // 1000
    sec = {s["name"]: (s["start_beat"] * R, s["end_beat"] * R) for s in timeline["sections"]}

    # ---- the module's switch: on for the whole show, off just after it ends ----
    T["scene_karaoke"].key(0, 1, "step")
    T["scene_karaoke"].key(show_end_row + 6, 0, "step")

    # ---- kick: the background flashes on every kick and decays within the beat ----
    T["kick"].key(0, 0, "step")
    for beat in timeline["kicks"]:
        row = beat * R
        if row == final:
            T["kick"].key(row, 1.0, "linear")
            T["kick"].key(row + 8, 0.3, "linear")
            T["kick"].key(row + 24, 0, "step")
            continue
        peak = KICK_PEAK[section_of(timeline, row)]
        T["kick"].key(row, peak, "linear")
        T["kick"].key(row + 3, round(peak * 0.25, 4), "linear")
        T["kick"].key(row + 7, 0, "step")
    # No kick in the build bars: the background swells towards the chorus instead.
    for build in timeline["build_bars"]:
        T["kick"].key(build["start_beat"] * R, 0, "linear")
        T["kick"].key(build["end_beat"] * R - 1, 0.6, "step")

    # ---- words and circle, phrase by phrase ----
    for name in ["numwords", "word_t", "umptchi", "circle_hofs"] + ["word%dits" % i for i in range(WORD_TRACKS)]:
        T[name].key(0, 0, "step")
    phrases = timeline["phrases"]
    first_level = TEXT_LEVEL[phrases[0]["section"]]
    T["textits"].key(0, first_level, "step")
    for index, phrase in enumerate(phrases):
        start = phrase["start_beat"] * R
        rows = [n["row"] for n in phrase["notes"]]
        m = len(rows)
        last = index == len(phrases) - 1
        entry = rows[0] - R        # the circle flies in during the beat before the first note
        level = TEXT_LEVEL[phrase["section"]]

        # numwords: the next word's place opens (dark) as the circle leaves the previous word.
        T["numwords"].key(entry - 2, 0, "smooth")
        T["numwords"].key(entry, 1, "step")
        for k in range(1, m):
            T["numwords"].key(rows[k - 1] - 2, k, "smooth")
            T["numwords"].key(rows[k - 1], k + 1, "step")

        # word_t: whole numbers land on words (k + 1 on word k), fractions are the hops.
        T["word_t"].key(entry, 0, "smooth")
        for k in range(m - 1):
            T["word_t"].key(rows[k], k + 1, "smooth")
        T["word_t"].key(rows[m - 1], m, "step")
        if last:
            T["word_t"].key(final, m, "smooth")
            T["word_t"].key(final + 12, m + 0.96, "step")
        else:
            T["word_t"].key(start + EXIT_START, m, "smooth")
            T["word_t"].key(start + EXIT_END, m + 0.96, "step")

        # Each word lights up on its note and settles to a glow.
        rest = WORD_REST[phrase["word"]]
        for k in range(min(m, WORD_TRACKS)):
            track = T["word%dits" % k]
            track.key(rows[k], 1, "linear")
            track.key(rows[k] + 6, rest, "step")
            if last:
                track.key(final, 1, "linear")
                track.key(final + 18, 0.5, "step")
            else:
                track.key(start + CLEAR, 0, "step")

        # textits: the whole row fades out at the end of each phrase.
        if not last:
            next_level = TEXT_LEVEL[phrases[index + 1]["section"]]
            T["textits"].key(start + FADE_START, level, "linear")
            T["textits"].key(start + EXIT_END, 0, "step")
            T["textits"].key(start + CLEAR, next_level, "step")

    # umptchi: the chorus words switch while the row is empty (numwords at 0).
    for chorus in ("chorus1", "chorus2"):
        first, end = sec[chorus]
        T["umptchi"].key(first - R - 2, 1, "step")
        T["umptchi"].key(end - R - 2, 0, "step")
        # circle_hofs: one extra bounce per beat, zero on the beats where the circle lands.
        T["circle_hofs"].key(first - R, 0, "linear")
        T["circle_hofs"].key(end - R, (end - first) // R, "step")
        T["circle_hofs"].key(end - R + 1, 0, "step")

    # ---- textrot: the text plane sways, wider and faster in the choruses ----
    T["textrot"].key(0, 0, "step")
    row, sign = sec["verse1"][0], 1
    T["textrot"].key(row, 0, "smooth")
    while True:
        amplitude, swing = SWAY[section_of(timeline, row)]
        row += swing
        if row >= final:
            break
        T["textrot"].key(row, sign * amplitude, "smooth")
        sign = -sign
    T["textrot"].key(final, 0, "step")

    # ---- tunnel: fades in over the tunnel section, peaks in chorus 2, fades for the duck ----
    t0, _ = sec["tunnel"]
    c2, _ = sec["chorus2"]
    e0, _ = sec["ending"]
    T["tunnel"].key(0, 0, "step")
    T["tunnel"].key(t0, 0, "smooth")
    T["tunnel"].key(t0 + 128, 0.85, "step")
    T["tunnel"].key(c2, 1.0, "step")
    T["tunnel"].key(e0, 1.0, "smooth")
    T["tunnel"].key(e0 + 128, 0.35, "step")
    T["tunnel"].key(final, 0.9, "linear")
    T["tunnel"].key(final + 24, 0, "step")

    T["tunnel_twist"].key(0, 0, "step")
    row, sign = t0, 1
    T["tunnel_twist"].key(row, 0, "smooth")
    while row < final - 32:
        name = section_of(timeline, row)
        swing = 64 if name == "tunnel" else 32
        amplitude = {"tunnel": 0.5, "chorus2": 1.0}.get(name, 0.3)
        row += swing
        T["tunnel_twist"].key(row, sign * amplitude, "smooth")
        sign = -sign
    T["tunnel_twist"].key(final, 0, "step")

    # tunnel_ofs: a slow drift in the tunnel section; a push on every kick in chorus 2.
    T["tunnel_ofs"].key(0, 0, "step")
    T["tunnel_ofs"].key(t0, 0, "smooth")
    T["tunnel_ofs"].key(t0 + 256, 0.4, "smooth")
    T["tunnel_ofs"].key(c2 - 24, 0, "step")
    for beat in timeline["kicks"]:
        row = beat * R
        if c2 <= row < e0:
            T["tunnel_ofs"].key(row, 0.5, "linear")
            T["tunnel_ofs"].key(row + 4, 0.2, "linear")
            T["tunnel_ofs"].key(row + 7, 0, "step")
    T["tunnel_ofs"].key(e0, 0, "smooth")
    T["tunnel_ofs"].key(final, -0.4, "step")

    # ---- the duck: drops in for the ending, spins, sways and bobs on every other beat ----
    T["draw_duck"].key(0, 0, "step")
    T["draw_duck"].key(e0, 1, "step")
    T["duck_rot"].key(e0, 0, "linear")
    T["duck_rot"].key(final, 1440, "quadratic")
    T["duck_rot"].key(final + 24, 1800, "step")
    T["duck_trans"].key(e0, -24, "smooth")
    T["duck_trans"].key(e0 + 64, 0, "smooth")
    row, sign = e0 + 64, 1
    while row + 64 < final:
        row += 64
        T["duck_trans"].key(row, sign * 3, "smooth")
        sign = -sign
    T["duck_trans"].key(final, 0, "step")
    # y = sin(ty * 1.57075) * 4 - 1: ty 0.2 is y 0.24 and ty 0.8 is y 2.8, both in view.
    T["duck_trans_y"].key(0, 0.5, "step")
    row = e0
    up = False
    while row < final:
        T["duck_trans_y"].key(row, 0.8 if up else 0.2, "smooth")
        up = not up
        row += 2 * R
    T["duck_trans_y"].key(final, 0.5, "step")
    return [tracks[name] for name in TRACK_ORDER]


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--timeline", default=os.path.join(root, "data/muzak/recut.timeline.json"))
    parser.add_argument("--out", default=os.path.join(root, "data/sync/show.tracks"))
    parser.add_argument("--force", action="store_true", help="replace an existing source (edits are lost)")
    args = parser.parse_args()
    if os.path.exists(args.out) and not args.force:
        print("## ERROR: \"%s\" exists and is edited by hand; use --force to replace it" % args.out, file=sys.stderr)
        return 1
    with open(args.timeline) as f:
        timeline = json.load(f)
    text = HEADER + "".join("\n" + t.text() for t in choreograph(timeline))
    with open(args.out + ".partial", "w") as out:
        out.write(text)
    os.replace(args.out + ".partial", args.out)
    print("# wrote %s" % args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
