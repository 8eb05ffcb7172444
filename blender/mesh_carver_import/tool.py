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
# The Wavefront materials and the reasons on standard error came with 1.2.0, put-back with 1.3.0.
CARVING_TOOL = (1, 2, 0)
PUTTING_BACK_TOOL = (1, 3, 0)


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
    decode = lambda data: data.decode("utf-8", "replace").replace("\r\n", "\n").strip()
    return done.returncode, decode(done.stdout), decode(done.stderr)


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


def run_in(folder, ini_text, arguments):
    """Writes the ini into the folder and runs the tool there: (console, None) when it succeeded,
    else (None, why), as the tool said it: its last console line, then its reason."""
    with open(os.path.join(folder, "mesh_carver.ini"), "w", encoding="utf-8") as ini:
        ini.write(ini_text)
    try:
        status, console, errors = run_quietly(arguments, folder)
    except OSError as error:
        return None, "mesh_carver cannot be started: %s" % error
    if status != 0:
        said = console.splitlines()[-1] if console else "mesh_carver failed"
        return None, said + ("\n" + errors if errors else "")
    return console, None
