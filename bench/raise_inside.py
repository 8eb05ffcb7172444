# Raises every vertex of a cut's terrain faces that is not on their outline, as an author's edit
# would, for the put-back benchmark:  raise_inside.py IN.obj OUT.obj METRES [SHARE]
# With SHARE (0.01: one face in a hundred), only enough inside vertices, none two on one face,
# that about that share of the faces change.
import collections
import sys

source, target, metres = sys.argv[1], sys.argv[2], float(sys.argv[3])
share = float(sys.argv[4]) if len(sys.argv) > 4 else None
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
raised = used - outline
if share is not None:
    facesOf = collections.defaultdict(list)
    for number, face in enumerate(faces):
        for v in face:
            facesOf[v].append(number)
    touched, chosen = set(), set()
    for v in sorted(raised):
        if len(touched) >= share * len(faces):
            break
        if not touched.intersection(facesOf[v]):
            chosen.add(v)
            touched.update(facesOf[v])
    raised = chosen
out, number = [], 0
for line in lines:
    if line.startswith("v "):
        number += 1
        if number in raised:
            x, y, z = map(float, line.split()[1:4])
            line = "v %.4f %.4f %.4f" % (x, y + metres, z)
    out.append(line)
open(target, "w").write("\n".join(out))
print("%d of %d vertices raised" % (len(raised), len(used)))
