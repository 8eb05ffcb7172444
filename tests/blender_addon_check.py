# Installs the add-on's zip into a fresh Blender user folder, enables it and imports the textured
# sample pack through it; then the failures, which must import nothing:
#   blender -b --python blender_addon_check.py -- ADDON.zip TOOL TILE XPLANE_FOLDER ORIGIN_LINE OLD_TOOL
# Exits with status 1 and a line naming the first check that failed.
import sys

import bpy

args = sys.argv[sys.argv.index("--") + 1:]
addon_zip, tool, tile, xplane, origin_line, old_tool = args[:6]


def fail(message):
    print("blender add-on check failed: " + message)
    sys.exit(1)


bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.preferences.addon_install(filepath=addon_zip, overwrite=True)
bpy.ops.preferences.addon_enable(module="mesh_carver_import")
if not hasattr(bpy.ops.import_scene, "dsf_window"):
    fail("the operator is not registered")
window = dict(south=45.41, north=45.59, west=7.41, east=7.59)


def imports_nothing(label, expected, **arguments):
    before = (set(bpy.data.objects), set(bpy.data.collections))
    try:
        bpy.ops.import_scene.dsf_window(**arguments)
    except RuntimeError as error:
        if expected not in str(error):
            fail("%s: the error report is %r, without %r" % (label, str(error), expected))
    else:
        fail("%s: no error report" % label)
    if (set(bpy.data.objects), set(bpy.data.collections)) != before:
        fail("%s: something was imported" % label)


result = bpy.ops.import_scene.dsf_window(filepath=tile, xplane_folder=xplane, tool_path=tool,
                                         **window)
if result != {"FINISHED"}:
    fail("the import ended %s" % result)
collections = list(bpy.data.collections)
if len(collections) != 1 or not collections[0].name.startswith("+45+007 45.4100..45.5900 N"):
    fail("collections %s" % [c.name for c in collections])
cut = collections[0]
names = sorted(o.name for o in cut.objects)
if names != ["+45+007_terrain", "+45+007_terrain_overlay"] or \
        any(o.type != "MESH" for o in cut.objects):
    fail("objects %s" % names)
materials = {s.material.name for o in cut.objects for s in o.material_slots}
if materials != {"terrain_Water", "ortho_north", "ortho_south", "grass_tmp", "missing"}:
    fail("materials %s" % sorted(materials))
images = [n.image for m in bpy.data.materials if m.node_tree
          for n in m.node_tree.nodes if n.type == "TEX_IMAGE"]
if len(images) != 3 or any(i is None or i.size[0] == 0 for i in images):
    fail("images %s" % [(i.name, tuple(i.size)) if i else None for i in images])
fields = origin_line.split()
expected = [float(fields[1]), float(fields[2]), float(fields[3])]
if list(cut["origin"]) != expected or cut["origin_scenery_line"] != origin_line:
    fail("origin %s and %r, not %s" % (list(cut["origin"]), cut["origin_scenery_line"], origin_line))

imports_nothing("a tile that does not exist", "Error opening input file",
                filepath=tile + ".missing", tool_path=tool, **window)
imports_nothing("its reason", "mesh_carver: cannot open", filepath=tile + ".missing",
                tool_path=tool, **window)
imports_nothing("a window with no terrain", "holds no terrain", filepath=tile, tool_path=tool,
                south=45.0, north=45.01, west=7.0, east=7.01)
imports_nothing("a missing tool", "mesh_carver was not found", filepath=tile,
                tool_path=tool + ".missing", **window)
imports_nothing("an old tool", "is too old", filepath=tile, tool_path=old_tool, **window)
print("blender add-on check passed: %s, %d objects, %d materials" % (cut.name, len(names),
                                                                    len(materials)))
