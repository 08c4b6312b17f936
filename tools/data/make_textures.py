#!/usr/bin/python3
# Generates the images of the versewall scene and the host's default textures under
# data/textures/: word pictures, circle, tunnel wall, vignette, default white and black.
# Needs numpy and ImageMagick (text only, rendered to raw grey); output is byte-for-byte
# reproducible (own PNG writer, no time stamps). Run: tools/data/make_textures.py [out_dir]
import os
import struct
import subprocess
import sys
import zlib

import numpy as np

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
CONVERT = "/usr/bin/convert"  # ImageMagick, called by its full path for a predictable tool


# ---- file writers ----

def write_png(path, pixels):
    """pixels: uint8 array H x W x 3 (RGB, 24 bits per pixel) or H x W x 4 (RGBA, 32 bits).
    Rows top first, as PNG stores them; the host's decoder turns them bottom-up itself."""
    pixels = np.ascontiguousarray(pixels, dtype=np.uint8)
    height, width, channels = pixels.shape
    colour_type = {3: 2, 4: 6}[channels]  # truecolour / truecolour with alpha: never palette or grey

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + pixels[y].tobytes() for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def write_jpeg(path, rgb, quality=92):
    """rgb: uint8 H x W x 3. Encoded by ImageMagick as a 3-channel JPEG without metadata."""
    height, width, _ = rgb.shape
    ppm = b"P6 %d %d 255\n" % (width, height) + np.ascontiguousarray(rgb, dtype=np.uint8).tobytes()
    subprocess.run([CONVERT, "ppm:-", "-strip", "-type", "TrueColor", "-sampling-factor", "4:4:4",
                    "-quality", str(quality), "jpg:" + path], input=ppm, check=True)


# ---- helpers ----

def to_u8(a):
    return np.clip(np.rint(a * 255.0), 0, 255).astype(np.uint8)


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def gaussian_blur(image, sigma):
    """Separable Gaussian blur of a 2-D float array (edges clamped)."""
    radius = int(np.ceil(sigma * 3))
    x = np.arange(-radius, radius + 1)
    kernel = np.exp(-(x * x) / (2.0 * sigma * sigma))
    kernel /= kernel.sum()
    padded = np.pad(image, radius, mode="edge")
    rows = np.apply_along_axis(lambda r: np.convolve(r, kernel, mode="valid"), 1, padded)
    return np.apply_along_axis(lambda c: np.convolve(c, kernel, mode="valid"), 0, rows)


def render_text(word, size, box):
    """The word in white on black, fitted into box (w, h) and centred on a size x size
    square; returns floats 0..1, rows top first."""
    command = [CONVERT, "-background", "black", "-fill", "white", "-font", FONT,
               "-size", "%dx%d" % box, "-gravity", "center", "label:" + word,
               "-gravity", "center", "-extent", "%dx%d" % (size, size),
               "-colorspace", "Gray", "-depth", "8", "gray:-"]
    raw = subprocess.run(command, capture_output=True, check=True).stdout
    return np.frombuffer(raw, dtype=np.uint8).reshape(size, size).astype(np.float64) / 255.0


# ---- the images ----

def word_picture(word, box, size=512):
    """White word with a faint soft halo, alpha equal to brightness: made for additive blending
    (the scene adds the colour; the alpha only matters to tools that show the file)."""
    text = render_text(word, size, box)
    halo = gaussian_blur(text, 10.0) * 0.35
    value = np.maximum(text, halo)
    v = to_u8(value)
    return np.dstack([v, v, v, v])


def circle_picture(size=128):
    """A soft white disc: solid core, gentle falloff, exactly black at the border."""
    c = (np.arange(size) + 0.5) / size * 2.0 - 1.0
    x, y = np.meshgrid(c, c)
    r = np.sqrt(x * x + y * y)
    core = 1.0 - smoothstep(0.55, 0.75, r)
    halo = np.exp(-(r / 0.6) ** 2 * 2.5) * 0.55
    value = np.maximum(core, halo) * (1.0 - smoothstep(0.85, 1.0, r))
    v = to_u8(value)
    return np.dstack([v, v, v, v])


