# Imports a latitude/longitude window of a DSF scenery tile into Blender in one step: the add-on
# runs the mesh_carver tool the author installed and imports the Wavefront file it writes,
# textured, into a collection of its own.
import os
import re
import shutil
import subprocess
import sys
import tempfile

import bpy
from bpy.props import FloatProperty, StringProperty
from bpy_extras.io_utils import ImportHelper

bl_info = {
    "name": "DSF terrain window (mesh_carver)",
    "author": "the mesh_carver founders",
    "version": (1, 2, 0),
    "blender": (3, 4, 0),
    "location": "File > Import > DSF terrain window (mesh_carver)",
    "description": "Carves a window out of a DSF tile's terrain with mesh_carver and imports it, "
                   "textured",
    "category": "Import-Export",
}

# The Wavefront materials and the reasons on standard error came with this version.
OLDEST_TOOL = (1, 2, 0)
# The window decides what is kept; capacities this large never stop a run (nothing is reserved).
CAPACITY = 2000000000
TOOL_NAME = "mesh_carver.exe" if sys.platform == "win32" else "mesh_carver"


class MeshCarverPreferences(bpy.types.AddonPreferences):
    bl_idname = __name__

    tool_path: StringProperty(
        name="mesh_carver program",
        description="The mesh_carver program; empty: found on the PATH or beside the add-on",
        subtype="FILE_PATH")

    def draw(self, context):
        self.layout.prop(self, "tool_path")


def preferences(context):
    addon = context.preferences.addons.get(__name__)
    return addon.preferences if addon else None


def find_tool(configured):
    """The program to run: the one asked for, else on the PATH, else beside the add-on."""
    if configured:
        return bpy.path.abspath(configured)
    on_path = shutil.which(TOOL_NAME)
    if on_path:
        return on_path
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), TOOL_NAME)


def run_quietly(arguments, folder):
    """Runs the tool without a console window of its own; (status, stdout, stderr)."""
    flags = getattr(subprocess, "CREATE_NO_WINDOW", 0)
    done = subprocess.run(arguments, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                          creationflags=flags)
    decode = lambda data: data.decode("utf-8", "replace").replace("\r\n", "\n").strip()
    return done.returncode, decode(done.stdout), decode(done.stderr)


def tool_problem(tool):
    """Why the program cannot be used, or None."""
    if not os.path.isfile(tool):
        return "mesh_carver was not found at %s: install it, or set its path in the add-on's " \
               "preferences" % tool
    try:
        status, out, _ = run_quietly([tool, "--version"], os.path.dirname(tool) or ".")
    except OSError as error:
        return "mesh_carver at %s cannot be started: %s" % (tool, error)
    found = re.match(r"mesh_carver (\d+)\.(\d+)\.(\d+)", out)
    if status != 0 or not found:
        return "%s does not answer --version as mesh_carver does" % tool
    version = tuple(int(v) for v in found.groups())
    if version < OLDEST_TOOL:
        return "mesh_carver %s at %s is too old: this add-on needs %s or later" % (
            ".".join(map(str, version)), tool, ".".join(map(str, OLDEST_TOOL)))
    return None


def ini_text(op, tile, wavefront):
    lines = ["[mesh_carver]",
             "lat_min=%.9f" % op.south, "lat_max=%.9f" % op.north,
             "long_min=%.9f" % op.west, "long_max=%.9f" % op.east,
             "input_file=%s" % tile, "output_file=object.obj",
             "nb_max_vertex=%d" % CAPACITY, "nb_max_tris=%d" % CAPACITY,
             "wavefront_file=%s" % wavefront]
    if op.xplane_folder:
        lines.append("xplane_folder=%s" % bpy.path.abspath(op.xplane_folder))
    if op.scenery_folder:
        lines.append("scenery_folder=%s" % bpy.path.abspath(op.scenery_folder))
    return "\n".join(lines) + "\n"


def origin_of(console):
    """Longitude, latitude and altitude (m) of the report's last line, the origin's scenery line."""
    fields = console.splitlines()[-1].split() if console else []
    if len(fields) < 4 or fields[0] != "PATCH_VERTEX":
        return None
    return [float(fields[1]), float(fields[2]), float(fields[3])]


def has_faces(path):
    with open(path, encoding="utf-8", errors="replace") as lines:
        return any(line.startswith("f ") for line in lines)


