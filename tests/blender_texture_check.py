# Imports the textured sample pack's cut with Blender's own importer and checks what a modeller
# sees, from a top-down orthographic render (Workbench, texture colours, flat light):
#   blender -b --python blender_texture_check.py -- CUT.obj OUT_FOLDER [PICTURE.png]
# The orthophotos show their texture's colour at each point's s and t (ortho_north is (255 s,
# 255 t, 40), ortho_south (40, 255 s, 255 t)); the library grass repeats every 500 m; the lake
# is one plain colour under an overlay object of its own; the missing terrain is grey.
# Exits with status 1 and a line naming the first check that failed.
import math
import os
import sys

import bpy

args = sys.argv[sys.argv.index("--") + 1:]
path, folder = args[0], args[1]
picture = args[2] if len(args) > 2 else None


def fail(message):
    print("blender texture check failed: " + message)
    sys.exit(1)


bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.wm.obj_import(filepath=path)
objects = {o.name: o for o in bpy.context.scene.objects if o.type == "MESH"}
name = os.path.splitext(os.path.basename(path))[0]
if sorted(objects) != sorted([name, name + "_overlay"]):
    fail("mesh objects %s" % sorted(objects))
terrain, overlay = objects[name], objects[name + "_overlay"]

materials = {m.name: m for m in bpy.data.materials}
for wanted in ("terrain_Water", "ortho_north", "ortho_south", "grass_tmp", "missing"):
    if wanted not in materials:
        fail("no material %s among %s" % (wanted, sorted(materials)))
for wanted, image_name in (("ortho_north", "ortho_north.dds"), ("ortho_south", "ortho_south.png"),
                           ("grass_tmp", "grass.png")):
    images = [n.image for n in materials[wanted].node_tree.nodes if n.type == "TEX_IMAGE"]
    if not images or images[0] is None or os.path.basename(images[0].filepath) != image_name:
        fail("material %s has no image %s" % (wanted, image_name))
    if images[0].size[0] == 0 or not images[0].has_data and images[0].pixels[:4] is None:
        fail("image %s is not loaded" % image_name)
for wanted in ("terrain_Water", "missing"):
    if any(n.type == "TEX_IMAGE" for n in materials[wanted].node_tree.nodes):
        fail("material %s has a texture" % wanted)
if not terrain.data.uv_layers:
    fail("the terrain has no UV layer")
overlay_names = {s.material.name for s in overlay.material_slots}
if overlay_names != {"ortho_north"}:
    fail("overlay materials %s" % overlay_names)

# The tool's projection, from the file's header: metres east and north of the origin vertex.
header = open(path).read().split("\n", 3)
window = [float(v) for v in header[1].split()[3::2]]  # lat_min lat_max long_min long_max
origin = [float(v) for v in header[2].split()[3:5]]   # longitude, latitude
DEG = 3.1415927 / 180


def blender_xy(lon, lat):
    east = (lon - window[2]) * math.cos(DEG * lat) * 111120.0
    east0 = (origin[0] - window[2]) * math.cos(DEG * origin[1]) * 111120.0
    return east - east0, (lat - origin[1]) * 111120.0


def lon_lat(x, y):
    lat = origin[1] + y / 111120.0
    east0 = (origin[0] - window[2]) * math.cos(DEG * origin[1]) * 111120.0
    return window[2] + (x + east0) / (math.cos(DEG * lat) * 111120.0), lat


# every overlay face lies over the northern half of the lake (7.46 E 45.56 N)
for polygon in overlay.data.polygons:
    centre = overlay.matrix_world @ polygon.center
    lon, lat = lon_lat(centre.x, centre.y)
    if not 45.558 < lat < 45.58 or abs(lon - 7.46) > 0.03:
        fail("an overlay face at %.4f E %.4f N is not over the lake's north" % (lon, lat))
overlay.hide_render = True

scene = bpy.context.scene
scene.render.engine = "BLENDER_WORKBENCH"
scene.display.shading.light = "FLAT"
scene.display.shading.color_type = "TEXTURE"
scene.view_settings.view_transform = "Standard"
scene.render.film_transparent = False
camera_data = bpy.data.cameras.new("top")
camera_data.type = "ORTHO"
camera = bpy.data.objects.new("top", camera_data)
scene.collection.objects.link(camera)
scene.camera = camera


