#!/usr/bin/python3
# Generates data/models/duck.obj: a rubber duck (body with raised tail, wings, head, bill,
# eyes) built from smoothly deformed ellipsoids, with smooth normals and counter-clockwise
# outward faces. The texture u of every vertex codes its part for the duck shader (0 body,
# 1 beak, 2 eye white, 3 pupil). Needs numpy. Run: tools/data/make_duck.py [out_file]
import os
import sys

import numpy as np

MAX_TRIANGLES = 20000
TARGET_HEIGHT = 2.6   # units; the show's camera sits 7 units away
FACING_DEGREES = -35  # turn the bill from +x towards the camera at +z

PART_BODY, PART_BEAK, PART_EYE, PART_PUPIL = 0, 1, 2, 3


class Part:
    """One closed surface: vertices, triangles (indices into its own vertices), part code."""

    def __init__(self, name, material, code, vertices, triangles):
        self.name, self.material, self.code = name, material, code
        self.vertices, self.triangles = vertices, triangles


def ellipsoid(rings, segments, radii, centre, deform=None):
    """A closed ellipsoid: one vertex per pole, rings x segments in between, each triangle
    wound counter-clockwise seen from outside. deform(p, u) moves the points, with u the unit
    sphere directions; it must stay continuous so that the surface stays closed."""
    phi = np.linspace(0.0, np.pi, rings + 1)[1:-1]
    theta = np.linspace(0.0, 2.0 * np.pi, segments, endpoint=False)
    u = [np.array([0.0, 1.0, 0.0])]
    for p in phi:
        for t in theta:
            u.append(np.array([np.sin(p) * np.cos(t), np.cos(p), -np.sin(p) * np.sin(t)]))
    u.append(np.array([0.0, -1.0, 0.0]))
    u = np.array(u)
    points = u * np.asarray(radii)
    if deform is not None:
        points = deform(points, u)
    points = points + np.asarray(centre)

    top, bottom = 0, len(u) - 1

    def ring(i, j):
        return 1 + i * segments + (j % segments)

    triangles = []
    for j in range(segments):
        triangles.append((top, ring(0, j), ring(0, j + 1)))
    for i in range(rings - 2):
        for j in range(segments):
            a, b = ring(i, j), ring(i, j + 1)
            c, d = ring(i + 1, j), ring(i + 1, j + 1)
            triangles.append((a, c, d))
            triangles.append((a, d, b))
    for j in range(segments):
        triangles.append((bottom, ring(rings - 2, j + 1), ring(rings - 2, j)))
    return points, np.array(triangles, dtype=np.int64)


def orient_outward(points, triangles):
    """Flips every triangle if the surface's signed volume is negative (inside out)."""
    p0, p1, p2 = points[triangles[:, 0]], points[triangles[:, 1]], points[triangles[:, 2]]
    volume = np.einsum("ij,ij->i", p0, np.cross(p1, p2)).sum() / 6.0
    return triangles if volume > 0 else triangles[:, ::-1].copy()


def smooth_normals(points, triangles):
    """Area-weighted vertex normals over the shared vertices of one surface."""
    p0, p1, p2 = points[triangles[:, 0]], points[triangles[:, 1]], points[triangles[:, 2]]
    face = np.cross(p1 - p0, p2 - p0)
    normals = np.zeros_like(points)
    for k in range(3):
        np.add.at(normals, triangles[:, k], face)
    return normals / np.linalg.norm(normals, axis=1)[:, None]


# ---- the parts ----

def body():
    def deform(p, u):
        p = p.copy()
        back = np.clip(-u[:, 0], 0.0, 1.0)       # 0 at the chest, 1 at the tail
        p[:, 1] += 0.9 * back ** 3 * (0.55 + 0.45 * u[:, 1])     # the tail sweeps up
        p[:, 2] *= 1.0 - 0.45 * back ** 4                    # ... and narrows to a point
        p[:, 1] = np.where(u[:, 1] < 0.0, p[:, 1] * 0.7, p[:, 1])  # flat underside to float on
        p[:, 0] += 0.12 * np.clip(u[:, 0], 0.0, 1.0) * (1.0 - u[:, 1] ** 2)  # full chest
        return p
    return ellipsoid(40, 64, (1.35, 0.85, 1.0), (0.0, 0.0, 0.0), deform)


def wing(side):
    def deform(p, u):
        p = p.copy()
        p[:, 1] += 0.25 * np.clip(-u[:, 0], 0.0, 1.0) ** 2    # tips rise towards the tail
        return p
    return ellipsoid(16, 28, (0.62, 0.32, 0.14), (-0.2, 0.18, side * 0.9), deform)