class IMPORT_SCENE_OT_dsf_window(bpy.types.Operator, ImportHelper):
    """Carve a latitude/longitude window out of a DSF tile's terrain and import it, textured"""
    bl_idname = "import_scene.dsf_window"
    bl_label = "DSF terrain window (mesh_carver)"
    bl_options = {"REGISTER", "UNDO"}

    filter_glob: StringProperty(default="*.dsf;*.txt;*.7z", options={"HIDDEN"})
    south: FloatProperty(name="South", description="Southern edge of the window, degrees",
                         min=-90, max=90, precision=6)
    north: FloatProperty(name="North", description="Northern edge of the window, degrees",
                         min=-90, max=90, precision=6)
    west: FloatProperty(name="West", description="Western edge of the window, degrees",
                        min=-180, max=180, precision=6)
    east: FloatProperty(name="East", description="Eastern edge of the window, degrees",
                        min=-180, max=180, precision=6)
    xplane_folder: StringProperty(
        name="Simulator folder", subtype="DIR_PATH",
        description="Optional: the simulator's folder, for the textures of library terrains")
    scenery_folder: StringProperty(
        name="Scenery folder", subtype="DIR_PATH",
        description="Optional: the tile's scenery pack, when the tile is not in its "
                    "'Earth nav data' folder")
    tool_path: StringProperty(
        name="mesh_carver program", subtype="FILE_PATH",
        description="Optional: the program; empty: the one in the add-on's preferences, on the "
                    "PATH or beside the add-on")

    def draw(self, context):
        layout = self.layout
        column = layout.column(align=True)
        column.label(text="Window (degrees):")
        column.prop(self, "south")
        column.prop(self, "north")
        column.prop(self, "west")
        column.prop(self, "east")
        layout.prop(self, "xplane_folder")
        layout.prop(self, "scenery_folder")
        layout.prop(self, "tool_path")

    def invoke(self, context, event):
        prefs = preferences(context)
        if prefs and not self.tool_path:
            self.tool_path = prefs.tool_path
        return ImportHelper.invoke(self, context, event)

    def execute(self, context):
        prefs = preferences(context)
        tool = find_tool(self.tool_path or (prefs.tool_path if prefs else ""))
        problem = tool_problem(tool)
        if problem:
            self.report({"ERROR"}, problem)
            return {"CANCELLED"}
        if self.tool_path and prefs:
            prefs.tool_path = self.tool_path  # remembered for the next import
        tile = os.path.abspath(bpy.path.abspath(self.filepath))
        if not (self.south < self.north and self.west < self.east):
            self.report({"ERROR"}, "the window is empty: south must be below north, west below east")
            return {"CANCELLED"}
        stem = os.path.splitext(os.path.basename(tile))[0]
        name = "%s %.4f..%.4f N %.4f..%.4f E" % (stem, self.south, self.north, self.west, self.east)
        folder = tempfile.mkdtemp(prefix="mesh_carver_")
        try:
            return self.carve_and_import(context, tool, tile, stem, name, folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def carve_and_import(self, context, tool, tile, stem, name, folder):
        wavefront = os.path.join(folder, stem + "_terrain.obj")
        with open(os.path.join(folder, "mesh_carver.ini"), "w", encoding="utf-8") as ini:
            ini.write(ini_text(self, tile, wavefront))
        try:
            status, console, errors = run_quietly([tool], folder)
        except OSError as error:
            self.report({"ERROR"}, "mesh_carver cannot be started: %s" % error)
            return {"CANCELLED"}
        if status != 0:
            said = console.splitlines()[-1] if console else "mesh_carver failed"
            self.report({"ERROR"}, said + ("\n" + errors if errors else ""))
            return {"CANCELLED"}
        origin = origin_of(console)
        if origin is None or not os.path.isfile(wavefront) or not has_faces(wavefront):
            self.report({"ERROR"}, "the window %s holds no terrain of %s" % (name, tile))
            return {"CANCELLED"}
        before = set(bpy.data.objects)
        try:
            bpy.ops.wm.obj_import(filepath=wavefront)
        except RuntimeError as error:  # nothing half-imported stays behind
            for obj in [o for o in bpy.data.objects if o not in before]:
                bpy.data.objects.remove(obj)
            self.report({"ERROR"}, "Blender could not import the cut: %s" % error)
            return {"CANCELLED"}
        imported = [o for o in bpy.data.objects if o not in before]
        collection = bpy.data.collections.new(name)
        context.scene.collection.children.link(collection)
        for obj in imported:
            for owner in list(obj.users_collection):
                owner.objects.unlink(obj)
            collection.objects.link(obj)
        # where the finished model goes back in the simulator: the origin vertex's position
        collection["origin"] = origin
        collection["origin_longitude"] = origin[0]
        collection["origin_latitude"] = origin[1]
        collection["origin_altitude_m"] = origin[2]
        collection["origin_scenery_line"] = console.splitlines()[-1]
        self.report({"INFO"}, "%s: %d objects, origin %.9f %.9f %.3f m" % (
            name, len(imported), origin[0], origin[1], origin[2]))
        return {"FINISHED"}


def menu_entry(self, context):
    self.layout.operator(IMPORT_SCENE_OT_dsf_window.bl_idname,
                         text="DSF terrain window (mesh_carver)")


CLASSES = (MeshCarverPreferences, IMPORT_SCENE_OT_dsf_window)


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_import.append(menu_entry)


def unregister():
    bpy.types.TOPBAR_MT_file_import.remove(menu_entry)
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
