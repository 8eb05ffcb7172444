#!/usr/bin/env python3
"""Flattens generated airports on a generated TIN and says what each did to the tile.

    bench/flatten_sweep.py BUILD_DIR [COUNT] [SEED]

Each airport is a GeoJSON polygon in the shapes real boundaries take (wavy rings, sharp and
rounded corners, a hole, a corridor, an outline crossing itself), flattened to its plane with a
blend of 0, 30, 60 or 100 m. Per run: the status, the triangles out and in (and the band's ideal
count, 37 x the outline's metres / blend_m + the triangles out), and the flattened tile's open
edges (count and length) and down-facing faces against the original's, read from a whole-tile
Wavefront carve (vertices by place: two of the tile's pools may hold one place).
The last lines sum it up; the work folder goes unless KEEP_SWEEP is set. Nothing here is timed.
"""
import json
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

WEST, SOUTH, EXTENT = 12.0, 47.0, 0.05
METRES_PER_DEGREE = 111120.0


def ring_metres(ring):
    total = 0.0
    for (x0, y0), (x1, y1) in zip(ring, ring[1:]):
        east = (x1 - x0) * math.cos(math.radians((y0 + y1) / 2)) * METRES_PER_DEGREE
        total += math.hypot(east, (y1 - y0) * METRES_PER_DEGREE)
    return total


def airport(rng):
    """Rings (closed) around a place well inside the TIN, in one of the shapes boundaries take."""
    cx, cy = WEST + rng.uniform(0.018, 0.032), SOUTH + rng.uniform(0.018, 0.032)
    size = rng.uniform(0.002, 0.008)
    shape = rng.choice(["wavy", "corners", "hole", "corridor", "crossing"])
    n = rng.randint(8, 90)
    waves, depth = rng.randint(0, 6), rng.uniform(0, 0.35)
    outline = []
    for k in range(n):
        a = 2 * math.pi * k / n
        r = size * (1 + depth * math.sin(waves * a))
        if shape == "corners":
            r *= 1 / max(abs(math.cos(a)), abs(math.sin(a)))  # a square's corners
        outline.append([cx + r * math.cos(a) / math.cos(math.radians(cy)), cy + r * math.sin(a)])
    rings = [outline]
    if shape == "hole":
        rings.append([[cx + 0.3 * (x - cx), cy + 0.3 * (y - cy)] for x, y in reversed(outline)])
    if shape == "corridor":  # a narrow arm out to a lobe
        w = size * 0.05
        arm = [[cx + size * 0.9, cy - w], [cx + size * 1.8, cy - w], [cx + size * 1.8, cy - 3 * w],
               [cx + size * 2.2, cy - 3 * w], [cx + size * 2.2, cy + 3 * w],
               [cx + size * 1.8, cy + 3 * w], [cx + size * 1.8, cy + w], [cx + size * 0.9, cy + w]]
        outline[0:1] = arm
    if shape == "crossing":  # two corners swapped: the ring crosses itself once
        k = rng.randrange(1, n - 2)
        outline[k], outline[k + 1] = outline[k + 1], outline[k]
    for ring in rings:
        ring.append(ring[0])
    return shape, rings


def run(tool, folder, verb, ini):
    with open(os.path.join(folder, "mesh_carver.ini"), "w") as f:
        f.write("[mesh_carver]\n" + ini)
    done = subprocess.run([tool] + ([verb] if verb else []), cwd=folder, capture_output=True,
                          text=True)
    return done.returncode, done.stdout, done.stderr


