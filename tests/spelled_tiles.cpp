// Text tiles with numbers in every spelling the reader takes, and the line reader's oddities.
#include "spelled_tiles.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace mc::test {

namespace {

int below(std::mt19937_64& random, int n) {
    return int(random() % uint64_t(n));
}

bool oneIn(std::mt19937_64& random, int n) {
    return below(random, n) == 0;
}

double between(std::mt19937_64& random, double low, double high) {
    return low + (high - low) * double(random() >> 11) * 0x1p-53;
}

std::string printed(const char* format, int decimals, double value) {
    char text[512];
    std::snprintf(text, sizeof text, format, decimals, value);
    return text;
}

std::string shiftedExponent(double value, std::mt19937_64& random) {
    int shift = below(random, 7) - 3;
    if (shift == 0) shift = 1;
    std::string mantissa = printed("%.*f", below(random, 12), value * std::pow(10.0, shift));
    const char* forms[] = {"e%d", "e%+d", "E%+03d", "e%d"};
    char exponent[16];
    std::snprintf(exponent, sizeof exponent, forms[below(random, 4)], -shift);
    return mantissa + exponent;
}

std::string withRadix(double value, std::mt19937_64& random) {
    uint32_t whole = uint32_t(int32_t(std::lround(value)));
    char digits[40];
    switch (below(random, 3)) {
        case 0:
            std::snprintf(digits, sizeof digits, "&H%" PRIX32, whole);
            return digits;
        case 1:
            std::snprintf(digits, sizeof digits, "&o%" PRIo32, whole);
            return digits;
        default: {
            std::string bits = "&B";
            for (int k = 31; k >= 0; --k) {
                if ((whole >> k) != 0) bits += char('0' + ((whole >> k) & 1));
            }
            return bits.size() == 2 ? bits + "0" : bits;
        }
    }
}

std::string bareFraction(double value) {
    if (std::fabs(value) >= 1) return printed("%.*f", 0, value) + ".";
    std::string text = printed("%.*f", 9, value);
    size_t zero = text.find("0.");
    return zero == std::string::npos ? text : text.erase(zero, 1);
}

}  // namespace

std::string spelled(double value, Spelling spelling, std::mt19937_64& random) {
    switch (spelling) {
        case Spelling::plain:
            return printed("%.*f", 9, value);
        case Spelling::fewDecimals:
            return printed("%.*f", below(random, 13), value);
        case Spelling::exponent:
            return printed(oneIn(random, 2) ? "%.*e" : "%.*E", below(random, 15), value);
        case Spelling::shiftedExponent:
            return shiftedExponent(value, random);
        case Spelling::plusSign: {
            std::string text = value >= 0 ? "+" : "";
            return text.append(printed("%.*f", 4 + below(random, 8), value));
        }
        case Spelling::leadingZeros: {
            std::string text = value < 0 ? "-" : "";
            text.append(size_t(1 + below(random, 3)), '0');
            return text.append(printed("%.*f", 4 + below(random, 8), std::fabs(value)));
        }
        case Spelling::whiteSpace: {
            std::string text(1, "\t\v\f"[below(random, 3)]);
            return text.append(printed("%.*f", 9, value));
        }
        case Spelling::trailingBytes: {
            const char* tails[] = {"x", ",", "e", "e+", "E-", ";", "\t7", "\x01", "d", "\xC3\xA9"};
            return printed("%.*f", 4 + below(random, 8), value) + tails[below(random, 10)];
        }
        case Spelling::radix:
            return withRadix(value, random);
        case Spelling::longDigits:
            return printed("%.*f", 25 + below(random, 16), value);
        case Spelling::bareFraction:
            return bareFraction(value);
        case Spelling::count:
            break;
    }
    return printed("%.*f", 9, value);
}

Spelling anySpelling(std::mt19937_64& random) {
    if (oneIn(random, 2)) return Spelling::plain;
    return Spelling(below(random, int(Spelling::count)));
}

