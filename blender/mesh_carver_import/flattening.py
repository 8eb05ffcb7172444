# File > Import > DSF airport flattened: mesh_carver flatten makes the ground inside an airport's
# boundary even in the tile the author names, Blender going on while it runs; then the flattened
# ground and its band are imported for a look, as File > Import imports a window.
import os
import shutil
import tempfile

import bpy
from bpy.props import EnumProperty, FloatProperty, StringProperty
from bpy_extras.io_utils import ImportHelper

from . import carving, tool

TARGETS = [
    ("plane", "Plane", "The plane nearest the ground inside the area: a gentle slope stays"),
    ("level", "Level", "One height: the ground's mean inside the area"),
    ("airport", "Airport's elevation", "The elevation of the airport's apt.dat header row"),
    ("height", "Height", "The height given below, in metres"),
]


def number_text(value):
    return repr(float(value))


def ini_text(op, tile, output_tile):
    """The flatten verb's keys: the window is left to the tool, which takes the band's."""
    target = number_text(op.height) if op.flatten_to == "height" else op.flatten_to
    lines = ["[mesh_carver]", "input_file=%s" % tile, "output_tile=%s" % output_tile,
             "area_file=%s" % bpy.path.abspath(op.area_file), "area=%s" % op.area,
             "flatten_to=%s" % target, "blend_m=%s" % number_text(op.blend_m)]
    return "\n".join(lines + op.folder_lines()) + "\n"


def report_line(console):
    """The line that says what was flattened, and how."""
    for line in console.splitlines():
        if line.startswith("flattened "):
            return line
    return console.splitlines()[-1] if console else ""


class IMPORT_SCENE_OT_dsf_flatten(bpy.types.Operator, ImportHelper, tool.ToolChoice,
                                  tool.SceneryFolders, tool.RunWhileBlenderGoesOn):
    """Flatten an airport inside its boundary in a DSF tile (mesh_carver), eased back to the land
    around it, and import the flattened ground for a look"""
    bl_idname = "import_scene.dsf_flatten"
    bl_label = "DSF airport flattened (mesh_carver)"
    bl_options = {"REGISTER", "UNDO"}

    filter_glob: StringProperty(default="*.dsf;*.txt;*.7z", options={"HIDDEN"})
    area_file: StringProperty(
        name="Area file", subtype="FILE_PATH",
        description="The airport's boundary: an apt.dat, a GeoJSON or a KML file")
    area: StringProperty(
        name="Area", description="Which area of the file: an airport's code, a feature's id, "
                                 "name, ref or icao, a placemark's name; empty: the first")
    flatten_to: EnumProperty(name="Flatten to", items=TARGETS, default="plane")
    height: FloatProperty(name="Height (m)", description="The height to flatten to, in metres",
                          default=0, precision=2)
    blend_m: FloatProperty(
        name="Blend (m)", min=0, max=99999, default=100,
        description="The band around the outline, and inside each hole, where the ground eases "
                    "back to the land around it")
    output_tile: StringProperty(
        name="Output tile", subtype="FILE_PATH",
        description="The tile to write; empty: the tile itself, its original kept once beside "
                    "it as NAME.original")

    def draw(self, context):
        layout = self.layout
        column = layout.column(align=True)
        column.prop(self, "area_file")
        column.prop(self, "area")
        column = layout.column(align=True)
        column.prop(self, "flatten_to")
        if self.flatten_to == "height":
            column.prop(self, "height")
        column.prop(self, "blend_m")
        layout.prop(self, "output_tile")
        layout.prop(self, "xplane_folder")
        layout.prop(self, "scenery_folder")
        layout.prop(self, "tool_path")

    def invoke(self, context, event):
        self.take_preferred_tool(context)
        return ImportHelper.invoke(self, context, event)

    def execute(self, context):
        program = tool.find_tool(self.tool_path, context)
        problem = "name the airport's area file: its boundary is what is flattened" \
            if not self.area_file else tool.tool_problem(program, tool.FLATTENING_TOOL, "to flatten")
        if problem:
            self.report({"ERROR"}, problem)
            return {"CANCELLED"}
        tool.remember_tool(self.tool_path, context)
        self.program = program
        self.tile = os.path.abspath(bpy.path.abspath(self.filepath))
        self.written = os.path.abspath(bpy.path.abspath(self.output_tile)) \
            if self.output_tile else self.tile
        self.folder = tempfile.mkdtemp(prefix="mesh_carver_")
        run = tool.ToolRun(self.folder, ini_text(self, self.tile, self.written),
                           [program, "flatten"])
        return self.run_tool(context, run, "flattening")

    def finish(self, context):
        console, failure = self.run.outcome()
        shutil.rmtree(self.folder, ignore_errors=True)
        if failure:
            self.report({"ERROR"}, failure)
            return {"CANCELLED"}
        said = report_line(console)
        window = carving.window_said(console)
        if window is None:
            self.report({"ERROR"}, "the tool flattened %s but did not say its window: %s" % (
                os.path.basename(self.written), said))
            return {"CANCELLED"}
        # the window the flattening touched, whole triangles, so that the band shows too
        try:
            bpy.ops.import_scene.dsf_window(
                filepath=self.written, south=window[0], north=window[1], west=window[2],
                east=window[3], xplane_folder=self.xplane_folder,
                scenery_folder=self.scenery_folder, tool_path=self.program)
        except RuntimeError as error:
            self.report({"WARNING"}, "%s written (%s), but its import failed: %s" % (
                os.path.basename(self.written), said, error))
            return {"FINISHED"}
        self.report({"INFO"}, "%s: %s" % (os.path.basename(self.written), said))
        return {"FINISHED"}


def menu_entry(self, context):
    self.layout.operator(IMPORT_SCENE_OT_dsf_flatten.bl_idname,
                         text="DSF airport flattened (mesh_carver)")


CLASSES = (IMPORT_SCENE_OT_dsf_flatten,)
