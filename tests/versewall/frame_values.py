#!/usr/bin/python3
"""Expected numbers of the versewall frame tests, worked out from the documented formulas in
single precision (numpy float32), independently of the module's code. Run with Debian's
python3; its output is what module_frame_test.cpp and scene_math_test.cpp compare against."""
import math
import numpy as np

f32 = np.float32
PI = f32(3.1415927)


def rounded(fn, v):  # sin, cos, tan, pow, sqrt: in double on the float, rounded to float
    return f32(fn(float(v)))


def layout(n):
    n = f32(n)
    width, spacing = n * f32(400), f32(400)
    r = width / f32(800)
    if r > 1:
        spacing, width = f32(400) / r, width / r
    start = (width - spacing) * f32(-0.5)
    count = int(n + f32(0.5))
    return [f32(i) * spacing + start for i in range(count)], spacing


def circle(n, t, hofs=0.0):
    xs, _ = layout(n)
    t = f32(t)
    k = int(t)
    f = t - rounded(math.floor, t)
    frm = xs[k - 1] if k >= 1 else f32(-1000)
    to = xs[k] if k < len(xs) else f32(1000)
    c = min(max(f, f32(0)), f32(1))
    x = f32((1.0 - float(c)) * float(frm) + float(c) * float(to))
    y = abs(rounded(math.sin, f * PI)) * f32(200) + f32(80) + abs(rounded(math.sin, f32(hofs) * PI)) * f32(100)
    return x, y


def distance(a, b):
    dx, dy = a[0] - b[0], a[1] - b[1]
    return rounded(math.sqrt, dx * dx + dy * dy)


def trail_centre(prev, cur, i):
    c = f32(i) / f32(20)
    return tuple(f32((1.0 - float(c)) * float(p) + float(c) * float(q)) for p, q in zip(prev, cur))


def show(label, *values):
    print(label, " ".join(repr(float(v)) for v in values))


# ---- circle: a trail from the centre, then moves either side of the 500-unit jump ----
p1 = circle(3, 1.5)
show("circle 3 words at 1.5:", *p1)
for i in (0, 10, 19):
    c = trail_centre((f32(0), f32(0)), p1, i)
    show(f"  trail step {i} centre, lower left corner:", *c, c[0] - f32(25), c[1] - f32(25))
prev = p1
for t in (3.5, 2.49, 3.5, 2.51):
    p = circle(3, t)
    d = distance(p, prev)
    show(f"circle 3 words at {t}: distance {float(d)!r} {'jump' if d > 500 else 'trail'}; position", *p)
    prev = p

# ---- text matrix for textrot 30: S x R ----
a = f32(30.0 * 0.017453292519943278)
c, s = rounded(math.cos, a), rounded(math.sin, a)
t = f32(1) - c
show("text matrix 30 deg [0] [1] [4] [5] [10]:", c * f32(0.0025), -s * f32(0.004), s * f32(0.0025), c * f32(0.004),
     -(t + c))

# ---- duck rest pose: P x V x M with M = translate(0, -1, 0), V = translate(0, 0, -7) ----
fv = f32(1.0 / math.tan(110.0 / 180 * 3.14159265358979 * 0.5))
aspect = f32(1280) / f32(720)
near, far = f32(0.1), f32(100)
A = (near + far) / (near - far)
B = (f32(2) * far) * near / (near - far)
show("duck mvp [0] [5] [10] [11] [13] [14] [15]:", fv / aspect, fv, A, -1, -fv, f32(-7) * A + B, 7)

# ---- duck height for duck_trans_y 2: sin(2 x 1.57075) x 4 - 1 ----
show("duck height at 2:", rounded(math.sin, f32(2) * f32(1.57075)) * f32(4) - f32(1))