def render(lon_min, lon_max, lat_min, lat_max, pixels, name):
    """Renders the area from straight above; returns a function from lon, lat to 0-255 RGB."""
    (x0, y0), (x1, y1) = blender_xy(lon_min, lat_min), blender_xy(lon_max, lat_max)
    width, height = x1 - x0, y1 - y0
    scale = max(width, height)
    scene.render.resolution_x = int(pixels * width / scale)
    scene.render.resolution_y = int(pixels * height / scale)
    scene.render.resolution_percentage = 100
    camera_data.ortho_scale = scale
    camera_data.clip_end = 100000
    camera.location = ((x0 + x1) / 2, (y0 + y1) / 2, 20000)
    camera.rotation_euler = (0, 0, 0)
    scene.render.filepath = os.path.join(folder, name)
    bpy.ops.render.render(write_still=True)
    image = bpy.data.images.load(scene.render.filepath)
    w, h = image.size
    data = image.pixels[:]

    def colour(lon, lat):
        x, y = blender_xy(lon, lat)
        px = int((x - x0) / width * w)
        py = int((y - y0) / height * h)
        at = 4 * (py * w + px)
        return tuple(round(255 * c) for c in data[at:at + 3])
    return colour


def near(a, b, tolerance):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


# the whole cut: orthophoto gradients, the plain lake, the grey square
view = render(7.41, 7.59, 45.41, 45.59, 900, "overview.png")
if picture:
    os.replace(os.path.join(folder, "overview.png"), picture)
checked = 0
for k in range(1, 10):
    for j in range(1, 10):
        lon, lat = 7.41 + 0.018 * k, 45.41 + 0.018 * j
        if abs(lat - 45.50) < 0.004 or abs(lon - 7.55) < 0.004:
            continue  # too near a patch edge for a pixel to tell
        if math.hypot((lon - 7.46) * 0.7, lat - 45.56) < 0.02:
            continue  # the lake
        if 45.435 < lat < 45.465 and 7.565 < lon < 7.595:
            continue  # the missing terrain
        if lat > 45.50:
            s, t = (lon - 7.40) / 0.20, (lat - 45.50) / 0.10
            expected = (255 * s, 255 * t, 40)
        elif lon < 7.55:
            s, t = (lon - 7.40) / 0.15, (lat - 45.40) / 0.10
            expected = (40, 255 * s, 255 * t)
        else:
            continue  # the library grass, below
        got = view(lon, lat)
        if not near(got, expected, 12):
            fail("at %.3f E %.3f N the orthophoto shows %s, not %s" % (lon, lat, got,
                                                                     tuple(map(round, expected))))
        checked += 1
if checked < 30:
    fail("only %d orthophoto points checked" % checked)
lake = [view(7.46 + dx, 45.56 + dy) for dx in (-0.01, 0, 0.01) for dy in (-0.008, 0, 0.008)]
if any(not near(c, lake[0], 2) for c in lake) or lake[0][2] <= lake[0][0]:
    fail("the lake is not one plain water colour: %s" % lake)
grey = view(7.58, 45.45)
if max(grey) - min(grey) > 3 or not 100 < grey[0] < 220:
    fail("the missing terrain shows %s, not grey" % (grey,))

# a kilometre of the library grass: a checker that repeats every 500 m of the tool's metres
grass = render(7.565, 7.585, 45.41, 45.425, 1000, "grass.png")
colours = [(60, 140, 50), (110, 190, 80)]


def square(colour):  # which of the checker's two colours a pixel is nearer to
    return min(range(2), key=lambda k: sum((p - q) ** 2 for p, q in zip(colour, colours[k])))


squares = 0
for k in range(12):
    lon, lat = 7.566 + 0.0007 * k, 45.4105 + 0.0005 * k
    # the points 500 m further east along its own latitude and 500 m north: one whole repeat
    east = lon + 500.0 / (111120.0 * math.cos(DEG * lat))
    a, b, c = grass(lon, lat), grass(east, lat), grass(lon, lat + 500.0 / 111120.0)
    if not near(a, colours[square(a)], 3):
        continue  # on a square's edge
    if square(b) != square(a) or square(c) != square(a):
        fail("grass at %.5f E %.5f N is %s, 500 m east %s, north %s" % (lon, lat, a, b, c))
    # and one square, 62.5 m, further east is the other colour
    d = grass(lon + 62.5 / (111120.0 * math.cos(DEG * lat)), lat)
    if square(d) == square(a):
        fail("grass at %.5f E %.5f N is %s, 62.5 m east too: %s" % (lon, lat, a, d))
    squares += 1
if squares < 8:
    fail("only %d of 12 grass points show a checker colour" % squares)
print("blender texture check passed: %d orthophoto points, %d grass points, lake %s, grey %s"
      % (checked, squares, lake[0], grey))
