#!/usr/bin/python3
# Synthesises the show's music "data/muzak/recut.mp3" (180 bpm, A minor, 92 s) and writes the
# timeline of its kicks and sung notes, which the sync-track source follows.
# Needs numpy and the lame encoder; downloads nothing; every random draw comes from fixed seeds.
"""Generate the show's music and its timeline.

    /usr/bin/python3 tools/music/make_recut.py [--mp3 PATH] [--timeline PATH] [--wav PATH]

The arrangement (sections, chords, melody, drum pattern) is data at the top of this file;
the synthesisers below render it. Everything is deterministic: the same numpy and lame give
the same bytes.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import wave

import numpy as np

# ---- the musical grid ----
SAMPLE_RATE = 44100
BPM = 180
ROWS_PER_BEAT = 8
BEAT_SAMPLES = SAMPLE_RATE * 60 // BPM          # 14700: a beat is exactly a third of a second
TOTAL_BEATS = 276                               # 92 s; the show itself ends at 88.25 s
SHOW_END_MS = 88250
MP3_BITRATE_KBPS = 160

# ---- the arrangement ----
# Sections in beats (4 beats to the bar). "flags" switch instruments on.
SECTIONS = [
    # name,      first beat, end beat, flags
    ("intro",    0,   32, {"pad", "arp", "hats_soft"}),
    ("verse1",   32,  96, {"pad", "bass", "hats", "snare_soft"}),
    ("chorus1",  96,  128, {"pad", "bass", "hats", "open_hats", "snare"}),
    ("tunnel",   128, 192, {"pad", "bass", "hats", "arp", "snare_soft"}),
    ("chorus2",  192, 224, {"pad", "bass", "hats", "open_hats", "snare", "arp"}),
    ("ending",   224, 264, {"pad", "bass", "hats", "arp", "snare_soft"}),
    ("outro",    264, 276, set()),
]
KICK_FROM_BEAT = 16        # the kick enters half-way through the intro
FINAL_HIT_BEAT = 264       # one last kick, crash and chord; the show ends 0.25 s later
# One bar before each chorus the kick drops out and a snare roll builds up instead.
BUILD_BARS = [(92, 96), (188, 192)]

# One chord per two bars (8 beats), as MIDI note numbers of the pad voicing and a bass root.
CHORDS = {
    "Am": ([57, 60, 64], 45),
    "F":  ([57, 60, 65], 41),
    "C":  ([55, 60, 64], 48),
    "G":  ([55, 59, 62], 43),
    "E":  ([56, 59, 64], 40),
}
VERSE_CHORDS = ["Am", "F", "C", "G"]
CHORUS_CHORDS = ["F", "G", "Am", "E"]

# Melody phrases: two bars each, notes as (beat within the phrase, length in beats, MIDI).
# Each phrase has at most five notes: the words on screen are one per note.
PHRASES = {
    "v1": [(0, 1, 69), (1, 1, 72), (2, 1, 76), (3, 1, 74), (4, 3, 72)],
    "v2": [(0, 1, 72), (1, 1, 69), (2, 1, 65), (3, 1, 67), (4, 3, 69)],
    "v3": [(0, 1.5, 67), (1.5, 1.5, 72), (3, 1, 74), (4, 3, 76)],
    "v4": [(0, 1, 74), (1, 1, 71), (2, 2, 67), (4, 3, 71)],
    "v4b": [(0, 1, 74), (1, 1, 76), (2, 1, 79), (3, 1, 76), (4, 3, 74)],
    "c1": [(0, 1, 72), (1, 1, 72), (2, 1, 77), (3, 1, 76), (4, 2, 72)],
    "c2": [(0, 1, 74), (1, 1, 74), (2, 1, 79), (3, 1, 77), (4, 2, 74)],
    "c3": [(0, 1, 76), (1, 1, 76), (2, 1, 79), (3, 1, 76), (4, 2, 72)],
    "c4": [(0, 1.5, 71), (1.5, 1.5, 74), (3, 1, 76), (4, 3, 68)],
    "e1": [(0, 1, 76), (1, 1, 74), (2, 1, 72), (3, 1, 71), (4, 3, 72)],
    "fin": [(0, 2, 72), (2, 2, 71), (4, 4, 69)],
}
# (section, first beat, phrase, word sung on its notes)
MELODY = []
for i, name in enumerate(["v1", "v2", "v3", "v4", "v1", "v2", "v3", "v4b"]):
    MELODY.append(("verse1", 32 + 8 * i, name, "la"))
for i, name in enumerate(["c1", "c2", "c3", "c4"]):
    MELODY.append(("chorus1", 96 + 8 * i, name, "umptchi"))
for i, name in enumerate(["v1", "v2", "v3", "v4", "v1", "v2", "v3", "v4b"]):
    MELODY.append(("tunnel", 128 + 8 * i, name, "la"))
for i, name in enumerate(["c1", "c2", "c3", "c4"]):
    MELODY.append(("chorus2", 192 + 8 * i, name, "umptchi"))
for i, name in enumerate(["v1", "v2", "e1"]):
    MELODY.append(("ending", 224 + 8 * i, name, "la"))
MELODY.append(("ending", 248, "v4", "la"))
MELODY.append(("ending", 256, "fin", "la"))


def section_at(beat):
    for name, first, end, flags in SECTIONS:
        if first <= beat < end:
            return name, first, flags
    return "outro", TOTAL_BEATS, set()


def chord_at(beat):
    name, first, _ = section_at(beat)
    if name == "outro":
        return "Am"
    progression = CHORUS_CHORDS if name.startswith("chorus") else VERSE_CHORDS
    return progression[((beat - first) // 8) % 4]


def kick_beats():
    beats = []
    for beat in range(KICK_FROM_BEAT, FINAL_HIT_BEAT):
        if any(first <= beat < end for first, end in BUILD_BARS):
            continue
        beats.append(beat)
    beats.append(FINAL_HIT_BEAT)
    return beats


# ---- small signal helpers ----
def midi_hz(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


def seconds(n):
    return np.arange(n) / SAMPLE_RATE


def at(beat):
    return int(round(beat * BEAT_SAMPLES))


def mix_into(bus, start, signal, gain=1.0, pan=0.0):
    """Adds a mono signal to a stereo bus at a sample offset, with constant-power panning."""
    if start >= bus.shape[1]:
        return
    end = min(bus.shape[1], start + len(signal))
    part = signal[: end - start] * gain
    angle = (pan + 1.0) * np.pi / 4.0
    bus[0, start:end] += part * np.cos(angle)
    bus[1, start:end] += part * np.sin(angle)


def band_noise(rng, n, low_hz, high_hz):
    """White noise band-limited in the frequency domain (soft edges), unit RMS."""
    spectrum = np.fft.rfft(rng.standard_normal(n))
    freqs = np.fft.rfftfreq(n, 1.0 / SAMPLE_RATE)
    centre, width = (low_hz + high_hz) / 2.0, (high_hz - low_hz) / 2.0
    mask = np.exp(-(((freqs - centre) / width) ** 6))
    out = np.fft.irfft(spectrum * mask, n)
    return out / (np.sqrt(np.mean(out ** 2)) + 1e-12)


def saw(freq_hz, t, max_hz=6000.0, rolloff=0.0):
    """Band-limited sawtooth by adding harmonics; rolloff darkens the upper ones."""
    out = np.zeros_like(t)
    harmonics = max(1, int(max_hz / freq_hz))
    for k in range(1, harmonics + 1):
        out += np.sin(2 * np.pi * k * freq_hz * t) / k * np.exp(-rolloff * (k - 1))
    return out


def envelope(n, attack_s, release_s):
    env = np.ones(n)
    a = min(n, max(1, int(attack_s * SAMPLE_RATE)))
    r = min(n, max(1, int(release_s * SAMPLE_RATE)))
    env[:a] *= np.linspace(0.0, 1.0, a)
    env[n - r:] *= np.linspace(1.0, 0.0, r)
    return env


# ---- drums ----
def kick_sound(rng):
    t = seconds(int(0.42 * SAMPLE_RATE))
    freq = 47.0 + 125.0 * np.exp(-t * 26.0)
    body = np.sin(2 * np.pi * np.cumsum(freq) / SAMPLE_RATE) * np.exp(-t * 6.5)
    click = band_noise(rng, len(t), 1500, 6000) * np.exp(-t * 350.0) * 0.25
    return np.tanh(1.8 * (body + click)) * 0.95


def snare_sound(rng):
    t = seconds(int(0.25 * SAMPLE_RATE))
    body = np.sin(2 * np.pi * 190.0 * t) * np.exp(-t * 28.0) * 0.5
    rattle = band_noise(rng, len(t), 1200, 9000) * np.exp(-t * 17.0) * 0.45
    return body + rattle


def hat_sound(rng, open_hat):
    length = 0.22 if open_hat else 0.06
    t = seconds(int(length * SAMPLE_RATE))
    decay = 22.0 if open_hat else 85.0
    return band_noise(rng, len(t), 7000, 15000) * np.exp(-t * decay)


def crash_sound(rng):
    t = seconds(int(2.6 * SAMPLE_RATE))
    return band_noise(rng, len(t), 3500, 15000) * np.exp(-t * 2.2) * envelope(len(t), 0.002, 0.3)


def riser_sound(rng, beats):
    n = at(beats)
    t = seconds(n)
    ramp = t / t[-1]
    noise = band_noise(rng, n, 2000, 12000)
    return noise * ramp ** 2 * 0.18


# ---- tonal instruments ----
def bass_note(note, length_s):
    t = seconds(int(length_s * SAMPLE_RATE))
    f = midi_hz(note)
    tone = saw(f, t, max_hz=2500.0, rolloff=0.18) + 0.6 * np.sin(2 * np.pi * f * t)
    return np.tanh(1.4 * tone) * np.exp(-t * 5.0) * envelope(len(t), 0.004, 0.02)


def pad_chord(notes, length_s):
    t = seconds(int(length_s * SAMPLE_RATE))
    out = np.zeros_like(t)
    for note in notes:
        for cents in (-7.0, 7.0):
            f = midi_hz(note) * 2.0 ** (cents / 1200.0)
            out += saw(f, t, max_hz=2200.0, rolloff=0.25)
    return out * envelope(len(t), 0.45, 0.5) / (2 * len(notes))


def pluck(note, length_s):
    t = seconds(int(length_s * SAMPLE_RATE))
    f = midi_hz(note)
    tone = np.sin(2 * np.pi * f * t) + 0.35 * np.sin(4 * np.pi * f * t) + 0.12 * np.sin(6 * np.pi * f * t)
    return tone * np.exp(-t * 11.0) * envelope(len(t), 0.002, 0.02)


# ---- the singer: harmonics of a glottal tone shaped by moving vowel formants ----
# Formants (Hz) and their gains; "m" is a closed-mouth hum, "l" the liquid onset of "la".
VOWELS = {
    "l": ((360, 1150, 2600), (1.0, 0.35, 0.15)),
    "a": ((800, 1250, 2600), (1.0, 0.7, 0.3)),
    "u": ((330, 820, 2400), (1.0, 0.3, 0.08)),
    "m": ((260, 1100, 2500), (1.0, 0.05, 0.02)),
    "i": ((300, 2300, 3100), (1.0, 0.45, 0.3)),
}
FORMANT_BANDWIDTHS = (180.0, 220.0, 300.0)


def syllable_plan(word, length_s):
    """Keyframes (time in s, vowel, loudness) and consonant noise bursts of one sung word."""
    if word == "la":
        frames = [(0.0, "l", 0.55), (0.05, "l", 0.7), (0.11, "a", 1.0), (length_s, "a", 0.9)]
        return frames, []
    # "umptchi": "um" on the first half, a short closure, the "tch" burst, then "i".
    u_end = 0.42 * length_s
    m_end = 0.52 * length_s
    gap_end = 0.60 * length_s
    frames = [(0.0, "u", 0.7), (0.04, "u", 1.0), (u_end, "u", 0.95), (u_end + 0.02, "m", 0.5),
              (m_end, "m", 0.45), (m_end + 0.012, "m", 0.0), (gap_end, "i", 0.0),
              (gap_end + 0.015, "i", 1.0), (length_s, "i", 0.9)]
    bursts = [(m_end + 0.01, gap_end + 0.01)]
    return frames, bursts


def sung_note(rng, note, length_s, word):
    n = int(length_s * SAMPLE_RATE)
    t = seconds(n)
    f0 = midi_hz(note)
    # A small scoop into the note and a vibrato that grows in after the onset.
    scoop = 1.0 - 0.035 * np.exp(-t / 0.035)
    depth = 0.011 * np.clip((t - 0.12) / 0.25, 0.0, 1.0)
    freq = f0 * scoop * (1.0 + depth * np.sin(2 * np.pi * 5.4 * t))
    phase = 2 * np.pi * np.cumsum(freq) / SAMPLE_RATE

    frames, bursts = syllable_plan(word, length_s)
    times = np.array([f[0] for f in frames])
    loud = np.interp(t, times, [f[2] for f in frames])
    formants = []
    for j in range(3):
        centre = np.interp(t, times, [VOWELS[f[1]][0][j] for f in frames])
        gain = np.interp(t, times, [VOWELS[f[1]][1][j] for f in frames])
        formants.append((centre, gain, FORMANT_BANDWIDTHS[j]))

    def spectral_gain(fk, k):
        g = 0.02
        for centre, gain, bandwidth in formants:
            g = g + gain / (1.0 + ((fk - centre) / (bandwidth / 2.0)) ** 2)
        return g / k ** 0.7

    out = np.zeros(n)
    norm = np.zeros(n)
    for k in range(1, int(5500.0 / f0) + 1):
        amp = spectral_gain(k * freq, k)
        out += amp * np.sin(k * phase)
        norm += amp ** 2
    # Equal loudness whatever the pitch: harmonics fall on the formants differently per note.
    out = out / np.sqrt(np.maximum(norm, 1e-9)) * 0.5
    out *= loud * envelope(n, 0.012, min(0.07, length_s / 4))
    breath = band_noise(rng, n, 1500, 7000) * 0.012 * loud
    out += breath
    for start_s, end_s in bursts:
        a, b = int(start_s * SAMPLE_RATE), int(end_s * SAMPLE_RATE)
        tt = seconds(b - a)
        out[a:b] += band_noise(rng, b - a, 2800, 7000) * np.exp(-tt * 40.0) * 0.28
    return out


# ---- space ----
def reverb(bus, seed):
    """A plain exponentially decaying noise tail, different per side, by FFT convolution."""
    rng = np.random.default_rng(seed)
    length = int(1.8 * SAMPLE_RATE)
    t = seconds(length)
    out = np.zeros_like(bus)
    size = 1 << int(np.ceil(np.log2(bus.shape[1] + length)))
    for side in range(2):
        tail = band_noise(rng, length, 200, 6000) * np.exp(-t * 3.8)
        tail[: int(0.015 * SAMPLE_RATE)] = 0.0  # pre-delay
        tail /= np.sqrt(np.sum(tail ** 2))
        wet = np.fft.irfft(np.fft.rfft(bus[side], size) * np.fft.rfft(tail, size), size)
        out[side] = wet[: bus.shape[1]]
    return out


def sidechain(kicks, n):
    """Gain that dips under every kick and recovers, so pad and bass pump with the beat."""
    gain = np.ones(n)
    t = seconds(BEAT_SAMPLES)
    dip = 1.0 - 0.55 * np.exp(-t * 9.0)
    for beat in kicks:
        start = at(beat)
        end = min(n, start + len(dip))
        gain[start:end] = np.minimum(gain[start:end], dip[: end - start])
    return gain


# ---- arrangement to audio ----
def render():
    n = at(TOTAL_BEATS)
    drums = np.zeros((2, n))
    music = np.zeros((2, n))   # pad and bass, ducked by the kick
    sparkle = np.zeros((2, n)) # arpeggio
    voice = np.zeros((2, n))

    kick = kick_sound(np.random.default_rng(11))
    snare = snare_sound(np.random.default_rng(12))
    hat = hat_sound(np.random.default_rng(13), False)
    open_hat = hat_sound(np.random.default_rng(14), True)
    crash = crash_sound(np.random.default_rng(15))
    kicks = kick_beats()

    for beat in kicks:
        mix_into(drums, at(beat), kick, 0.9)
    for name, first, end, flags in SECTIONS:
        if name != "intro" and name != "outro":
            mix_into(drums, at(first), crash, 0.13, -0.2)
        for beat in range(first, end):
            building = any(a <= beat < b for a, b in BUILD_BARS)
            if beat % 2 == 1 and ("snare" in flags or "snare_soft" in flags) and not building:
                mix_into(drums, at(beat), snare, 0.55 if "snare" in flags else 0.38, 0.1)
            if "hats" in flags or "hats_soft" in flags:
                level = 0.16 if "hats" in flags else 0.08
                mix_into(drums, at(beat + 0.5), open_hat if "open_hats" in flags else hat, level, 0.35)
                if "hats" in flags:
                    mix_into(drums, at(beat), hat, 0.07, 0.35)
    # Snare rolls and risers into the choruses: eighths, then sixteenths in the last two beats.
    riser = riser_sound(np.random.default_rng(16), 4)
    for first, end in BUILD_BARS:
        mix_into(drums, at(first), riser, 1.0, 0.0)
        step = 0.5
        beat = first
        while beat < end:
            if beat >= end - 2:
                step = 0.25
            level = 0.25 + 0.35 * (beat - first) / (end - first)
            mix_into(drums, at(beat), snare, level, 0.1)
            beat += step
    mix_into(drums, at(FINAL_HIT_BEAT), crash, 0.22, 0.0)

    for beat in range(0, FINAL_HIT_BEAT, 8):
        name, first, flags = section_at(beat)
        notes, root = CHORDS[chord_at(beat)]
        if "pad" in flags:
            mix_into(music, at(beat), pad_chord(notes, 8 * 60.0 / BPM + 0.5), 0.30, 0.0)
        if "bass" in flags:
            for off in range(8):
                if any(a <= beat + off < b for a, b in BUILD_BARS) and off % 2:
                    continue
                mix_into(music, at(beat + off + 0.5), bass_note(root, 0.2), 0.32, 0.0)
        if "arp" in flags:
            pattern = [notes[0] + 12, notes[1] + 12, notes[2] + 12, notes[1] + 24,
                       notes[2] + 12, notes[0] + 24, notes[1] + 12, notes[2] + 24]
            for i in range(16):
                pan = -0.6 if i % 2 == 0 else 0.6
                mix_into(sparkle, at(beat + i * 0.5), pluck(pattern[i % 8], 0.45), 0.11, pan)
    # The last chord rings out after the final hit.
    notes, root = CHORDS["Am"]
    mix_into(music, at(FINAL_HIT_BEAT), pad_chord(notes + [69], 3.8), 0.34, 0.0)
    mix_into(music, at(FINAL_HIT_BEAT), bass_note(root - 12, 2.5), 0.4, 0.0)

    rng = np.random.default_rng(21)
    for _section, first, phrase, word in MELODY:
        for offset, length, note in PHRASES[phrase]:
            sung = sung_note(rng, note, length * 60.0 / BPM * 0.92, word)
            mix_into(voice, at(first + offset), sung, 0.75, 0.0)

    music *= sidechain(kicks, n)
    dry = drums + music + sparkle + voice
    wet = reverb(0.22 * voice + 0.18 * music + 0.35 * sparkle + 0.06 * drums, 31)
    mix = dry + wet
    mix = np.tanh(mix * 1.1)
    mix *= 0.89 / np.max(np.abs(mix))
    return mix


def write_wav(path, stereo):
    dither = np.random.default_rng(41)
    tpdf = (dither.random(stereo.shape) - dither.random(stereo.shape)) / 32768.0
    pcm = np.clip(np.round((stereo + tpdf) * 32767.0), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(SAMPLE_RATE)
        out.writeframes(pcm.T.copy().tobytes())


def encode_mp3(wav_path, mp3_path):
    tmp = mp3_path + ".partial"
    subprocess.run(["lame", "--quiet", "--cbr", "-b", str(MP3_BITRATE_KBPS), "-m", "j", "-q", "2",
                    "--resample", "44.1", "--noreplaygain", wav_path, tmp], check=True)
    os.replace(tmp, mp3_path)


def timeline():
    """What the sync tracks follow: sections, kicks and sung notes, in beats and rows."""
    phrases = []
    for section, first, phrase, word in MELODY:
        notes = []
        for offset, length, note in PHRASES[phrase]:
            notes.append({"beat": first + offset, "row": int(round((first + offset) * ROWS_PER_BEAT)),
                          "length_beats": length, "midi": note})
        phrases.append({"section": section, "start_beat": first, "word": word, "notes": notes})
    return {
        "bpm": BPM,
        "rows_per_beat": ROWS_PER_BEAT,
        "rows_per_second": BPM / 60 * ROWS_PER_BEAT,
        "total_beats": TOTAL_BEATS,
        "show_end_ms": SHOW_END_MS,
        "sections": [{"name": name, "start_beat": first, "end_beat": end,
                      "start_s": round(first * 60 / BPM, 3), "end_s": round(end * 60 / BPM, 3)}
                     for name, first, end, _ in SECTIONS],
        "build_bars": [{"start_beat": a, "end_beat": b} for a, b in BUILD_BARS],
        "final_hit_beat": FINAL_HIT_BEAT,
        "kicks": kick_beats(),
        "phrases": phrases,
    }


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mp3", default=os.path.join(root, "data/muzak/recut.mp3"))
    parser.add_argument("--timeline", default=os.path.join(root, "data/muzak/recut.timeline.json"))
    parser.add_argument("--wav", help="also keep the uncompressed mix here")
    args = parser.parse_args()

    stereo = render()
    with open(args.timeline + ".partial", "w") as out:
        json.dump(timeline(), out, indent=1)
        out.write("\n")
    os.replace(args.timeline + ".partial", args.timeline)
    with tempfile.TemporaryDirectory() as tmp:
        wav = args.wav or os.path.join(tmp, "recut.wav")
        write_wav(wav, stereo)
        os.makedirs(os.path.dirname(os.path.abspath(args.mp3)), exist_ok=True)
        encode_mp3(wav, args.mp3)
    print("# wrote %s (%.2f s) and %s" % (args.mp3, stereo.shape[1] / SAMPLE_RATE, args.timeline))
    return 0


if __name__ == "__main__":
    sys.exit(main())
