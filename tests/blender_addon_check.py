# Installs the add-on's zip into a fresh Blender user folder, enables it and imports the textured
# sample pack through it; then the failures, which must import nothing. Then the way back: part
# of the ground lowered with bmesh goes back into a new tile through the export, and imported
# from it again is there, the rest as before; the refusals write nothing.
#   blender -b --python blender_addon_check.py -- ADDON.zip TOOL TILE XPLANE_FOLDER ORIGIN_LINE \
#       OLD_TOOL NEW_TILE
# Exits with status 1 and a line naming the first check that failed.
import math
import os
import sys

import bmesh
import bpy

args = sys.argv[sys.argv.index("--") + 1:]
addon_zip, tool, tile, xplane, origin_line, old_tool, new_tile = args[:7]


def fail(message):
    print("blender add-on check failed: " + message)
    sys.exit(1)


def passed(check):
    print("check: %s: ok" % check)


bpy.ops.wm.read_factory_settings(use_empty=True)
if bpy.app.version >= (4, 2, 0):  # an extension, as Blender 4.2 on installs a zip
    bpy.ops.extensions.package_install_files(filepath=addon_zip, repo="user_default",
                                             enable_on_install=True)
    module = "bl_ext.user_default.mesh_carver"  # the manifest's id
    if module not in bpy.context.preferences.addons:
        fail("the extension is not enabled")
    passed("installed as an extension and enabled (Blender %s)" % bpy.app.version_string)
else:
    bpy.ops.preferences.addon_install(filepath=addon_zip, overwrite=True)
    bpy.ops.preferences.addon_enable(module="mesh_carver_import")
    module = "mesh_carver_import"
    passed("installed as an add-on and enabled (Blender %s)" % bpy.app.version_string)
if not hasattr(bpy.ops.import_scene, "dsf_window"):
    fail("the operator is not registered")
if hasattr(bpy.types, "FileHandler"):
    if not hasattr(bpy.types, "IO_FH_dsf_window"):
        fail("the drop handler is not registered")
    passed("the drop handler for .dsf files is registered")
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
passed("a textured window imported: %d objects, %d materials, 3 images" % (len(names), len(materials)))

imports_nothing("a tile that does not exist", "Error opening input file",
                filepath=tile + ".missing", tool_path=tool, **window)
imports_nothing("its reason", "mesh_carver: cannot open", filepath=tile + ".missing",
                tool_path=tool, **window)
imports_nothing("a window with no terrain", "holds no terrain", filepath=tile, tool_path=tool,
                south=45.0, north=45.01, west=7.0, east=7.01)
imports_nothing("a missing tool", "mesh_carver was not found", filepath=tile,
                tool_path=tool + ".missing", **window)
imports_nothing("an old tool", "is too old", filepath=tile, tool_path=old_tool, **window)
passed("failed imports report why and import nothing")

# The way back.
terrain = bpy.data.objects["+45+007_terrain"]
if cut["tile"] != os.path.abspath(tile) or \
        [round(v, 5) for v in cut["window"]] != [45.41, 45.59, 7.41, 7.59]:
    fail("the collection keeps tile %r and window %s" % (cut["tile"], list(cut["window"])))


def terrain_points(obj):
    """Each vertex as (x, z, y) in the Wavefront file's metres: the mesh is kept in the file's
    axes, the object's rotation turns it upright."""
    return [(v.co.x, v.co.z, v.co.y) for v in obj.data.vertices]


def boundary_vertices(obj):
    mesh = bmesh.new()
    mesh.from_mesh(obj.data)
    edge = {v.index for e in mesh.edges if len(e.link_faces) == 1 for v in e.verts}
    mesh.free()
    return edge


before = terrain_points(terrain)
xs, zs = [p[0] for p in before], [p[1] for p in before]
# a pond in the quarter farthest from the origin (the highest vertex), inside the cut's edge
west, east = min(xs), max(xs)
north, south = min(zs), max(zs)
box = [west + (east - west) * 0.55, west + (east - west) * 0.85,
       north + (south - north) * 0.55, north + (south - north) * 0.85]
if abs(box[0]) < abs(box[1]):
    box[0:2] = [west + (east - west) * 0.15, west + (east - west) * 0.45]
if abs(box[2]) < abs(box[3]):
    box[2:4] = [north + (south - north) * 0.15, north + (south - north) * 0.45]
inside = lambda x, z: box[0] < x < box[1] and box[2] < z < box[3]
edge = boundary_vertices(terrain)


def refused(label, expected, output, **arguments):
    arguments.setdefault("tool_path", tool)
    try:
        bpy.ops.export_scene.dsf_window(filepath=output, **arguments)
    except RuntimeError as error:
        if expected not in str(error):
            fail("%s: the error report is %r, without %r" % (label, str(error), expected))
    else:
        fail("%s: no error report" % label)
    if os.path.exists(output):
        fail("%s: %s was written" % (label, output))


