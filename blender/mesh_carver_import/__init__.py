# The DSF terrain window both ways in Blender: File > Import carves a latitude/longitude window
# out of a DSF scenery tile with the mesh_carver tool the author installed and imports it,
# textured; File > Export puts the edited terrain back into the tile. The same zip installs as a
# legacy add-on (bl_info, Blender 3.4 to 4.1) and as an extension (blender_manifest.toml, 4.2 on).
import bpy

from . import carving, flattening, putting_back, tool

bl_info = {
    "name": "DSF terrain window (mesh_carver)",
    "author": "the mesh_carver founders",
    "version": (1, 4, 0),
    "blender": (3, 4, 0),
    "location": "File > Import > DSF terrain window and DSF airport flattened, File > Export > "
                "DSF terrain window back into the tile (mesh_carver)",
    "description": "Carves a window out of a DSF tile's terrain with mesh_carver, imports it "
                   "textured, puts the edited terrain back into the tile, and flattens airports",
    "category": "Import-Export",
}

CLASSES = (tool.MeshCarverPreferences,) + carving.CLASSES + flattening.CLASSES + \
    putting_back.CLASSES


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_import.append(carving.menu_entry)
    bpy.types.TOPBAR_MT_file_import.append(flattening.menu_entry)
    bpy.types.TOPBAR_MT_file_export.append(putting_back.menu_entry)


def unregister():
    bpy.types.TOPBAR_MT_file_export.remove(putting_back.menu_entry)
    bpy.types.TOPBAR_MT_file_import.remove(flattening.menu_entry)
    bpy.types.TOPBAR_MT_file_import.remove(carving.menu_entry)
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
