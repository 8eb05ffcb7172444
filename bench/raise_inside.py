# Raises every vertex of a cut's terrain faces that is not on their outline, as an author's edit
# would, for the put-back benchmark:  raise_inside.py IN.obj OUT.obj METRES
import collections
import sys

source, target, metres = sys.argv[1], sys.argv[2], float(sys.argv[3])
lines = open(source).read().split("\n")
faces = []
overlay = False
for line in lines:
    if line.startswith("o "):
        overlay = line.strip().endswith("_overlay")
    if line.startswith("f ") and not overlay:
        faces.append([int(corner.split("/")[0]) for corner in line.split()[1:]])
edges = collections.Counter()
for face in faces:
    for k in range(len(face)):
        a, b = face[k], face[(k + 1) % len(face)]
        edges[(min(a, b), max(a, b))] += 1
outline = {v for edge, count in edges.items() if count == 1 for v in edge}
used = {v for face in faces for v in face}
out, number = [], 0
for line in lines:
    if line.startswith("v "):
        number += 1
        if number in used and number not in outline:
            x, y, z = map(float, line.split()[1:4])
            line = "v %.4f %.4f %.4f" % (x, y + metres, z)
    out.append(line)
open(target, "w").write("\n".join(out))
print("%d of %d vertices raised" % (len(used - outline), len(used)))
