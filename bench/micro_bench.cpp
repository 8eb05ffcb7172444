// Micro-benchmarks of the hot paths: line input, number parsing, six-decimal rendering and the
// object writer's vertex lines.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "carve/writers.h"
#include "area/area.h"
#include "cut/cut.h"
#include "text/fixed6.h"
#include "text/line_reader.h"
#include "text/numbers.h"

namespace {

std::string vertexLine(std::mt19937_64& random) {
    std::uniform_real_distribution<double> unit(0, 1);
    char line[160];
    std::snprintf(line, sizeof line, "PATCH_VERTEX %.9f %.9f %.9f %.9f %.9f", 12 + unit(random),
                  47 + unit(random), 200 + 800 * unit(random), unit(random) - 0.5,
                  unit(random) - 0.5);
    return line;
}

// A 64 MiB file of vertex lines, read through the reader with the default block size.
void BM_readLine(benchmark::State& state) {
    std::string path = "/tmp/mesh_carver_bench_lines.txt";
    std::mt19937_64 random(1);
    std::string text;
    while (text.size() < (64 << 20)) text += vertexLine(random) + "\n";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    for (auto _ : state) {
        mc::LineReader reader;
        mc::openForReading(reader, path);
        size_t lines = 0;
        while (!mc::atEnd(reader)) lines += mc::readLine(reader).size() > 0;
        mc::closeReader(reader);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * text.size()));
    ::unlink(path.c_str());
}
BENCHMARK(BM_readLine)->Unit(benchmark::kMillisecond);

void BM_parseNumber(benchmark::State& state) {
    std::mt19937_64 random(2);
    std::vector<std::string> fields;
    for (int i = 0; i < 4096; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9f", 12 + double(random() % 1000000000) * 1e-9);
        fields.push_back(text);
    }
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(mc::parseNumber(fields[i++ & 4095]));
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_parseNumber);

void BM_fixed6ToText(benchmark::State& state) {
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> coordinate(-300, 300);
    std::vector<double> values(4096);
    for (double& v : values) v = coordinate(random);
    char text[mc::FIXED6_MAX_TEXT];
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(mc::fixed6ToText(values[i++ & 4095], text));
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_fixed6ToText);

// The object writer over a cut of 65,536 vertices whose lines sit in a kept-lines file, written
// to /dev/null: its inner loop is a vertex line a vertex.
void BM_writeObjectFile(benchmark::State& state) {
    std::mt19937_64 random(4);
    std::uniform_real_distribution<double> coordinate(-300, 300);
    const std::string keptPath = "/tmp/mesh_carver_bench_kept.tmp";
    mc::Cut cut;
    std::string text;
    for (size_t i = 0; i < 65536; ++i) {
        cut.mesh.vertices.push({coordinate(random), coordinate(random) * 10, coordinate(random),
                                mc::packSource(text.size(), 0)});
        text += vertexLine(random) + "\r\n";
    }
    FILE* file = std::fopen(keptPath.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    mc::openKeptLines(cut.lines, keptPath);
    cut.origin = mc::findOrigin(cut.mesh);
    mc::RunPaths paths;
    paths.object = "/dev/null";
    for (auto _ : state) benchmark::DoNotOptimize(mc::writeObjectFile(cut, paths).ok());
    state.SetItemsProcessed(int64_t(state.iterations() * cut.mesh.vertices.count));
    ::unlink(keptPath.c_str());
}
BENCHMARK(BM_writeObjectFile)->Unit(benchmark::kMillisecond);

}  // namespace

// The area's test of one corner, over outlines of 4 to 10,000 corners (a wavy ring around the
// middle of a one-degree tile): the edges looked at are those of the corner's band, so the cost
// should hardly grow with the outline.
void BM_isInsideArea(benchmark::State& state) {
    const size_t corners = size_t(state.range(0));
    mc::Area area;
    for (size_t k = 0; k < corners; ++k) {
        double angle = 2 * M_PI * double(k) / double(corners);
        double radius = 0.4 + (corners > 4 ? 0.05 * std::sin(37 * angle) : 0);
        area.polygons.resize(1);
        area.polygons[0].outline.push_back(
            {12.5 + radius * std::cos(angle), 47.5 + radius * std::sin(angle)});
    }
    mc::CutArea prepared;
    if (mc::Status status = mc::prepareArea(area, "bench", prepared); !status.ok()) {
        state.SkipWithError(status.reason.c_str());
    }
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> lon(12, 13), lat(47, 48);
    std::vector<std::pair<double, double>> places(4096);
    for (auto& place : places) place = {lon(random), lat(random)};
    size_t k = 0;
    for (auto _ : state) {
        const auto& place = places[k++ & 4095];
        benchmark::DoNotOptimize(mc::isInsideArea(prepared, place.first, place.second));
    }
}
BENCHMARK(BM_isInsideArea)->Arg(4)->Arg(100)->Arg(10000);
