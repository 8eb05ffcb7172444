# The add-on's extension manifest, read as Blender 4.2 on reads it, against bl_info and the
# project's version: python3 addon_manifest_check.py MANIFEST INIT_PY PROJECT_VERSION
# Exits with status 1 and a line naming the first check that failed.
import ast
import sys
import tomllib

manifest_path, init_path, project_version = sys.argv[1:4]
failures = []


def check(holds, what):
    if not holds:
        failures.append(what)


def terse(text):
    """A tagline or a permission's reason: at most 64 characters, no closing punctuation."""
    return isinstance(text, str) and 0 < len(text) <= 64 and text == text.strip() and \
        (text[-1].isalnum() or text[-1] in ")]}")


with open(manifest_path, "rb") as file:
    manifest = tomllib.load(file)
with open(init_path, encoding="utf-8") as file:
    tree = ast.parse(file.read())
bl_info = next(ast.literal_eval(node.value) for node in tree.body if isinstance(node, ast.Assign)
               and any(getattr(t, "id", "") == "bl_info" for t in node.targets))

check(manifest.get("schema_version") == "1.0.0", "schema_version is 1.0.0")
identifier = manifest.get("id", "")
check(identifier.isidentifier() and "__" not in identifier and not identifier.startswith("_")
      and not identifier.endswith("_"), "id is a plain Python identifier")
check(manifest.get("version") == project_version, "version is the project's %s" % project_version)
check(manifest.get("version") == ".".join(map(str, bl_info["version"])),
      "version is bl_info's %s" % (bl_info["version"],))
check(manifest.get("name") == bl_info["name"], "name is bl_info's")
check(terse(manifest.get("tagline")), "tagline is terse: %r" % manifest.get("tagline"))
check(isinstance(manifest.get("maintainer"), str) and manifest["maintainer"].strip(),
      "a maintainer")
check(manifest.get("type") == "add-on", "type is add-on")
check(manifest.get("blender_version_min") == "4.2.0", "blender_version_min is 4.2.0")
check(manifest.get("license") == ["SPDX:MIT"], "license is SPDX:MIT")
permissions = manifest.get("permissions", {})
check(isinstance(permissions, dict) and set(permissions) == {"files"} and
      terse(permissions["files"]), "permissions: files, with a terse reason")
check(tuple(bl_info["blender"]) <= (3, 4, 0), "bl_info still installs on Blender 3.4")
check(set(manifest) <= {"schema_version", "id", "version", "name", "tagline", "maintainer", "type",
                        "tags", "blender_version_min", "license", "permissions", "website"},
      "no key Blender does not know: %s" % sorted(manifest))
if failures:
    print("add-on manifest check failed: " + "; ".join(failures))
    sys.exit(1)
print("add-on manifest check passed: %s %s" % (manifest["id"], manifest["version"]))