def tunnel_picture(size=512, panels=8, seed=1):
    """Dark metal panels with glowing seams and a few lamps, repeating in both directions:
    every feature has a whole number of periods across the image, so the edges meet."""
    rng = np.random.default_rng(seed)
    cell = size // panels
    coords = np.arange(size)
    x, y = np.meshgrid(coords, coords)
    px, py = x // cell, y // cell
    lx, ly = (x % cell + 0.5) / cell, (y % cell + 0.5) / cell

    # Per-panel tint and brightness, drawn once per panel.
    hue = rng.uniform(0.0, 1.0, (panels, panels))
    level = rng.uniform(0.25, 0.6, (panels, panels))
    lamps = rng.uniform(0.0, 1.0, (panels, panels)) < 0.18
    palette = np.array([[0.10, 0.25, 0.80], [0.45, 0.15, 0.75], [0.05, 0.55, 0.65], [0.20, 0.35, 0.95]])
    index = (hue * len(palette)).astype(int) % len(palette)
    base = palette[index[py, px]] * level[py, px][..., None]

    # Bevel: panels darken towards their edges; brushed lines across them.
    edge = np.minimum(np.minimum(lx, 1.0 - lx), np.minimum(ly, 1.0 - ly))
    bevel = smoothstep(0.0, 0.12, edge)
    brushed = 0.85 + 0.15 * np.sin(2.0 * np.pi * y * 32 / size) * np.sin(2.0 * np.pi * x * 3 / size)
    colour = base * (0.35 + 0.65 * bevel)[..., None] * brushed[..., None]

    # Glowing seams between panels, cyan along one axis and magenta along the other.
    seam_x = np.exp(-((np.minimum(lx, 1.0 - lx) * cell) ** 2) / 3.0)
    seam_y = np.exp(-((np.minimum(ly, 1.0 - ly) * cell) ** 2) / 3.0)
    colour += seam_x[..., None] * np.array([0.2, 0.9, 1.0]) * 0.8
    colour += seam_y[..., None] * np.array([1.0, 0.3, 0.8]) * 0.6

    # Round lamps in some panels, warm and bright.
    lamp_r = np.sqrt((lx - 0.5) ** 2 + (ly - 0.5) ** 2)
    lamp = (1.0 - smoothstep(0.08, 0.22, lamp_r)) * lamps[py, px]
    colour += lamp[..., None] * np.array([1.0, 0.7, 0.3])

    return to_u8(np.clip(colour, 0.0, 1.0))


def vignette_picture(width=640, height=360):
    """White in the middle, darkening smoothly to the corners; stretched over the screen, so
    the falloff is elliptical in screen space. RGB, since the scene multiplies by it."""
    u = (np.arange(width) + 0.5) / width * 2.0 - 1.0
    v = (np.arange(height) + 0.5) / height * 2.0 - 1.0
    x, y = np.meshgrid(u, v)
    d = np.sqrt(x * x + y * y)
    value = 1.0 - 0.78 * smoothstep(0.45, 1.42, d) ** 1.2
    g = to_u8(value)
    return np.dstack([g, g, g])


def flat_picture(rgba, size=4):
    return np.tile(np.array(rgba, dtype=np.uint8), (size, size, 1))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "data", "textures")
    os.makedirs(out, exist_ok=True)
    write_png(os.path.join(out, "la.png"), word_picture("la", (340, 300)))
    write_png(os.path.join(out, "umptchi.png"), word_picture("umptchi", (430, 220)))
    write_png(os.path.join(out, "circle.png"), circle_picture())
    write_jpeg(os.path.join(out, "tunnel.jpg"), tunnel_picture())
    write_png(os.path.join(out, "vignette01.png"), vignette_picture())
    write_png(os.path.join(out, "default_white.png"), flat_picture([255, 255, 255, 255]))
    write_png(os.path.join(out, "default_black.png"), flat_picture([0, 0, 0, 255]))


if __name__ == "__main__":
    main()
