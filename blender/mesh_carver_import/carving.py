# File > Import: carves a latitude/longitude window out of a DSF tile with mesh_carver and imports
# the Wavefront file it writes, textured, into a collection of its own. The collection keeps what
# the way back needs: the tile, the window, the folders and where each object was placed.
import os
import re
import shutil
import tempfile

import bpy
from bpy.props import BoolProperty, FloatProperty, StringProperty
from bpy_extras.io_utils import ImportHelper

from . import tool

# The window decides what is kept; capacities this large never stop a run (nothing is reserved).
CAPACITY = 2000000000


def window_lines(south, north, west, east):
    """The window's ini lines: the put-back must carve exactly the window the import carved."""
    return ["lat_min=%.9f" % south, "lat_max=%.9f" % north,
            "long_min=%.9f" % west, "long_max=%.9f" % east]


def area_lines(area_file, area, clip):
    """The area's ini lines, when there is one: the put-back follows the same area."""
    if not area_file:
        return []
    return ["area_file=%s" % area_file, "area=%s" % area, "clip=%d" % (1 if clip else 0)]


def window_from_area(op):
    """An area named and the window fields left at 0: the tool takes the area's window."""
    return bool(op.area_file) and op.south == op.north == op.west == op.east == 0


def ini_text(op, tile, wavefront):
    window = [] if window_from_area(op) else window_lines(op.south, op.north, op.west, op.east)
    area_file = bpy.path.abspath(op.area_file) if op.area_file else ""
    lines = ["[mesh_carver]"] + window + [
        "input_file=%s" % tile, "output_file=object.obj",
        "nb_max_vertex=%d" % CAPACITY, "nb_max_tris=%d" % CAPACITY,
        "wavefront_file=%s" % wavefront] + area_lines(area_file, op.area, op.clip)
    return "\n".join(lines + op.folder_lines()) + "\n"


def window_said(console):
    """The window the tool took from the area, as its console says it, or None."""
    found = re.search(r"^window from the area: lat (\S+) to (\S+), long (\S+) to (\S+)$",
                      console, re.MULTILINE)
    return [float(value) for value in found.groups()] if found else None


def origin_of(console):
    """Longitude, latitude and altitude (m) of the report's last line, the origin's scenery line."""
    fields = console.splitlines()[-1].split() if console else []
    if len(fields) < 4 or fields[0] != "PATCH_VERTEX":
        return None
    return [float(fields[1]), float(fields[2]), float(fields[3])]


def has_faces(path):
    with open(path, encoding="utf-8", errors="replace") as lines:
        return any(line.startswith("f ") for line in lines)


def flat_matrix(matrix):
    return [value for row in matrix for value in row]


def keep_for_the_way_back(collection, op, tile, console, window, objects):
    """The collection's custom properties: where its model sits in the simulator, and everything
    the export back into the tile needs."""
    origin = origin_of(console)
    collection["origin"] = origin
    collection["origin_longitude"] = origin[0]
    collection["origin_latitude"] = origin[1]
    collection["origin_altitude_m"] = origin[2]
    collection["origin_scenery_line"] = console.splitlines()[-1]
    collection["tile"] = tile
    collection["window"] = window
    collection["window_from_area"] = window_from_area(op)
    collection["area_file"] = bpy.path.abspath(op.area_file) if op.area_file else ""
    collection["area"] = op.area
    collection["clip"] = op.clip
    collection["scenery_folder"] = bpy.path.abspath(op.scenery_folder) if op.scenery_folder else ""
    collection["xplane_folder"] = bpy.path.abspath(op.xplane_folder) if op.xplane_folder else ""
    for obj in objects:
        # the Wavefront file's overlay object goes nowhere: only the terrain goes back
        obj["mesh_carver_part"] = "overlay" if obj.name.endswith("_overlay") else "terrain"
        obj["mesh_carver_matrix"] = flat_matrix(obj.matrix_world)


