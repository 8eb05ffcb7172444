// Text tiles as scripts, spreadsheets and hand edits write them: every spelling of a number that
// the number reading takes, and the byte oddities the line reading handles.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace mc::test {

/// The ways of writing a number that the number reading takes.
enum class Spelling {
    plain,            // -141.248898549
    fewDecimals,      // -141.25, -141
    exponent,         // -1.412488985e+02, 1.4E2
    shiftedExponent,  // -14124.88985e-2, -0.14124889e3
    plusSign,         // +12.004000000
    leadingZeros,     // -00141.248898549
    whiteSpace,       // a tab, VT or FF before the number
    trailingBytes,    // 12.0040000x, 12.0040e, 12.0040,
    radix,            // &HFFFFFF73 (the whole degrees)
    longDigits,       // 25 to 40 decimals, past a 64-bit mantissa
    bareFraction,     // -.5, 12.
    count
};

/// `value` written in `spelling` (the random numbers choose among its variants).
std::string spelled(double value, Spelling spelling, std::mt19937_64& random);

/// A spelling chosen at random, plain decimals half the time.
Spelling anySpelling(std::mt19937_64& random);

/// A generated text tile and the window to cut from it.
struct SpelledTile {
    std::string text;
    double latMin = 0, latMax = 0, longMin = 0, longMax = 0;
};

/// A small text tile from a seed: blocks of every type whose vertices lie around the window's
/// edges, longitudes and latitudes in every spelling, lines ending in LF, CR LF or CR CR LF,
/// blank lines, comments, long lines, NULs and sometimes a 0x1A byte that ends the data.
SpelledTile spelledTile(uint64_t seed);

}  // namespace mc::test
