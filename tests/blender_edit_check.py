# Edits a cut in Blender as an author would, then exports it with Blender's own exporter:
#   blender -b --python blender_edit_check.py -- CUT.obj EDITED.obj METRES
# Imports CUT.obj (default axes), raises every vertex of the terrain object that is not on its
# outline by METRES with bmesh, and writes EDITED.obj (default axes, materials, no normals).
# Exits with status 1 and a line saying what failed.
import sys

import bmesh
import bpy
from mathutils import Vector

args = sys.argv[sys.argv.index("--") + 1:]
cut, edited, metres = args[0], args[1], float(args[2])


def fail(message):
    print("blender edit failed: " + message)
    sys.exit(1)


bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.wm.obj_import(filepath=cut)
terrain = [o for o in bpy.context.scene.objects
           if o.type == "MESH" and not o.name.endswith("_overlay")]
if len(terrain) != 1:
    fail("%d terrain objects" % len(terrain))
mesh = terrain[0].data
work = bmesh.new()
work.from_mesh(mesh)
# the importer turns the file's Y-up into Blender's Z-up through the object's rotation: the
# vertices are moved up in the world, whatever that rotation is
world = terrain[0].matrix_world
raised = 0
for vertex in work.verts:
    if vertex.is_boundary:
        continue
    vertex.co = world.inverted() @ (world @ vertex.co + Vector((0, 0, metres)))
    raised += 1
work.to_mesh(mesh)
work.free()
if raised == 0:
    fail("no vertex inside the outline")
bpy.ops.object.select_all(action="SELECT")
bpy.ops.wm.obj_export(filepath=edited, export_selected_objects=False, export_normals=False,
                      export_uv=True, export_materials=True)
print("blender edit done: %d vertices raised by %g m" % (raised, metres))