namespace {

// The tile's text and the ways its lines end and are padded.
struct TileText {
    std::mt19937_64& random;
    std::string text;
    int endings;     // 0: LF, 1: CR LF, 2: any of LF, CR LF, CR CR LF a line
    bool padded;     // blank lines and comments between lines
    bool longLines;  // now and then a comment longer than a block's head is read
};

void endLine(TileText& tile) {
    int ending = tile.endings < 2 ? tile.endings : below(tile.random, 3);
    tile.text += ending == 0 ? "\n" : ending == 1 ? "\r\n" : "\r\r\n";
    if (!tile.padded || !oneIn(tile.random, 6)) return;
    switch (below(tile.random, 5)) {
        case 0:
            tile.text += "\n";
            break;
        case 1:
            tile.text += "\r\n";
            break;
        case 2:
            tile.text += "# a comment, PATCH_VERTEX -1.0e+2 in it\n";
            break;
        case 3: {
            const char odd[] = "# NUL \0 and CR \r inside\n";
            tile.text += std::string(odd, sizeof odd - 1);
            break;
        }
        default:
            if (tile.longLines) tile.text += "#" + std::string(70000, '9') + "\n";
            break;
    }
}

void line(TileText& tile, const std::string& text) {
    tile.text += text;
    endLine(tile);
}

// Near an edge most of the time: on it, a few units of the quick look off it, or a hair off.
double around(std::mt19937_64& random, double low, double high) {
    const double offsets[] = {0, 1e-12, -1e-12, 1e-9, -1e-9, 5e-5, -5e-5, 1e-4, -1e-4, 2e-4, -2e-4};
    if (oneIn(random, 3)) return between(random, low - 0.02, high + 0.02);
    double edge = oneIn(random, 2) ? low : high;
    return edge + offsets[below(random, 11)];
}

void vertexLine(TileText& tile, const SpelledTile& window) {
    std::mt19937_64& random = tile.random;
    double lon = around(random, window.longMin, window.longMax);
    double lat = oneIn(random, 2) ? between(random, window.latMin, window.latMax)
                                  : around(random, window.latMin, window.latMax);
    line(tile, "PATCH_VERTEX " + spelled(lon, anySpelling(random), random) + " " +
                   spelled(lat, anySpelling(random), random) + " " +
                   printed("%.*f", 9, between(random, 100, 900)) + " " +
                   printed("%.*f", 9, between(random, 0, 1)) + " " +
                   printed("%.*f", 9, between(random, 0, 1)));
}

// Window edges as an author types them: a few decimals.
double typedDegrees(std::mt19937_64& random, double low, double high) {
    double scale = std::pow(10.0, 1 + below(random, 5));
    return std::round(between(random, low, high) * scale) / scale;
}

}  // namespace

SpelledTile spelledTile(uint64_t seed) {
    std::mt19937_64 random(seed);
    SpelledTile tile;
    tile.longMin = typedDegrees(random, -179.9, 179.5);
    tile.longMax = tile.longMin + typedDegrees(random, 0.001, 0.3);
    tile.latMin = typedDegrees(random, -89.9, 89.5);
    tile.latMax = tile.latMin + typedDegrees(random, 0.001, 0.3);
    TileText text{random, {}, below(random, 3), oneIn(random, 2), oneIn(random, 4)};
    line(text, "I");
    line(text, "800 written by a script");
    line(text, "DSF2TEXT");
    line(text, "PROPERTY sim/west " + std::to_string(int(std::floor(tile.longMin))));
    line(text, "PROPERTY sim/south " + std::to_string(int(std::floor(tile.latMin))));
    for (int k = 0; k < 3; ++k) line(text, "TERRAIN_DEF terrain/t" + std::to_string(k) + ".ter");
    int blocks = 10 + below(random, 50);
    int dataEnd = oneIn(random, 8) ? below(random, blocks) : -1;
    for (int b = 0; b < blocks; ++b) {
        if (b == dataEnd) text.text += "\x1A";
        if (b % 7 == 0) {
            line(text, "BEGIN_PATCH " + std::to_string(below(random, 3)) + " 0.000000 -1.000000 " +
                           std::to_string(1 + below(random, 2)) + " 5");
        }
        int type = below(random, 3);
        line(text, "BEGIN_PRIMITIVE " + std::to_string(type) + (oneIn(random, 5) ? " " : ""));
        int vertices = 3 + below(random, 8);
        for (int v = 0; v < vertices; ++v) vertexLine(text, tile);
        line(text, "END_PRIMITIVE");
        if (b % 7 == 6) line(text, "END_PATCH");
    }
    if (oneIn(random, 4)) text.text += std::string(size_t(1 + below(random, 3)), '\0');
    tile.text = std::move(text.text);
    return tile;
}

}  // namespace mc::test
