// What the readers of area files share: words and numbers of a line, the reason a name is not
// there, and the apt.dat reader the file's first byte hands over to.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scenery/area_files.h"

namespace mc {

Status areaFailure(std::string reason);
/// The next word of a text between spaces, tabs and line ends; empty at its end.
std::string_view nextWord(std::string_view& rest);
std::string_view trimmed(std::string_view text);
/// The whole text as a finite decimal number, or false: coordinates are never guessed at.
bool parseDecimal(std::string_view text, double& value);
/// "no airport 'LFXX' in apt.dat (the nearest: LFLB, LFLY, LFLC)"
std::string notThere(const std::string& what, const std::string& wanted, const std::string& file,
                     std::vector<std::string> names);

/// The airport named `wanted` (or the first with a boundary): every 130 boundary of it, each its
/// outline and holes.
Status readAptDat(const std::string& path, const std::string& wanted, Area& area);

}  // namespace mc