def head():
    return ellipsoid(32, 48, (0.62, 0.6, 0.58), (0.62, 1.08, 0.0))


def beak():
    def deform(p, u):
        p = p.copy()
        forward = np.clip(u[:, 0], -1.0, 1.0) * 0.5 + 0.5   # 0 at the root, 1 at the tip
        p[:, 2] *= 0.75 + 0.45 * forward                     # a bill widens at the front
        p[:, 1] += 0.10 * forward ** 2                       # ... and turns up a little
        return p
    return ellipsoid(20, 40, (0.4, 0.12, 0.27), (1.2, 0.93, 0.0), deform)


def eye(side, radius, outward):
    # On the head's surface, looking forward and a little to the side and up.
    direction = np.array([0.62, 0.42, side * 0.66])
    direction /= np.linalg.norm(direction)
    centre = np.array([0.62, 1.08, 0.0]) + direction * (0.55 + outward)
    return ellipsoid(12 if radius > 0.1 else 10, 20 if radius > 0.1 else 16, (radius, radius, radius), centre)


def build():
    parts = []

    def add(name, material, code, surfaces):
        vertices, triangles = [], []
        offset = 0
        for points, tris in surfaces:
            tris = orient_outward(points, tris)
            normals = smooth_normals(points, tris)
            vertices.append(np.hstack([points, normals]))
            triangles.append(tris + offset)
            offset += len(points)
        parts.append(Part(name, material, code, np.vstack(vertices), np.vstack(triangles)))

    add("body", "yellow_rubber", PART_BODY, [body()])
    add("wings", "yellow_rubber", PART_BODY, [wing(1.0), wing(-1.0)])
    add("head", "yellow_rubber", PART_BODY, [head()])
    add("beak", "orange_rubber", PART_BEAK, [beak()])
    add("eyes", "eye_white", PART_EYE, [eye(1.0, 0.14, 0.0), eye(-1.0, 0.14, 0.0)])
    add("pupils", "eye_black", PART_PUPIL, [eye(1.0, 0.075, 0.1), eye(-1.0, 0.075, 0.1)])
    return parts


def place(parts):
    """Turns the duck to face the camera partly, scales it to the target height and centres
    its bounding box on the origin."""
    angle = np.radians(FACING_DEGREES)
    c, s = np.cos(angle), np.sin(angle)
    turn = np.array([[c, 0.0, s], [0.0, 1.0, 0.0], [-s, 0.0, c]])
    for part in parts:
        part.vertices[:, 0:3] = part.vertices[:, 0:3] @ turn.T
        part.vertices[:, 3:6] = part.vertices[:, 3:6] @ turn.T
    everything = np.vstack([p.vertices[:, 0:3] for p in parts])
    low, high = everything.min(axis=0), everything.max(axis=0)
    scale = TARGET_HEIGHT / (high[1] - low[1])
    centre = (low + high) * 0.5
    for part in parts:
        part.vertices[:, 0:3] = (part.vertices[:, 0:3] - centre) * scale


def write_obj(path, parts):
    triangles = sum(len(p.triangles) for p in parts)
    assert triangles <= MAX_TRIANGLES, triangles
    with open(path, "w", newline="\n") as f:
        f.write("# rubber duck for the versewall scene, made by tools/data/make_duck.py\n")
        f.write("# %d triangles; texture u codes the part: 0 body, 1 beak, 2 eye white, 3 pupil\n" % triangles)
        for part in parts:
            for x, y, z, _, _, _ in part.vertices:
                f.write("v %.5f %.5f %.5f\n" % (x, y, z))
        for part in parts:
            for _, _, _, nx, ny, nz in part.vertices:
                f.write("vn %.5f %.5f %.5f\n" % (nx, ny, nz))
        for code in range(4):
            f.write("vt %d 0\n" % code)
        base = 1
        for part in parts:
            f.write("g %s\n" % part.name)
            f.write("usemtl %s\n" % part.material)
            t = part.code + 1
            for a, b, c in part.triangles + base:
                f.write("f %d/%d/%d %d/%d/%d %d/%d/%d\n" % (a, t, a, b, t, b, c, t, c))
            base += len(part.vertices)
    return triangles


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "data", "models", "duck.obj")
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    parts = build()
    place(parts)
    print("duck.obj: %d triangles" % write_obj(out, parts))


if __name__ == "__main__":
    main()
