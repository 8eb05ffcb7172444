// What the ini asks a flattening for, and what the console says it did.
#include <charconv>
#include <cmath>
#include <string>

#include "flatten/flatten.h"
#include "text/whole_numbers.h"

namespace mc {

constexpr double FEET = 0.3048;

Status flattenTargetOf(const std::string& text, const Area& area, FlattenTarget& target) {
    if (text.empty() || text == "plane") return target = {FlattenTarget::Kind::plane, 0}, Status{};
    if (text == "level") return target = {FlattenTarget::Kind::level, 0}, Status{};
    if (text == "airport") {
        if (area.format != "apt.dat" || !area.hasElevation) {
            return failedWith(
                Failure::flattenGround,
                "flatten_to=airport takes the airport's elevation from apt.dat, but the "
                "area is from " +
                    area.format + ": give flatten_to a height in metres instead");
        }
        return target = {FlattenTarget::Kind::height, area.elevationFeet * FEET}, Status{};
    }
    double metres = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), metres);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(metres)) {
        return failedWith(
            Failure::flattenGround,
            "flatten_to is '" + text + "': it takes plane, level, airport or a height in metres");
    }
    target = {FlattenTarget::Kind::height, metres};
    return {};
}

std::string flattenReportLine(const std::string& name, const FlattenTarget& target,
                              const FlattenReport& report, double blend) {
    auto rounded = [](double value, int decimals) {
        char text[64];
        return std::string(
            text,
            std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr);
    };
    std::string line = "flattened " + name + " to ";
    if (target.kind == FlattenTarget::Kind::plane) {
        Fall fall = fallOf(report.surface);
        line += fall.percent == 0 ? "a level plane"
                                  : "a plane falling " + rounded(fall.percent, 2) + "% towards " +
                                        rounded(fall.bearing, 0) + " degrees";
    } else {
        line += (target.kind == FlattenTarget::Kind::level ? "its mean level, " : "") +
                rounded(report.surface.base, 1) + " m";
    }
    return line + "; heights changed by up to " + rounded(report.largest, 1) + " m (mean " +
           rounded(report.mean, 1) + " m); blend " + doubleToText(blend) + " m around " +
           groupedNumber(uint64_t(std::llround(report.outlineMetres))) + " m of outline";
}

}  // namespace mc