bpy.data.collections.new("by hand")
refused("a collection the import did not make", "was not made by", new_tile, collection="by hand")
carving_only = os.path.join(os.path.dirname(new_tile), "carving_only_tool")
with open(carving_only, "w") as script:
    script.write("#!/bin/sh\necho 'mesh_carver 1.2.0'\n")  # the last version without put-back
os.chmod(carving_only, 0o755)
refused("a tool without put-back", "is too old to put back", new_tile, collection=cut.name,
        tool_path=carving_only)
terrain.location.x += 5
refused("a moved object", "was moved 5.000 m since the import", new_tile, collection=cut.name)
terrain.location.x -= 5
passed("a moved object is refused and nothing written")
moved = next(iter(edge))
terrain.data.vertices[moved].co.y += 5
refused("a moved edge vertex", "on the cut's edge was moved 5.00 m up", new_tile,
        collection=cut.name)
terrain.data.vertices[moved].co.y -= 5

mesh = bmesh.new()
mesh.from_mesh(terrain.data)
lowered = 0
for v in mesh.verts:
    if inside(v.co.x, v.co.z) and v.index not in edge:
        v.co.y -= 10
        lowered += 1
mesh.to_mesh(terrain.data)
mesh.free()
if lowered < 10:
    fail("only %d vertices inside %s to lower" % (lowered, box))
result = bpy.ops.export_scene.dsf_window(filepath=new_tile, collection=cut.name, tool_path=tool)
if result != {"FINISHED"} or not os.path.isfile(new_tile):
    fail("the export ended %s" % result)
passed("edited with bmesh (%d vertices lowered 10 m) and exported into a new tile" % lowered)

result = bpy.ops.import_scene.dsf_window(filepath=new_tile, xplane_folder=xplane, tool_path=tool,
                                         **window)
again = [c for c in bpy.data.collections if c != cut and c.name != "by hand"]
if result != {"FINISHED"} or len(again) != 1 or list(again[0]["origin"]) != list(cut["origin"]):
    fail("the new tile's import ended %s, collections %s" % (result, [c.name for c in again]))
after = terrain_points([o for o in again[0].objects if o.name.endswith("_terrain")][0])
# every vertex back where it was, those in the pond 10 m lower (their place within the new
# points' quantisation: 0.125/65535 degree is 0.21 m north, 0.15 m east here)
old = {(round(x, 3), round(z, 3)): y for x, z, y in before}
deeper, same = 0, 0
for x, z, y in after:
    if (round(x, 3), round(z, 3)) in old and abs(old[(round(x, 3), round(z, 3))] - y) < 0.01:
        same += 1
        continue
    near = [p for p in before if abs(p[0] - x) < 0.2 and abs(p[1] - z) < 0.25]
    if not near or not inside(x, z) or all(abs(p[2] - 10 - y) > 0.01 for p in near):
        fail("the vertex at %.3f %.3f %.3f of the new tile is neither as it was nor lowered" %
             (x, z, y))
    deeper += 1
if deeper < lowered or same + deeper != len(after):
    fail("%d vertices lowered and %d as they were, of %d; %d were lowered" %
         (deeper, same, len(after), lowered))
passed("imported again from the new tile: the heights are the edited ones")

# another run holding the tile: the tool the export runs waits, saying so on standard error,
# which the dialog's export shows in the status bar while Blender goes on; then it writes
import fcntl  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402

import importlib  # noqa: E402

tool_module = importlib.import_module(module + ".tool")

folder = tempfile.mkdtemp()
south, north, west, east = list(cut["window"])
ini = ("[mesh_carver]\nlat_min=%r\nlat_max=%r\nlong_min=%r\nlong_max=%r\ninput_file=%s\n"
       "output_file=cut.obj\nnb_max_vertex=999999\nnb_max_tris=999999\nwavefront_file=cut_w.obj\n"
       "output_tile=%s\n" % (south, north, west, east, new_tile, new_tile))
if tool_module.run_in(folder, ini, [tool])[1] is not None:
    fail("the new tile's window could not be carved again")
with open(new_tile + ".lock", "a") as lock:
    fcntl.flock(lock, fcntl.LOCK_EX)
    run = tool_module.ToolRun(folder, ini, [tool, "put-back"])
    deadline = time.monotonic() + 20
    while not run.said() and time.monotonic() < deadline:
        time.sleep(0.05)
    if run.said() != "waiting for another run writing " + new_tile or run.finished():
        fail("a run waiting for the tile said '%s'" % run.said())
    fcntl.flock(lock, fcntl.LOCK_UN)
