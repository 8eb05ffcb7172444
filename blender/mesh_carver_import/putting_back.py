# File > Export: the edited terrain of an imported window goes back into its tile. Blender's own
# Wavefront exporter writes the collection's terrain, and mesh_carver put-back fits it into the
# tile, refusing, with nothing written, an edit that would not join the terrain around it.
import math
import os
import shutil
import tempfile

import bpy
from bpy.props import StringProperty
from bpy_extras.io_utils import ExportHelper
from mathutils import Matrix

from . import carving, tool

# The import's placement, as the file stores it, against the object's now: float noise only.
PLACEMENT_TOLERANCE = 1e-6


def cut_collection(context, name):
    """The collection asked for, else the active one."""
    if name:
        return bpy.data.collections.get(name)
    return context.view_layer.active_layer_collection.collection


def made_by_import(collection):
    return collection is not None and "tile" in collection and "window" in collection


def terrain_objects(collection):
    return [o for o in collection.all_objects
            if o.type == "MESH" and o.get("mesh_carver_part") == "terrain"]


def number_text(value):
    """3 decimals at most, no trailing zeros: "90", "0.5", "-1.25"."""
    text = ("%.3f" % value).rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def placement_text(matrix):
    location, rotation, scale = matrix.decompose()
    degrees = [math.degrees(angle) for angle in rotation.to_euler()]
    number = number_text
    return "Location %s, Rotation %s and Scale %s" % (
        ", ".join(number(v) for v in location), ", ".join(number(v) + "°" for v in degrees),
        ", ".join(number(v) for v in scale))


def placement_problem(obj):
    """Why the object's terrain would land elsewhere: it was moved, rotated or scaled since the
    import; None when it sits where the import put it."""
    stored = list(obj["mesh_carver_matrix"])
    then = Matrix([stored[0:4], stored[4:8], stored[8:12], stored[12:16]])
    now = obj.matrix_world
    if all(abs(now[r][c] - then[r][c]) <= PLACEMENT_TOLERANCE for r in range(4) for c in range(4)):
        return None
    location0, rotation0, scale0 = then.decompose()
    location1, rotation1, scale1 = now.decompose()
    changes = []
    if (location1 - location0).length > PLACEMENT_TOLERANCE:
        changes.append("moved %.3f m" % (location1 - location0).length)
    if rotation1.rotation_difference(rotation0).angle > PLACEMENT_TOLERANCE:
        changes.append("rotated %.3f°" % math.degrees(rotation1.rotation_difference(rotation0).angle))
    if (scale1 - scale0).length > PLACEMENT_TOLERANCE:
        changes.append("scaled")
    said = ", ".join(changes[:-1]) + " and " + changes[-1] if len(changes) > 1 else \
        (changes[0] if changes else "moved")
    return ("the object '%s' was %s since the import, so its terrain would land elsewhere: set its "
            "%s again (Object properties), and change the ground in Edit Mode instead" %
            (obj.name, said, placement_text(then)))


def export_problem(objects):
    for obj in objects:
        if not obj.visible_get():
            return "the object '%s' is hidden: show it, the exporter writes what is shown" % obj.name
        problem = placement_problem(obj)
        if problem:
            return problem
    return None


def export_terrain(context, objects, path):
    """Blender's own Wavefront exporter, default axes, modifiers applied, only these objects."""
    if context.view_layer.objects.active and context.view_layer.objects.active.mode != "OBJECT":
        bpy.ops.object.mode_set(mode="OBJECT")  # edits made in Edit Mode reach the mesh
    selected = [o for o in context.view_layer.objects if o.select_get()]
    try:
        for obj in selected:
            obj.select_set(False)
        for obj in objects:
            obj.select_set(True)
        bpy.ops.wm.obj_export(filepath=path, export_selected_objects=True, apply_modifiers=True,
                              forward_axis="NEGATIVE_Z", up_axis="Y", export_uv=True,
                              export_normals=False, export_materials=True,
                              export_triangulated_mesh=False)
    finally:
        for obj in objects:
            obj.select_set(False)
        for obj in selected:
            obj.select_set(True)


