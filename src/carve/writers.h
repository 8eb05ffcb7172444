// The carve's writers, siblings over the cut: each writes one file from the cut, whole or not at
// all, and returns why it could not; an optional file whose path is empty is not written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cut/change_map.h"
#include "cut/cut.h"
#include "cut/run_paths.h"

namespace mc {

/// One writer: the cut and the run's paths in, a status out.
using CutWriter = Status (*)(const Cut& cut, const RunPaths& paths);

/// The OBJ8 object relative to the origin (a regular file is replaced only once complete, and
/// never when it is the input tile). Vertex lines with a flagged elevation show the raster's
/// height instead.
Status writeObjectFile(const Cut& cut, const RunPaths& paths);

/// The cut as a Wavefront OBJ for modellers, with its materials beside it (NAME.mtl): welded
/// vertices in metres relative to the origin, on the object's axes, every triangle wound to face
/// up (+Y), degenerate ones left out; faces grouped by terrain definition, overlays in an object
/// of their own, texture coordinates where the terrain's texture has them.
Status writeWavefront(const Cut& cut, const RunPaths& paths);

/// A top view of the cut as a standalone SVG: triangles coloured by mean height (beyond
/// 100,000 triangles a grid of at most 256 x 256 cells), the window, the origin, a legend, a
/// scale bar and a title. The same bytes on every run.
Status writePreview(const Cut& cut, const RunPaths& paths);

/// The change as a top view, as writePreview draws a cut: triangles coloured from the most
/// lowered (blue) through unchanged (white) to the most raised (red), the airport's outline, the
/// band's outer edge dashed, a legend with the largest change and a scale bar.
Status writeChangePreview(const Cut& cut, const ChangeMap& map, const RunPaths& paths);

/// The writers in the order a carve runs them.
constexpr CutWriter CARVE_WRITERS[] = {writeObjectFile, writeWavefront, writePreview};

/// "Writing output file", shown before the writers start.
void announceWriting(OutputFile& console);

/// The origin report: the scenery line of the vertex the object is measured from.
void reportOrigin(OutputFile& console, const Cut& cut);

}  // namespace mc
