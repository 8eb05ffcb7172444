// A look at the cut before importing it: a standalone SVG top view, north up, at true
// proportions, each triangle coloured by its mean height, the window, the origin, a legend, a
// scale bar and a title. Large cuts are drawn as a grid of mean heights, so the file stays small.
// A flattening's picture is drawn the same way, coloured by how much each triangle moved.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "carve/writers.h"
#include "platform/file_names.h"
#include "text/fixed9.h"
#include "text/whole_file.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

constexpr size_t MOST_TRIANGLES_DRAWN = 100000;
constexpr size_t MOST_TRIANGLES_WITH_EDGES = 5000;
constexpr int GRID_CELLS = 256;
constexpr int COLOURS = 64;
constexpr double WIDTH_PX = 960, MARGIN_PX = 20, TITLE_PX = 40, FOOTER_PX = 70;
constexpr double METRES_PER_UNIT = SCALE_DIVISOR;
const char* const ORIGIN_COLOUR = "#ff00ff";

// viridis, a perceptually uniform ramp, at eleven stops
constexpr unsigned char RAMP[11][3] = {{0x44, 0x01, 0x54}, {0x48, 0x24, 0x75}, {0x41, 0x44, 0x87},
                                       {0x35, 0x5f, 0x8d}, {0x2a, 0x78, 0x8e}, {0x21, 0x91, 0x8c},
                                       {0x22, 0xa8, 0x84}, {0x44, 0xbf, 0x70}, {0x7a, 0xd1, 0x51},
                                       {0xbd, 0xdf, 0x26}, {0xfd, 0xe7, 0x25}};

// The colour of a level, 0 to COLOURS - 1, along a ramp of stops evenly spaced.
template <size_t STOPS>
std::string colourOnRamp(const unsigned char (&ramp)[STOPS][3], int level) {
    double at = double(level) / (COLOURS - 1) * (STOPS - 1);
    int stop = std::min(int(at), int(STOPS) - 2);
    double t = at - stop;
    int parts[3];
    for (int k = 0; k < 3; ++k) {
        parts[k] = int(std::lround(ramp[stop][k] * (1 - t) + ramp[stop + 1][k] * t));
    }
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", parts[0], parts[1], parts[2]);
    return text;
}

std::string rampColour(int level) {
    return colourOnRamp(RAMP, level);
}

// lowered blue, unchanged white, raised red, at seven stops
constexpr unsigned char CHANGE_RAMP[7][3] = {
    {0x21, 0x66, 0xac}, {0x67, 0xa9, 0xcf}, {0xd1, 0xe5, 0xf0}, {0xf7, 0xf7, 0xf7},
    {0xfd, 0xdb, 0xc7}, {0xef, 0x8a, 0x62}, {0xb2, 0x18, 0x2b}};

std::string changeColour(int level) {
    return colourOnRamp(CHANGE_RAMP, level);
}

void appendNumber(std::string& text, double value, int decimals) {
    char digits[FIXED9_MAX_TEXT];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, value,
                                      std::chars_format::fixed, decimals)
                            .ptr);
}