def ini_text(collection, wavefront, output_tile):
    south, north, west, east = list(collection["window"])
    # the window the import carved: the area's own when the tool took it from the area
    window = [] if collection.get("window_from_area") else \
        carving.window_lines(south, north, west, east)
    lines = ["[mesh_carver]"] + window + [
        "input_file=%s" % collection["tile"], "wavefront_file=%s" % wavefront,
        "output_tile=%s" % output_tile] + carving.area_lines(
            collection.get("area_file", ""), collection.get("area", ""),
            collection.get("clip", False))
    # the same folders as the import: the terrains' materials are named alike
    for key in ("xplane_folder", "scenery_folder"):
        if collection.get(key):
            lines.append("%s=%s" % (key, collection[key]))
    return "\n".join(lines) + "\n"


class EXPORT_SCENE_OT_dsf_window(bpy.types.Operator, ExportHelper, tool.ToolChoice,
                                 tool.RunWhileBlenderGoesOn):
    """Put the edited terrain of an imported DSF window back into the tile (mesh_carver)"""
    bl_idname = "export_scene.dsf_window"
    bl_label = "DSF terrain window back into the tile (mesh_carver)"
    bl_options = {"REGISTER"}

    filename_ext = ".dsf"
    check_extension = None  # a text tile goes back as text, under its own name
    filter_glob: StringProperty(default="*.dsf;*.txt", options={"HIDDEN"})
    collection: StringProperty(
        name="Collection",
        description="The collection the DSF terrain window import made; empty: the active one")

    def draw(self, context):
        self.layout.prop(self, "collection")
        self.layout.prop(self, "tool_path")

    def invoke(self, context, event):
        collection = cut_collection(context, self.collection)
        if not made_by_import(collection):
            self.report({"ERROR"}, not_imported_text(collection, self.collection))
            return {"CANCELLED"}
        self.collection = collection.name
        self.filepath = collection["tile"]  # the tile's own name, in its folder
        self.take_preferred_tool(context)
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def execute(self, context):
        collection = cut_collection(context, self.collection)
        if not made_by_import(collection):
            self.report({"ERROR"}, not_imported_text(collection, self.collection))
            return {"CANCELLED"}
        objects = terrain_objects(collection)
        if not objects:
            self.report({"ERROR"}, "the collection '%s' holds no terrain object of the import" %
                        collection.name)
            return {"CANCELLED"}
        problem = export_problem(objects)
        program = tool.find_tool(self.tool_path, context)
        problem = problem or tool.tool_problem(program, tool.PUTTING_BACK_TOOL, "to put back")
        if problem:
            self.report({"ERROR"}, problem)
            return {"CANCELLED"}
        tool.remember_tool(self.tool_path, context)
        self.folder = tempfile.mkdtemp(prefix="mesh_carver_")
        self.output_tile = os.path.abspath(bpy.path.abspath(self.filepath))
        wavefront = os.path.join(self.folder, "edited.obj")
        try:
            export_terrain(context, objects, wavefront)
        except RuntimeError as error:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.report({"ERROR"}, "Blender could not export the terrain: %s" % error)
            return {"CANCELLED"}
        run = tool.ToolRun(self.folder, ini_text(collection, wavefront, self.output_tile),
                           [program, "put-back"])
        return self.run_tool(context, run, "putting the terrain back")

    def finish(self, context):
        console, failure = self.run.outcome()
        shutil.rmtree(self.folder, ignore_errors=True)
        if failure:
            self.report({"ERROR"}, failure)
            return {"CANCELLED"}
        lines = console.splitlines() if console else [""]
        if len(lines) > 1 and lines[-2].startswith("Nothing changed"):
            self.report({"INFO"}, "%s: nothing changed" % os.path.basename(self.output_tile))
        else:
            self.report({"INFO"}, "%s written: %s" % (os.path.basename(self.output_tile), lines[-1]))
        return {"FINISHED"}


def not_imported_text(collection, asked):
    if collection is None:
        return "there is no collection '%s'" % asked
    return ("the collection '%s' was not made by File > Import > DSF terrain window (mesh_carver): "
            "it does not say which tile and window it came from" % collection.name)


def menu_entry(self, context):
    self.layout.operator(EXPORT_SCENE_OT_dsf_window.bl_idname,
                         text="DSF terrain window back into the tile (mesh_carver)")


CLASSES = (EXPORT_SCENE_OT_dsf_window,)
