# The mesh_carver program the add-on runs: where it is, whether it is recent enough, and running
# it in a folder of its own without a console window.
import os
import re
import shutil
import subprocess
import sys

import bpy
from bpy.props import StringProperty

TOOL_NAME = "mesh_carver.exe" if sys.platform == "win32" else "mesh_carver"
# The Wavefront materials and the reasons on standard error came with 1.2.0, put-back with 1.3.0,
# flatten with 1.4.0.
CARVING_TOOL = (1, 2, 0)
PUTTING_BACK_TOOL = (1, 3, 0)
FLATTENING_TOOL = (1, 4, 0)


class MeshCarverPreferences(bpy.types.AddonPreferences):
    # the package's own name: "mesh_carver_import" as a legacy add-on, "bl_ext.REPO.mesh_carver"
    # as an extension
    bl_idname = __package__

    tool_path: StringProperty(
        name="mesh_carver program",
        description="The mesh_carver program; empty: found on the PATH or beside the add-on",
        subtype="FILE_PATH")

    def draw(self, context):
        self.layout.prop(self, "tool_path")


def preferences(context):
    addon = context.preferences.addons.get(__package__)
    return addon.preferences if addon else None


def find_tool(asked, context):
    """The program to run: the one asked for, else the preferences', else on the PATH, else beside
    the add-on."""
    prefs = preferences(context)
    configured = asked or (prefs.tool_path if prefs else "")
    if configured:
        return bpy.path.abspath(configured)
    on_path = shutil.which(TOOL_NAME)
    if on_path:
        return on_path
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), TOOL_NAME)


def remember_tool(asked, context):
    prefs = preferences(context)
    if asked and prefs:
        prefs.tool_path = asked  # for the next import or export


def run_quietly(arguments, folder):
    """Runs the tool without a console window of its own; (status, stdout, stderr)."""
    flags = getattr(subprocess, "CREATE_NO_WINDOW", 0)
    done = subprocess.run(arguments, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                          creationflags=flags)
    return done.returncode, decoded(done.stdout), decoded(done.stderr)


def version_text(version):
    return ".".join(map(str, version))


def tool_problem(tool, oldest, needed_for):
    """Why the program cannot be used for this, or None."""
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
    if version < oldest:
        return "mesh_carver %s at %s is too old %s: this add-on needs %s or later" % (
            version_text(version), tool, needed_for, version_text(oldest))
    return None


def decoded(data):
    return data.decode("utf-8", "replace").replace("\r\n", "\n").strip()


def outcome_of(status, console, errors):
    """(console, None) when the run succeeded, else (None, why), as the tool said it: its last
    console line, then its reason."""
    if status != 0:
        said = console.splitlines()[-1] if console else "mesh_carver failed"
        return None, said + ("\n" + errors if errors else "")
    return console, None


class ToolRun:
    """The tool started in its folder with the ini written there, its output going to files, so
    that Blender can poll it instead of waiting: what it says on standard error while it runs
    (another run's tile it waits for), and its outcome once it has ended."""

    def __init__(self, folder, ini_text, arguments):
        self.folder = folder
        self.process = None
        self.failure = None
        with open(os.path.join(folder, "mesh_carver.ini"), "w", encoding="utf-8") as ini:
            ini.write(ini_text)
        flags = getattr(subprocess, "CREATE_NO_WINDOW", 0)
        try:
            with open(self.path("console.txt"), "wb") as out, \
                    open(self.path("errors.txt"), "wb") as err:
                self.process = subprocess.Popen(arguments, cwd=folder, stdin=subprocess.DEVNULL,
                                                stdout=out, stderr=err, creationflags=flags)
        except OSError as error:
            self.failure = "mesh_carver cannot be started: %s" % error

    def path(self, name):
        return os.path.join(self.folder, name)

    def read(self, name):
        try:
            with open(self.path(name), "rb") as file:
                return decoded(file.read())
        except OSError:
            return ""

    def finished(self):
        return self.process is None or self.process.poll() is not None

    def said(self):
        """The last line the tool wrote on standard error so far, without its name."""
        lines = self.read("errors.txt").splitlines()
        return lines[-1].replace("mesh_carver: ", "", 1) if lines else ""

    def wait(self):
        if self.process is not None:
            self.process.wait()

    def outcome(self):
        if self.failure:
            return None, self.failure
        return outcome_of(self.process.returncode, self.read("console.txt"),
                          self.read("errors.txt"))


def run_in(folder, ini_text, arguments):
    """Runs the tool in the folder and waits for it: (console, None) when it succeeded, else
    (None, why)."""
    run = ToolRun(folder, ini_text, arguments)
    run.wait()
    return run.outcome()


# How often a dialog's run looks at the running tool.
POLL_SECONDS = 0.2


class ToolChoice:
    """The program field of a dialog, filled from the preferences when it opens."""
    tool_path: StringProperty(
        name="mesh_carver program", subtype="FILE_PATH",
        description="Optional: the program; empty: the one in the add-on's preferences, on the "
                    "PATH or beside the add-on")

    def take_preferred_tool(self, context):
        prefs = preferences(context)
        if prefs and not self.tool_path:
            self.tool_path = prefs.tool_path


class SceneryFolders:
    """Where the terrains' textures come from: the simulator's folder and the tile's pack."""
    xplane_folder: StringProperty(
        name="Simulator folder", subtype="DIR_PATH",
        description="Optional: the simulator's folder, for the textures of library terrains")
    scenery_folder: StringProperty(
        name="Scenery folder", subtype="DIR_PATH",
        description="Optional: the tile's scenery pack, when the tile is not in its "
                    "'Earth nav data' folder")

    def folder_lines(self):
        return ["%s=%s" % (key, bpy.path.abspath(getattr(self, key)))
                for key in ("xplane_folder", "scenery_folder") if getattr(self, key)]


class RunWhileBlenderGoesOn:
    """An operator that runs the tool and ends in its finish(context): a script's call waits
    for it; from a dialog Blender goes on, the status bar saying what the tool does."""

    def run_tool(self, context, run, doing):
        self.run, self.doing = run, doing
        if bpy.app.background or context.window is None:
            run.wait()
            return self.finish(context)
        self.timer = context.window_manager.event_timer_add(POLL_SECONDS, window=context.window)
        context.window_manager.modal_handler_add(self)
        context.workspace.status_text_set("mesh_carver: " + doing)
        return {"RUNNING_MODAL"}

    def modal(self, context, event):
        if event.type != "TIMER":
            return {"PASS_THROUGH"}
        if not self.run.finished():
            context.workspace.status_text_set("mesh_carver: " + (self.run.said() or self.doing))
            return {"PASS_THROUGH"}
        context.window_manager.event_timer_remove(self.timer)
        context.workspace.status_text_set(None)
        return self.finish(context)