class IMPORT_SCENE_OT_dsf_window(bpy.types.Operator, ImportHelper, tool.ToolChoice,
                                  tool.SceneryFolders):
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
    area_file: StringProperty(
        name="Area file", subtype="FILE_PATH",
        description="Optional: cut along an area too: an apt.dat, a GeoJSON or a KML file; with "
                    "it the window may be left at 0 (the area's, widened by 10 m)")
    area: StringProperty(
        name="Area", description="Which area of the file: an airport's code, a feature's id, "
                                 "name, ref or icao, a placemark's name; empty: the first")
    clip: BoolProperty(
        name="Clip along the outline",
        description="Cut the triangles along the area's outline (or the window's edges)")

    def draw(self, context):
        layout = self.layout
        in_browser = getattr(context.space_data, "type", "") == "FILE_BROWSER"
        if self.filepath and not in_browser:  # a dropped tile's dialog: which tile it is
            layout.label(text=os.path.basename(self.filepath))
        column = layout.column(align=True)
        column.label(text="Window (degrees):")
        column.prop(self, "south")
        column.prop(self, "north")
        column.prop(self, "west")
        column.prop(self, "east")
        column = layout.column(align=True)
        column.prop(self, "area_file")
        column.prop(self, "area")
        column.prop(self, "clip")
        layout.prop(self, "xplane_folder")
        layout.prop(self, "scenery_folder")
        layout.prop(self, "tool_path")

    def invoke(self, context, event):
        self.take_preferred_tool(context)
        if self.filepath:  # a tile dropped onto the viewport: only the window is left to ask
            if hasattr(ImportHelper, "invoke_popup"):
                return self.invoke_popup(context)
            return context.window_manager.invoke_props_dialog(self)
        return ImportHelper.invoke(self, context, event)

    def execute(self, context):
        program = tool.find_tool(self.tool_path, context)
        problem = tool.tool_problem(program, tool.CARVING_TOOL, "to carve")
        if problem:
            self.report({"ERROR"}, problem)
            return {"CANCELLED"}
        tool.remember_tool(self.tool_path, context)
        tile = os.path.abspath(bpy.path.abspath(self.filepath))
        if not window_from_area(self) and not (self.south < self.north and self.west < self.east):
            self.report({"ERROR"}, "the window is empty: south must be below north, west below east")
            return {"CANCELLED"}
        stem = os.path.splitext(os.path.basename(tile))[0]
        folder = tempfile.mkdtemp(prefix="mesh_carver_")
        try:
            return self.carve_and_import(context, program, tile, stem, folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def carve_and_import(self, context, program, tile, stem, folder):
        wavefront = os.path.join(folder, stem + "_terrain.obj")
        console, failure = tool.run_in(folder, ini_text(self, tile, wavefront), [program])
        if failure:
            self.report({"ERROR"}, failure)
            return {"CANCELLED"}
        window = window_said(console) or [self.south, self.north, self.west, self.east]
        name = "%s %.4f..%.4f N %.4f..%.4f E" % (stem, window[0], window[1], window[2], window[3])
        if self.area_file:
            name += " " + (self.area or os.path.basename(self.area_file))
        if origin_of(console) is None or not os.path.isfile(wavefront) or not has_faces(wavefront):
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
        keep_for_the_way_back(collection, self, tile, console, window, imported)
        origin = collection["origin"]
        self.report({"INFO"}, "%s: %d objects, origin %.9f %.9f %.3f m" % (
            name, len(imported), origin[0], origin[1], origin[2]))
        return {"FINISHED"}


def menu_entry(self, context):
    self.layout.operator(IMPORT_SCENE_OT_dsf_window.bl_idname,
                         text="DSF terrain window (mesh_carver)")


if hasattr(bpy.types, "FileHandler"):  # Blender 4.1 on: a .dsf dropped onto the 3D viewport
    class IO_FH_dsf_window(bpy.types.FileHandler):
        bl_idname = "IO_FH_dsf_window"
        bl_label = "DSF terrain window (mesh_carver)"
        bl_import_operator = IMPORT_SCENE_OT_dsf_window.bl_idname
        bl_file_extensions = ".dsf"

        @classmethod
        def poll_drop(cls, context):
            return context.area is not None and context.area.type == "VIEW_3D"

    CLASSES = (IMPORT_SCENE_OT_dsf_window, IO_FH_dsf_window)
else:
    CLASSES = (IMPORT_SCENE_OT_dsf_window,)