def surface(tool, folder, tile):
    """Open edges (how many, how long) and down-facing faces of the tile's terrain, from a
    whole-tile Wavefront carve."""
    ini = (f"lat_min={SOUTH - 0.001}\nlat_max={SOUTH + EXTENT + 0.001}\n"
           f"long_min={WEST - 0.001}\nlong_max={WEST + EXTENT + 0.001}\ninput_file={tile}\n"
           "output_file=whole.obj8\nnb_max_vertex=50000000\nnb_max_tris=150000000\n"
           "wavefront_file=whole.obj\n")
    status, _, errors = run(tool, folder, "", ini)
    if status != 0:
        raise SystemExit("carving the whole tile failed: " + errors)
    points, keys, edges, down = [], [], {}, 0
    for line in open(os.path.join(folder, "whole.obj")):
        if line.startswith("v "):
            points.append(tuple(float(v) for v in line.split()[1:4]))
            # a vertex by its place (a millimetre across, a centimetre up): two of a tile's pools
            # may each hold a vertex at one place, and surfaces meeting there leave no gap
            x, y, z = points[-1]
            keys.append((round(x * 1000), round(y * 100), round(z * 1000)))
        elif line.startswith("f "):
            c = [int(f.split("/")[0]) - 1 for f in line.split()[1:]]
            for i in range(len(c)):
                key = tuple(sorted((keys[c[i]], keys[c[(i + 1) % len(c)]])))
                edges[key] = edges.get(key, 0) + 1
            (ax, _, az), (bx, _, bz), (dx, _, dz) = (points[c[0]], points[c[1]], points[c[2]])
            # the file's axes: x east, z south; faces wound to face up turn clockwise in x, z
            # (a face thinner than a centimetre has its turn in the stored places' last steps)
            turn = (bx - ax) * (dz - az) - (bz - az) * (dx - ax)
            longest = max(math.dist((ax, az), (bx, bz)), math.dist((bx, bz), (dx, dz)),
                          math.dist((dx, dz), (ax, az)))
            if turn > 0 and turn >= 0.01 * longest:
                down += 1
    # the origin (the highest vertex) moves with the flattening: count and length do not
    opened = [(a, b) for (a, b), n in edges.items() if n == 1]
    length = sum(math.dist((a[0] / 1000, a[1] / 100, a[2] / 1000), (b[0] / 1000, b[1] / 100,
                                                                     b[2] / 1000))
                  for a, b in opened)
    return (len(opened), round(length, 3)), down


def main():
    build = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    tool = os.path.join(build, "mesh_carver")
    work = tempfile.mkdtemp(prefix="flatten_sweep_")
    tile = os.path.join(work, "tin.dsf")
    with open(os.path.join(work, "tin.txt"), "w") as text:
        subprocess.run([os.path.join(build, "make_tile"), "3000000", "7", str(WEST), str(SOUTH),
                        str(EXTENT)], stdout=text, check=True)
    subprocess.run([os.path.join(build, "make_dsf"), os.path.join(work, "tin.txt"), tile,
                    os.path.join(work, "tin_dsf.txt")], check=True, capture_output=True)
    before, before_down = surface(tool, work, tile)
    cracked = failed = 0
    ratios = []
    for k in range(count):
        folder = os.path.join(work, str(k))
        os.mkdir(folder)
        shape, rings = airport(rng)
        blend = rng.choice([0, 30, 60, 100])
        with open(os.path.join(folder, "airport.geojson"), "w") as f:
            json.dump({"type": "Feature", "id": "SWEEP", "geometry":
                       {"type": "Polygon", "coordinates": rings}}, f)
        status, console, errors = run(tool, folder, "flatten",
                                      f"input_file={tile}\narea_file=airport.geojson\narea=SWEEP\n"
                                      f"output_tile=flat.dsf\nflatten_to=plane\nblend_m={blend}\n")
        line = f"{k:3d} {shape:9s} blend {blend:3d}: "
        if status != 0:
            failed += 1
            print(line + "refused: " + errors.strip().splitlines()[-1][:150])
            continue
        found = re.search(r"(\d+) triangles out, (\d+) triangles in", console)
        out, into = (int(found.group(1)), int(found.group(2))) if found else (0, 0)
        length = sum(ring_metres(r) for r in rings)
        ideal = (37 * length / blend if blend else 3 * out) + out
        ratios.append(into / ideal)
        after, after_down = surface(tool, folder, os.path.join(folder, "flat.dsf"))
        new_open = after[0] - before[0]
        cracked += after != before or after_down > before_down
        print(line + f"{out} out, {into} in ({into / ideal:.1f}x the band's ideal), "
              f"{new_open} more open edges ({after[1] - before[1]:+.3f} m of them), "
              f"{after_down - before_down} more facing down")
    print(f"{count} flattenings: {failed} refused, {cracked} with the tile's open edges changed "
          f"or faces down; triangles in against the ideal: median "
          f"{sorted(ratios)[len(ratios) // 2]:.1f}x" if ratios else "")
    if os.environ.get("KEEP_SWEEP"):  # each airport's folder, to run one again
        print("kept in " + work)
    else:  # some 12 MB an airport
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
