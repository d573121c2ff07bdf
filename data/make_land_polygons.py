#!/usr/bin/env python3
"""Builds the land polygons land/land-50m.txt for `mr4 groundmap` from the
Natural Earth 1:50m land (public domain) as the npm package world-atlas
ships it (land-50m.json, TopoJSON).

The TopoJSON arcs are decoded here: quantised positions, delta-encoded,
scaled and translated by the file's transform; a ring is its arcs joined
end to start, a negative index ~i taking arc i backwards.

Output (text, LF line ends): '#' comment lines, then per ring a line
"R n" and its n vertices "lon lat" in degrees with three decimals (the
source is quantised to 0.0036 x 0.0017 degrees). The closing vertex that
repeats the first is left out. Rings keep the source's order; holes are
rings of their own.

Usage: data/make_land_polygons.py [OUTPUT]   (default: data/land/land-50m.txt)
Needs npm and tar.
"""
import json
import os
import subprocess
import sys
import tarfile
import tempfile

PACKAGE = "world-atlas@2.0.2"
SOURCE = "package/land-50m.json"


def decode_arcs(topology):
    sx, sy = topology["transform"]["scale"]
    tx, ty = topology["transform"]["translate"]
    arcs = []
    for arc in topology["arcs"]:
        x = y = 0
        points = []
        for dx, dy in arc:
            x += dx
            y += dy
            points.append((x * sx + tx, y * sy + ty))
        arcs.append(points)
    return arcs


def ring_points(ring, arcs):
    points = []
    for index in ring:
        arc = arcs[index] if index >= 0 else arcs[~index][::-1]
        points.extend(arc if not points else arc[1:])
    if len(points) > 1 and points[0] == points[-1]:
        points.pop()
    return points


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "land", "land-50m.txt")
    with tempfile.TemporaryDirectory() as work:
        subprocess.run(["npm", "pack", "--silent", PACKAGE], cwd=work, check=True,
                       stdout=subprocess.DEVNULL)
        tgz = [f for f in os.listdir(work) if f.endswith(".tgz")][0]
        with tarfile.open(os.path.join(work, tgz)) as tar:
            topology = json.load(tar.extractfile(SOURCE))
    arcs = decode_arcs(topology)
    polygons = []
    for geometry in topology["objects"]["land"]["geometries"]:
        if geometry["type"] == "Polygon":
            polygons.append(geometry["arcs"])
        elif geometry["type"] == "MultiPolygon":
            polygons.extend(geometry["arcs"])
        else:
            raise SystemExit("unexpected geometry " + geometry["type"])
    lines = ["# Natural Earth 1:50m land (public domain), from the npm package " + PACKAGE,
             "# " + SOURCE.split("/")[-1] + ". Rings: \"R n\" then n \"lon lat\" lines [deg]."]
    rings = vertices = 0
    for polygon in polygons:
        for ring in polygon:
            points = ring_points(ring, arcs)
            if len(points) < 3:
                continue
            lines.append("R %d" % len(points))
            lines.extend("%.3f %.3f" % p for p in points)
            rings += 1
            vertices += len(points)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out + ".tmp", "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(out + ".tmp", out)
    print("%d rings, %d vertices" % (rings, vertices))


if __name__ == "__main__":
    main()
