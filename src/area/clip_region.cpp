// The clip region: the window, or the area's part inside it, cut into pieces lazily so that a
// triangle is clipped against the few edges near it, not the whole outline.
#include <algorithm>
#include <cmath>

#include "area/area.h"
#include "area/area_index.h"
#include "geo/places.h"

namespace mc {

ClipRegion clipRegionOf(const WindowBounds& window, const CutArea* area) {
    auto index = std::make_shared<ClipIndex>();
    Box box(Point(window.longMin, window.latMin), Point(window.longMax, window.latMax));
    if (area) {
        bg::intersection(box, area->index->shape, index->region.shape);
    } else {
        Polygon rectangle;
        bg::convert(box, rectangle);
        index->region.shape.push_back(std::move(rectangle));
    }
    boxEach(index->region);
    fileEdges(index->bands, ringsOf(index->region.shape), window.longMin, window.longMax);
    index->window = box;
    while (index->levels < 24 &&
           (int64_t(16) << (2 * index->levels)) < int64_t(index->bands.edges.size())) {
        ++index->levels;
    }
    return {std::move(index)};
}

namespace {

int64_t cellsPerSide(int level) {
    return int64_t(1) << level;
}

Box grownCell(const ClipIndex& index, int level, int64_t column, int64_t row) {
    const Point &low = index.window.min_corner(), &high = index.window.max_corner();
    double width = (bg::get<0>(high) - bg::get<0>(low)) / double(cellsPerSide(level));
    double height = (bg::get<1>(high) - bg::get<1>(low)) / double(cellsPerSide(level));
    double west = bg::get<0>(low) + double(column) * width;
    double south = bg::get<1>(low) + double(row) * height;
    return Box(Point(west - width / 4, south - height / 4),
               Point(west + width * 1.25, south + height * 1.25));
}

// The intersection of a box or a polygon with a piece, polygon by polygon (they do not overlap).
template <typename Geometry>
void intersectPiece(const Geometry& geometry, const Piece& piece, MultiPolygon& out) {
    Box extent = bg::return_envelope<Box>(geometry);
    for (size_t k = 0; k < piece.shape.size(); ++k) {
        if (!bg::intersects(extent, piece.boxes[k])) continue;
        MultiPolygon part;
        bg::intersection(geometry, piece.shape[k], part);
        out.insert(out.end(), part.begin(), part.end());
    }
}

const Piece& pieceOf(const ClipIndex& index, int level, int64_t column, int64_t row) {
    if (level == 0) return index.region;
    uint64_t key = uint64_t(level) << 56 | uint64_t(column) << 28 | uint64_t(row);
    auto found = index.pieces.find(key);
    if (found != index.pieces.end()) return found->second;
    const Piece& parent = pieceOf(index, level - 1, column / 2, row / 2);
    Piece piece;
    intersectPiece(grownCell(index, level, column, row), parent, piece.shape);
    boxEach(piece);
    return index.pieces.emplace(key, std::move(piece)).first->second;
}

bool isStrictlyWithin(const Box& inner, const Box& outer) {
    return bg::get<0>(outer.min_corner()) < bg::get<0>(inner.min_corner()) &&
           bg::get<0>(inner.max_corner()) < bg::get<0>(outer.max_corner()) &&
           bg::get<1>(outer.min_corner()) < bg::get<1>(inner.min_corner()) &&
           bg::get<1>(inner.max_corner()) < bg::get<1>(outer.max_corner());
}

// The finest piece whose grown cell holds the box: the region itself when none does.
const Piece& pieceAround(const ClipIndex& index, const Box& box) {
    const Point &low = index.window.min_corner(), &high = index.window.max_corner();
    double x = (bg::get<0>(box.min_corner()) + bg::get<0>(box.max_corner())) / 2;
    double y = (bg::get<1>(box.min_corner()) + bg::get<1>(box.max_corner())) / 2;
    double across = (x - bg::get<0>(low)) / (bg::get<0>(high) - bg::get<0>(low));
    double up = (y - bg::get<1>(low)) / (bg::get<1>(high) - bg::get<1>(low));
    for (int level = index.levels; level > 0; --level) {
        int64_t cells = cellsPerSide(level);
        int64_t column = slotOf(across * double(cells), cells);
        int64_t row = slotOf(up * double(cells), cells);
        if (isStrictlyWithin(box, grownCell(index, level, column, row))) {
            return pieceOf(index, level, column, row);
        }
    }
    return index.region;
}

}  // namespace

bool outlineMayCross(const ClipRegion& region, double west, double east, double south,
                     double north) {
    const EdgeBands& b = region.index->bands;
    if (b.count == 0) return false;
    Box box(Point(west, south), Point(east, north));
    for (int64_t band = bandOf(b, west); band <= bandOf(b, east); ++band) {
        for (uint32_t k = b.start[size_t(band)]; k < b.start[size_t(band) + 1]; ++k) {
            const auto& edge = b.edges[b.inBand[k]];
            Box edgeBox(Point(std::min(edge.first.x(), edge.second.x()),
                              std::min(edge.first.y(), edge.second.y())),
                        Point(std::max(edge.first.x(), edge.second.x()),
                              std::max(edge.first.y(), edge.second.y())));
            if (bg::intersects(box, edgeBox)) return true;
        }
    }
    return false;
}

namespace {

Polygon trianglePolygon(const AreaPoint (&corners)[3]) {
    Polygon triangle;
    for (int k : {0, 1, 2, 0}) triangle.outer().push_back(Point(corners[k].lon, corners[k].lat));
    bg::correct(triangle);
    return triangle;
}

void copyParts(const MultiPolygon& shape, std::vector<AreaPolygon>& parts) {
    parts.clear();
    for (const Polygon& polygon : shape) {
        AreaPolygon& part = parts.emplace_back();
        auto copy = [](const Polygon::ring_type& ring, AreaRing& out) {
            for (size_t k = 0; k + 1 < ring.size(); ++k)
                out.push_back({bg::get<0>(ring[k]), bg::get<1>(ring[k])});
        };
        copy(polygon.outer(), part.outline);
        for (const auto& hole : polygon.inners()) copy(hole, part.holes.emplace_back());
    }
}

}  // namespace

void clipTriangle(const ClipRegion& region, const AreaPoint (&corners)[3],
                  std::vector<AreaPolygon>& parts) {
    Polygon triangle = trianglePolygon(corners);
    MultiPolygon inside;
    intersectPiece(triangle, pieceAround(*region.index, bg::return_envelope<Box>(triangle)),
                   inside);
    copyParts(inside, parts);
}

double metresToOutline(const ClipRegion& region, double lon, double lat) {
    return metresToRings(region.index->region.shape, lon, lat);
}

void clipTriangleOutside(const ClipRegion& region, const AreaPoint (&corners)[3],
                         std::vector<AreaPolygon>& parts) {
    Polygon triangle = trianglePolygon(corners);
    Box extent = bg::return_envelope<Box>(triangle);
    // the piece's cell holds the triangle: what the piece leaves of it is what the region leaves
    const Piece& piece = pieceAround(*region.index, extent);
    MultiPolygon near, outside;
    for (size_t k = 0; k < piece.shape.size(); ++k) {
        if (bg::intersects(extent, piece.boxes[k])) near.push_back(piece.shape[k]);
    }
    bg::difference(triangle, near, outside);
    copyParts(outside, parts);
}

}  // namespace mc