run.wait()
if run.outcome()[1] is not None:
    fail("the run that waited ended with: %s" % run.outcome()[1])
passed("a run waiting for the tile says so, then writes it")
# an airport's area from the dialog, the window left at 0: the tool takes the area's, and the
# collection remembers both, so the export goes back along the same area
apt_dat = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "areas", "apt.dat")
result = bpy.ops.import_scene.dsf_window(filepath=tile, xplane_folder=xplane, tool_path=tool,
                                         area_file=apt_dat, area="XTST")
along = [c for c in bpy.data.collections if c.get("area") == "XTST"]
if result != {"FINISHED"} or len(along) != 1:
    fail("the import along XTST ended %s" % result)
south, north, west, east = list(along[0]["window"])
if not (45.4998 < south < 45.5 and 45.54 < north < 45.5402 and 7.4998 < west < 7.5 and
        7.56 < east < 7.5602) or not along[0]["window_from_area"]:
    fail("the window taken from XTST is %s" % list(along[0]["window"]))
along_tile = new_tile + ".along.dsf"
result = bpy.ops.export_scene.dsf_window(filepath=along_tile, collection=along[0].name,
                                         tool_path=tool)
if result != {"FINISHED"} or not os.path.isfile(along_tile):
    fail("the export along XTST ended %s" % result)
passed("an area from the dialog, its window from the area, and back along it")

# XTST flattened to 1400 m from the dialog into a new tile, and its window imported for a look:
# every vertex well inside the airport (past its notch and hole) at 1400 m
flat_tile = new_tile + ".flat.dsf"


def flattening_refused(label, expected, **arguments):
    before = set(bpy.data.collections)
    arguments.setdefault("tool_path", tool)
    try:
        bpy.ops.import_scene.dsf_flatten(filepath=tile, output_tile=flat_tile, **arguments)
    except RuntimeError as error:
        if expected not in str(error):
            fail("%s: the error report is %r, without %r" % (label, str(error), expected))
    else:
        fail("%s: no error report" % label)
    if os.path.exists(flat_tile) or set(bpy.data.collections) != before:
        fail("%s: something was written or imported" % label)


flattening_refused("no area file", "name the airport's area file")
flattening_refused("a tool without flatten", "is too old to flatten", area_file=apt_dat,
                   area="XTST", tool_path=carving_only)
flattening_refused("a band past the tile's edge", "past the tile's eastern edge",
                   area_file=apt_dat, area="XTST", blend_m=60000)
before = set(bpy.data.collections)
result = bpy.ops.import_scene.dsf_flatten(filepath=tile, output_tile=flat_tile, area_file=apt_dat,
                                          area="XTST", flatten_to="height", height=1400,
                                          blend_m=50, xplane_folder=xplane, tool_path=tool)
looked = [c for c in bpy.data.collections if c not in before]
if result != {"FINISHED"} or not os.path.isfile(flat_tile) or len(looked) != 1:
    fail("the flattening ended %s, collections %s" % (result, [c.name for c in looked]))
south, north, west, east = list(looked[0]["window"])
# the band's extent and 10 m: 60 m is 0.00054 degree north, 0.00077 east
if not (45.4993 < south < 45.4996 and 45.5404 < north < 45.5407 and 7.4990 < west < 7.4994 and
        7.5606 < east < 7.5610):
    fail("the flattened window imported is %s" % list(looked[0]["window"]))
lon0, lat0, altitude0 = list(looked[0]["origin"])
metres_east = 111120 * math.cos(math.radians(lat0))


def well_inside(lon, lat):
    margin = 30 / 111120
    if not (7.5 + margin < lon < 7.56 - margin and 45.5 + margin < lat < 45.54 - margin):
        return False
    in_notch = 7.525 - margin < lon < 7.535 + margin and lat > 45.525 - margin
    in_hole = 7.54 - margin < lon < 7.55 + margin and 45.505 - margin < lat < 45.515 + margin
    return not in_notch and not in_hole


flat, off = 0, []
for obj in looked[0].objects:
    if not obj.name.endswith("_terrain"):
        continue
    for x, z, y in terrain_points(obj):
        if well_inside(lon0 + x / metres_east, lat0 - z / 111120):
            flat += 1
            if abs(altitude0 + y - 1400) > 0.01:
                off.append(round(altitude0 + y, 3))
if flat < 50 or off:
    fail("of %d vertices inside XTST, these are not at 1400 m: %s" % (flat, off[:5]))
passed("XTST flattened from the dialog and imported: %d vertices inside at 1400 m" % flat)
print("blender add-on check passed: %s, %d objects, %d materials; %d vertices lowered and back; "
      "a run waiting for the tile said so; along XTST from the dialog and back; XTST flattened" %
      (cut.name, len(names), len(materials), deeper))