std::string number(double value, int decimals) {
    std::string text;
    appendNumber(text, value, decimals);
    return text;
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

// Plan position in metres: east of long_min at the middle latitude's scale, south of lat_min.
struct Plan {
    double east, south;
};

struct Frame {
    const SelectionWindow& window;
    double middleCosine;
    double west, north, scale;  // metres at the drawing's top left, pixels per metre
};

Plan planOf(const StoredVertex& v, const Frame& f) {
    double south = v.z * METRES_PER_UNIT;
    double lat = latitudeNorthOf(f.window.latMin, -south);
    double cosine = cosineOfLatitude<double>(lat);
    double east = std::fabs(cosine) > 1e-9 ? v.x * METRES_PER_UNIT * f.middleCosine / cosine
                                           : v.x * METRES_PER_UNIT;
    return {east, south};
}

double pxX(const Frame& f, double east) {
    return MARGIN_PX + (east - f.west) * f.scale;
}
double pxY(const Frame& f, double south) {
    return TITLE_PX + (south - f.north) * f.scale;
}
void appendPoint(std::string& text, const Frame& f, const Plan& p) {
    appendNumber(text, pxX(f, p.east), 2);
    text += ' ';
    appendNumber(text, pxY(f, p.south), 2);
}

struct Heights {
    double low = INFINITY, high = -INFINITY;
};

int levelOf(double height, const Heights& h) {
    if (!(h.high > h.low)) return COLOURS / 2;
    return std::clamp(int((height - h.low) / (h.high - h.low) * (COLOURS - 1) + 0.5), 0,
                      COLOURS - 1);
}

double meanHeight(const MeshBuffers& mesh, size_t t) {
    double sum = 0;
    for (size_t k = 0; k < 3; ++k) sum += mesh.vertices[size_t(mesh.indices[t + k])].elevation;
    return sum / 3;
}

// What a picture colours: triangles by the plan of their corners, each at one of the levels.
struct Shading {
    size_t triangles = 0;
    std::function<Plan(size_t triangle, int corner)> corner;
    std::function<double(size_t triangle)> value;  // what a cell of the grid averages
    std::function<int(double value)> level;
    std::string (*colour)(int level) = rampColour;
};

// Triangles grouped by colour, one path per colour.
void writeTriangles(OutputFile& out, const Shading& s, const Frame& f) {
    std::vector<std::vector<uint32_t>> byLevel(COLOURS);
    for (size_t t = 0; t < s.triangles; ++t) {
        byLevel[size_t(s.level(s.value(t)))].push_back(uint32_t(t));
    }
    std::string edges = s.triangles <= MOST_TRIANGLES_WITH_EDGES
                            ? " stroke=\"#000\" stroke-opacity=\"0.3\" stroke-width=\"0.5\""
                            : "";
    for (int level = 0; level < COLOURS; ++level) {
        if (byLevel[size_t(level)].empty()) continue;
        writeText(out, "<path fill=\"" + s.colour(level) + "\"" + edges + " d=\"");
        std::string text;  // one triangle's part of the path, reused
        for (uint32_t t : byLevel[size_t(level)]) {
            text.clear();
            for (int k = 0; k < 3; ++k) {
                text += k == 0 ? 'M' : 'L';
                appendPoint(text, f, s.corner(t, k));
            }
            text += 'Z';
            writeText(out, text);
        }
        writeLine(out, "\"/>");
    }
}

// Cells of at most 256 x 256 over the drawing, each coloured by the mean value of the
// triangles whose centre falls in it.
void writeGrid(OutputFile& out, const Shading& s, const Frame& f, double widthM, double heightM) {
    double cell = std::max(widthM, heightM) / GRID_CELLS;
    int columns = std::max(1, int(std::ceil(widthM / cell))),
        rows = std::max(1, int(std::ceil(heightM / cell)));
    std::vector<double> sums(size_t(columns) * rows, 0);
    std::vector<uint32_t> counts(sums.size(), 0);
    for (size_t t = 0; t < s.triangles; ++t) {
        double east = 0, south = 0;
        for (int k = 0; k < 3; ++k) {
            Plan p = s.corner(t, k);
            east += p.east / 3, south += p.south / 3;
        }
        int c = std::clamp(int((east - f.west) / cell), 0, columns - 1);
        int r = std::clamp(int((south - f.north) / cell), 0, rows - 1);
        sums[size_t(r) * columns + c] += s.value(t);
        ++counts[size_t(r) * columns + c];
    }
    std::string side = number(cell * f.scale, 2);
    for (int level = 0; level < COLOURS; ++level) {
        std::string d;
        for (size_t i = 0; i < sums.size(); ++i) {
            if (counts[i] == 0 || s.level(sums[i] / counts[i]) != level) continue;
            double x = pxX(f, f.west + double(i % columns) * cell);
            double y = pxY(f, f.north + double(i / columns) * cell);
            d += 'M';
            appendNumber(d, x, 2);
            d += ' ';
            appendNumber(d, y, 2);
            for (const char* step : {"h", "v", "h-"}) d.append(step).append(side);
            d += 'Z';
        }
        if (!d.empty()) writeLine(out, "<path fill=\"" + s.colour(level) + "\" d=\"" + d + "\"/>");
    }
}

void writeShading(OutputFile& out, const Shading& s, const Frame& f, double widthM,
                  double heightM) {
    if (s.triangles <= MOST_TRIANGLES_DRAWN) {
        writeTriangles(out, s, f);
    } else {
        writeGrid(out, s, f, widthM, heightM);
    }
}

// A length of 1, 2 or 5 times a power of ten, at most a quarter of the drawing.
double scaleBarMetres(double widthM) {
    double power = std::pow(10.0, std::floor(std::log10(std::max(widthM / 4, 1e-3))));
    for (double step : {5.0, 2.0, 1.0}) {
        if (step * power <= widthM / 4) return step * power;
    }
    return power;
}

std::string lengthText(double metres) {
    return metres >= 1000 ? number(metres / 1000, metres >= 10000 ? 0 : 1) + " km"
                          : number(metres, metres >= 1 ? 0 : 2) + " m";
}

// What the picture covers: the window and every vertex of the cut, in metres and pixels.
struct Drawing {
    Frame frame;
    Heights heights;
    double widthM = 0, heightM = 0;  // the drawing's extent in metres
    double heightPx = 0;             // of the map, between the title and the footer
};

// The frame that holds the window and every vertex (the window alone, without the mesh); false
// when the cut has no finite extent.
bool layOut(const Cut& cut, Drawing& d, bool withVertices = true) {
    const SelectionWindow& w = cut.window;
    Frame& f = d.frame;
    double west = 0, east = metresEast(w.longMax, w.longMin, f.middleCosine);
    double north = -metresNorth<double>(w.latMax, w.latMin), south = 0;
    const MeshBuffers& mesh = cut.mesh;
    for (size_t i = 0; withVertices && i < mesh.vertices.count; ++i) {
        Plan p = planOf(mesh.vertices[i], f);
        west = std::min(west, p.east), east = std::max(east, p.east);
        north = std::min(north, p.south), south = std::max(south, p.south);
        d.heights.low = std::min(d.heights.low, mesh.vertices[i].elevation);
        d.heights.high = std::max(d.heights.high, mesh.vertices[i].elevation);
    }
    if (!std::isfinite(east - west) || !std::isfinite(south - north)) return false;
    d.widthM = std::max(east - west, 1e-6), d.heightM = std::max(south - north, 1e-6);
    f.west = west, f.north = north;
    f.scale = (WIDTH_PX - 2 * MARGIN_PX) / d.widthM;
    d.heightPx = std::min(d.heightM * f.scale, 4 * WIDTH_PX);  // a sliver stays viewable
    f.scale = std::min(f.scale, d.heightPx / d.heightM);
    return true;
}

void writeTitle(OutputFile& out, const Cut& cut, const std::string& inputPath, double totalHeight) {
    const SelectionWindow& w = cut.window;
    std::string size = number(WIDTH_PX, 0) + "\" height=\"" + number(totalHeight, 0);
    writeLine(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + size +
                       "\" viewBox=\"0 0 " + number(WIDTH_PX, 0) + " " + number(totalHeight, 0) +
                       "\" font-family=\"sans-serif\" font-size=\"14\">");
    writeLine(out, "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>");
    std::string input = fileNameOf(inputPath);
    writeLine(out, "<text x=\"" + number(MARGIN_PX, 0) + "\" y=\"26\" font-size=\"16\">" +
                       escaped(input) + ": lat " + doubleToText(w.latMin) + " to " +
                       doubleToText(w.latMax) + ", long " + doubleToText(w.longMin) + " to " +
                       doubleToText(w.longMax) + "</text>");
}

Plan planOfPlace(const Frame& f, double lon, double lat) {
    return {metresEast(lon, f.window.longMin, f.middleCosine),
            metresNorth<double>(f.window.latMin, lat)};
}

// The area's rings (outlines and holes) as one path, where the cut follows an area.
void writeAreaOutline(OutputFile& out, const CutArea& area, const Frame& f,
                      std::string_view stroke = "stroke=\"#d62728\" stroke-width=\"2\"") {
    std::string path = "<path d=\"";
    for (const AreaRing& ring : areaRings(area)) {
        for (size_t k = 0; k < ring.size(); ++k) {
            path += k == 0 ? "M" : " L";
            appendPoint(path, f, planOfPlace(f, ring[k].lon, ring[k].lat));
        }
        path += " Z ";
    }
    writeLine(out, path + "\" fill=\"none\" " + std::string(stroke) + "/>");
}

// The window as a dashed rectangle (the area's outline instead, when the cut follows one), then
// the origin on top.
void writeWindowAndOrigin(OutputFile& out, const Cut& cut, const Frame& f) {
    const SelectionWindow& w = cut.window;
    Plan corner{0, -metresNorth<double>(w.latMax, w.latMin)};
    if (w.area) {
        writeAreaOutline(out, *w.area, f);
    } else {
        writeLine(out, "<rect x=\"" + number(pxX(f, corner.east), 2) + "\" y=\"" +
                           number(pxY(f, corner.south), 2) + "\" width=\"" +
                           number(metresEast(w.longMax, w.longMin, f.middleCosine) * f.scale, 2) +
                           "\" height=\"" +
                           number(metresNorth<double>(w.latMax, w.latMin) * f.scale, 2) +
                           "\" fill=\"none\" stroke=\"#d62728\" stroke-width=\"2\" "
                           "stroke-dasharray=\"6 4\"/>");
    }
    if (cut.origin.index >= 0) {
        Plan o = planOf(cut.mesh.vertices[size_t(cut.origin.index)], f);
        writeLine(out, "<circle cx=\"" + number(pxX(f, o.east), 2) + "\" cy=\"" +
                           number(pxY(f, o.south), 2) + "\" r=\"7\" fill=\"" + ORIGIN_COLOUR +
                           "\" stroke=\"#ffffff\" stroke-width=\"2\"/>");
    }
}

// The ramp from the lowest to the highest altitude, and a scale bar.
void writeLegend(OutputFile& out, const Drawing& d, bool hasTriangles) {
    const Frame& f = d.frame;
    double y = TITLE_PX + d.heightPx + 20;
    writeLine(out, "<defs><linearGradient id=\"ramp\">");
    for (int k = 0; k <= 10; ++k) {
        writeLine(out, "<stop offset=\"" + number(k / 10.0, 1) + "\" stop-color=\"" +
                           rampColour(k * (COLOURS - 1) / 10) + "\"/>");
    }
    writeLine(out, "</linearGradient></defs>");
    if (hasTriangles) {
        writeLine(out, "<text x=\"" + number(MARGIN_PX, 0) + "\" y=\"" + number(y + 14, 0) + "\">" +
                           number(d.heights.low, 1) + " m</text>");
        writeLine(out, "<rect x=\"" + number(MARGIN_PX + 80, 0) + "\" y=\"" + number(y, 0) +
                           "\" width=\"240\" height=\"18\" fill=\"url(#ramp)\"/>");
        writeLine(out, "<text x=\"" + number(MARGIN_PX + 330, 0) + "\" y=\"" + number(y + 14, 0) +
                           "\">" + number(d.heights.high, 1) + " m</text>");
    } else {
        writeLine(out, "<text x=\"" + number(MARGIN_PX, 0) + "\" y=\"" + number(y + 14, 0) +
                           "\">no terrain in the window</text>");
    }
    double bar = scaleBarMetres(d.widthM);
    double barX = WIDTH_PX - MARGIN_PX - bar * f.scale;
    writeLine(out, "<path d=\"M" + number(barX, 2) + " " + number(y + 18, 0) + "v-8h" +
                       number(bar * f.scale, 2) +
                       "v8\" fill=\"none\" stroke=\"#000\" "
                       "stroke-width=\"2\"/>");
    writeLine(out, "<text x=\"" + number(barX, 2) + "\" y=\"" + number(y + 36, 0) + "\">" +
                       lengthText(bar) + "</text>");
}

// The change's ramp from the most lowered to the most raised, the two lines, a scale bar.
void writeChangeLegend(OutputFile& out, const Drawing& d, double most) {
    const Frame& f = d.frame;
    double y = TITLE_PX + d.heightPx + 20;
    writeLine(out, "<defs><linearGradient id=\"change\">");
    for (int k = 0; k <= 6; ++k) {
        writeLine(out, "<stop offset=\"" + number(k / 6.0, 3) + "\" stop-color=\"" +
                           changeColour(k * (COLOURS - 1) / 6) + "\"/>");
    }
    writeLine(out, "</linearGradient></defs>");
    writeLine(out, "<text x=\"" + number(MARGIN_PX, 0) + "\" y=\"" + number(y + 14, 0) +
                       "\">lowered " + number(most, 1) + " m</text>");
    writeLine(out, "<rect x=\"" + number(MARGIN_PX + 120, 0) + "\" y=\"" + number(y, 0) +
                       "\" width=\"200\" height=\"18\" fill=\"url(#change)\"/>");
    writeLine(out, "<text x=\"" + number(MARGIN_PX + 330, 0) + "\" y=\"" + number(y + 14, 0) +
                       "\">raised " + number(most, 1) + " m</text>");
    writeLine(out, "<text x=\"" + number(MARGIN_PX + 120, 0) + "\" y=\"" + number(y + 36, 0) +
                       "\">white: unchanged</text>");
    double lines = MARGIN_PX + 460;
    writeLine(out, "<path d=\"M" + number(lines, 0) + " " + number(y + 9, 0) +
                       "h30\" stroke=\"#000\" stroke-width=\"2\"/>");
    writeLine(out, "<text x=\"" + number(lines + 36, 0) + "\" y=\"" + number(y + 14, 0) +
                       "\">outline</text>");
    writeLine(out, "<path d=\"M" + number(lines, 0) + " " + number(y + 31, 0) +
                       "h30\" stroke=\"#000\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>");
    writeLine(out, "<text x=\"" + number(lines + 36, 0) + "\" y=\"" + number(y + 36, 0) +
                       "\">band's outer edge</text>");
    double bar = scaleBarMetres(d.widthM);
    double barX = WIDTH_PX - MARGIN_PX - bar * f.scale;
    writeLine(out, "<path d=\"M" + number(barX, 2) + " " + number(y + 18, 0) + "v-8h" +
                       number(bar * f.scale, 2) +
                       "v8\" fill=\"none\" stroke=\"#000\" stroke-width=\"2\"/>");
    writeLine(out, "<text x=\"" + number(barX, 2) + "\" y=\"" + number(y + 36, 0) + "\">" +
                       lengthText(bar) + "</text>");
}

}  // namespace

