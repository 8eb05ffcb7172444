# The add-on's sources against what newer Blender removed: the bgl module (5.0), the old
# Wavefront operators import_scene.obj and export_scene.obj (4.0), Mesh.use_auto_smooth (4.1),
# and context-override dictionaries passed to operators (4.0; temp_override replaced them).
#   python3 addon_removed_api_check.py ADDON_FOLDER
# Prints one line per file checked; exits with status 1 on the first use found.
import ast
import os
import sys

folder = sys.argv[1]
REMOVED_NAMES = {"bgl"}
REMOVED_OPERATORS = {("import_scene", "obj"), ("export_scene", "obj")}
REMOVED_ATTRIBUTES = {"use_auto_smooth"}


def chain(node):
    """bpy.ops.export_scene.obj as ["bpy", "ops", "export_scene", "obj"], else None."""
    names = []
    while isinstance(node, ast.Attribute):
        names.insert(0, node.attr)
        node = node.value
    return [node.id] + names if isinstance(node, ast.Name) else None


def uses(tree):
    for node in ast.walk(tree):
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            modules = [a.name for a in node.names] if isinstance(node, ast.Import) else \
                [node.module or ""]
            for module in modules:
                if module.split(".")[0] in REMOVED_NAMES:
                    yield node.lineno, "imports " + module
        if isinstance(node, ast.Attribute):
            names = chain(node)
            if node.attr in REMOVED_ATTRIBUTES:
                yield node.lineno, "uses ." + node.attr
            if names and names[:2] == ["bpy", "ops"] and tuple(names[2:4]) in REMOVED_OPERATORS:
                yield node.lineno, "calls bpy.ops." + ".".join(names[2:4])
        if isinstance(node, ast.Call):
            names = chain(node.func)
            # an operator takes keywords; a positional argument other than an execution
            # context string ("INVOKE_DEFAULT") is a context override
            if names and names[:2] == ["bpy", "ops"] and any(
                    not (isinstance(a, ast.Constant) and isinstance(a.value, str))
                    for a in node.args):
                yield node.lineno, "passes a context override to bpy.ops." + ".".join(names[2:])


failed = False
for name in sorted(os.listdir(folder)):
    if not name.endswith(".py"):
        continue
    with open(os.path.join(folder, name), encoding="utf-8") as file:
        found = list(uses(ast.parse(file.read(), name)))
    for line, what in found:
        print("%s:%d %s, which newer Blender removed" % (name, line, what))
        failed = True
    if not found:
        print("%s: nothing newer Blender removed" % name)
sys.exit(1 if failed else 0)
