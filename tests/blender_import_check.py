# Imports a Wavefront file with Blender's own importer and default axes, then checks it:
#   blender -b --python blender_import_check.py -- FILE VERTICES FACES XMIN XMAX YMIN YMAX ZMIN ZMAX
# Exits with status 1 and a line naming the first check that failed.
import sys

import bpy

args = sys.argv[sys.argv.index("--") + 1:]
path, vertices, faces = args[0], int(args[1]), int(args[2])
bounds = [float(a) for a in args[3:9]]

bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.wm.obj_import(filepath=path)
meshes = [o for o in bpy.context.scene.objects if o.type == "MESH"]


def fail(message):
    print("blender check failed: " + message)
    sys.exit(1)


if len(meshes) != 1:
    fail("%d mesh objects" % len(meshes))
# the importer turns the file's Y-up axes into Blender's Z-up through the object's rotation
world = meshes[0].matrix_world
turn = world.to_3x3()
mesh = meshes[0].data
if len(mesh.vertices) != vertices or len(mesh.polygons) != faces:
    fail("%d vertices and %d faces, not %d and %d"
         % (len(mesh.vertices), len(mesh.polygons), vertices, faces))
for axis in range(3):
    values = [(world @ v.co)[axis] for v in mesh.vertices]
    low, high = bounds[2 * axis], bounds[2 * axis + 1]
    # single precision over a few kilometres: within a millimetre
    if abs(min(values) - low) > 1e-3 or abs(max(values) - high) > 1e-3:
        fail("axis %d spans %f..%f, not %f..%f" % (axis, min(values), max(values), low, high))
down = [p.index for p in mesh.polygons if (turn @ p.normal).z <= 0]
if down:
    fail("%d faces do not point up, the first %d" % (len(down), down[0]))
print("blender check passed: %d vertices, %d faces" % (vertices, faces))