Status writeChangePreview(const Cut& cut, const ChangeMap& map, const RunPaths& paths) {
    if (paths.preview.empty()) return {};
    const SelectionWindow& w = cut.window;
    Drawing d{{w, cosineOfLatitude<double>((w.latMin + w.latMax) / 2), 0, 0, 1}, {}, 0, 0, 0};
    if (!layOut(cut, d, false)) {  // the ground that changed lies inside the window
        return failedWith(Failure::writePreview,
                          "the cut's vertices lie too far apart to be drawn (their extent is not "
                          "a finite number of metres)");
    }
    WholeFile file;
    if (Status status = openWholeFile(file, paths.preview, paths.input, Failure::writePreview);
        !status.ok()) {
        return status;
    }
    OutputFile& out = file.out;
    double most = 0;
    for (double change : map.change) most = std::max(most, std::fabs(change));
    std::string size =
        number(WIDTH_PX, 0) + "\" height=\"" + number(TITLE_PX + d.heightPx + FOOTER_PX, 0);
    writeLine(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + size +
                       "\" viewBox=\"0 0 " + number(WIDTH_PX, 0) + " " +
                       number(TITLE_PX + d.heightPx + FOOTER_PX, 0) +
                       "\" font-family=\"sans-serif\" font-size=\"14\">");
    writeLine(out, "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>");
    writeLine(out, "<text x=\"" + number(MARGIN_PX, 0) + "\" y=\"26\" font-size=\"16\">" +
                       escaped(fileNameOf(paths.input)) + ": " + escaped(map.title) + "</text>");
    Shading change;
    change.triangles = map.triangles.size() / 3;
    change.corner = [&](size_t t, int k) {
        const AreaPoint& p = map.places[map.triangles[3 * t + size_t(k)]];
        return planOfPlace(d.frame, p.lon, p.lat);
    };
    change.value = [&](size_t t) {
        const uint32_t* c = &map.triangles[3 * t];
        return (map.change[c[0]] + map.change[c[1]] + map.change[c[2]]) / 3;
    };
    change.level = [&](double value) {
        if (!(most > 0)) return COLOURS / 2;
        return std::clamp(int(std::lround((value / most + 1) / 2 * (COLOURS - 1))), 0, COLOURS - 1);
    };
    change.colour = changeColour;
    writeShading(out, change, d.frame, d.widthM, d.heightM);
    if (map.airport)
        writeAreaOutline(out, *map.airport, d.frame, "stroke=\"#000\" stroke-width=\"2\"");
    if (map.band) {
        writeAreaOutline(out, *map.band, d.frame,
                         "stroke=\"#000\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"");
    }
    writeChangeLegend(out, d, most);
    writeLine(out, "</svg>");
    return finishWholeFile(file);
}

Status writePreview(const Cut& cut, const RunPaths& paths) {
    if (paths.preview.empty()) return {};
    const SelectionWindow& w = cut.window;
    double middle = (w.latMin + w.latMax) / 2;
    Drawing d{{w, cosineOfLatitude<double>(middle), 0, 0, 1}, {}, 0, 0, 0};
    if (!layOut(cut, d)) {
        return failedWith(Failure::writePreview,
                          "the cut's vertices lie too far apart to be drawn (their extent is not "
                          "a finite number of metres)");
    }
    WholeFile file;
    if (Status status = openWholeFile(file, paths.preview, paths.input, Failure::writePreview);
        !status.ok()) {
        return status;
    }
    OutputFile& out = file.out;
    writeTitle(out, cut, paths.input, TITLE_PX + d.heightPx + FOOTER_PX);
    size_t triangles = cut.mesh.indices.count / 3;
    const MeshBuffers& mesh = cut.mesh;
    Shading heights;
    heights.triangles = triangles;
    heights.corner = [&](size_t t, int k) {
        return planOf(mesh.vertices[size_t(mesh.indices[3 * t + size_t(k)])], d.frame);
    };
    heights.value = [&](size_t t) { return meanHeight(mesh, 3 * t); };
    heights.level = [&](double height) { return levelOf(height, d.heights); };
    writeShading(out, heights, d.frame, d.widthM, d.heightM);
    writeWindowAndOrigin(out, cut, d.frame);
    writeLegend(out, d, triangles > 0);
    writeLine(out, "</svg>");
    return finishWholeFile(file);
}

}  // namespace mc
