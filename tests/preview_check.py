# Checks a browser's rendering of a preview against the SVG it came from:
#   python3 preview_check.py PREVIEW.svg SCREENSHOT.png [covered]
# inside the window every point of a triangle shows a ramp colour and the ground between them is
# background (with `covered`, a terrain that covers the window: no ground away from its edges),
# and the origin marker's colour is where the SVG puts it. Exits 1 naming the first failure.
import re
import struct
import sys
import zlib

RAMP = [(0x44, 0x01, 0x54), (0x48, 0x24, 0x75), (0x41, 0x44, 0x87), (0x35, 0x5f, 0x8d),
        (0x2a, 0x78, 0x8e), (0x21, 0x91, 0x8c), (0x22, 0xa8, 0x84), (0x44, 0xbf, 0x70),
        (0x7a, 0xd1, 0x51), (0xbd, 0xdf, 0x26), (0xfd, 0xe7, 0x25)]


def fail(message):
    print("preview check failed: " + message)
    sys.exit(1)


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("not a PNG")
    at, chunks, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks += body
        at += 12 + length
    width, height, depth, colour = header[0], header[1], header[2], header[3]
    if depth != 8 or colour not in (2, 6):
        fail("PNG of depth %d, colour type %d" % (depth, colour))
    step = 3 if colour == 2 else 4
    raw, rows, previous = zlib.decompress(chunks), [], bytearray(width * step)
    stride = width * step
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            left = line[x - step] if x >= step else 0
            up = previous[x]
            corner = previous[x - step] if x >= step else 0
            if kind == 1:
                line[x] = (line[x] + left) & 255
            elif kind == 2:
                line[x] = (line[x] + up) & 255
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[x] = (line[x] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(line)
        previous = line
    return width, height, lambda x, y: tuple(rows[y][x * step:x * step + 3])


def near_ramp(pixel):
    # distance to the ramp's polyline, in colour units
    best = 1e9
    for a, b in zip(RAMP, RAMP[1:]):
        for k in range(9):
            t = k / 8
            point = [a[i] * (1 - t) + b[i] * t for i in range(3)]
            best = min(best, sum((pixel[i] - point[i]) ** 2 for i in range(3)) ** 0.5)
    return best < 40


def inside_triangle(p, a, b, c, margin):
    # the point lies inside, at least `margin` pixels from every edge
    def side(u, v):
        length = ((v[0] - u[0]) ** 2 + (v[1] - u[1]) ** 2) ** 0.5 or 1
        return ((v[0] - u[0]) * (p[1] - u[1]) - (v[1] - u[1]) * (p[0] - u[0])) / length
    d = (side(a, b), side(b, c), side(c, a))
    return all(x > margin for x in d) or all(x < -margin for x in d)


svg = open(sys.argv[1]).read()
width, height, pixel = read_png(sys.argv[2])
triangles = []
for fill, path in re.findall(r'<path fill="(#[0-9a-f]{6})"[^>]* d="([^"]*)"', svg):
    for corners in re.findall(r"M([\d.]+) ([\d.]+)L([\d.]+) ([\d.]+)L([\d.]+) ([\d.]+)Z", path):
        v = [float(c) for c in corners]
        triangles.append((fill, (v[0], v[1]), (v[2], v[3]), (v[4], v[5])))
window = re.search(r'<rect x="([\d.]+)" y="([\d.]+)" width="([\d.]+)" height="([\d.]+)" fill="none"', svg)
x0, y0, w, h = (float(v) for v in window.groups())

covered = sys.argv[3:] == ["covered"]
# inside the window: triangles show their ramp colour, the ground between them is background
drawn = background = 0
for i in range(1, 40):
    for j in range(1, 40):
        p = (x0 + w * i / 40, y0 + h * j / 40)
        colour = pixel(int(p[0]), int(p[1]))
        covering = [t for t in triangles if inside_triangle(p, t[1], t[2], t[3], 2)]
        near = any(inside_triangle(p, t[1], t[2], t[3], -2) for t in triangles)
        if covering:
            if not near_ramp(colour):
                fail("%s inside a triangle is %s, not a ramp colour" % (p, colour))
            drawn += 1
        elif not near:
            if colour != (255, 255, 255):
                fail("%s outside the cut is %s, not background" % (p, colour))
            if covered and not (3 <= i <= 37 and 3 <= j <= 37):
                continue  # a triangle across the edge with no corner inside is not the cut's
            background += 1
if drawn < 20 or (background != 0 if covered else background < 20):
    fail("only %d drawn and %d background points in the window" % (drawn, background))
circle = re.search(r'<circle cx="([\d.]+)" cy="([\d.]+)"', svg)
cx, cy = int(float(circle.group(1))), int(float(circle.group(2)))
marks = [(x, y) for x in range(cx - 3, cx + 4) for y in range(cy - 3, cy + 4)
         if 0 <= x < width and 0 <= y < height and pixel(x, y)[0] > 200 and pixel(x, y)[1] < 80
         and pixel(x, y)[2] > 200]
if not marks:
    fail("no origin marker colour near %d, %d" % (cx, cy))
print("preview check passed: %d drawn and %d background points in the window, marker at %d, %d"
      % (drawn, background, cx, cy))
