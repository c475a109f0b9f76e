#include "table.h"

#include <cstdio>
#include <cstring>

namespace bench {

std::map<std::string, Figure>& Figures() {
    static std::map<std::string, Figure> figures;
    return figures;
}

void RecordingReporter::ReportRuns(const std::vector<Run>& reports) {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
        if (!(median || single) || run.error_occurred) continue;
        Figure f;
        f.seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        for (const auto& [name, counter] : run.counters) f.counters[name] = counter.value;
        Figures()[run.run_name.function_name] = f;
    }
}

namespace {

enum Check {
    kWithinFloor,  // ours takes at most goal times the floor's time
    kFasterBy,     // ours is at least goal times faster than the peer
    kRate,         // ours reaches goal Mpixel/s (Mvalue/s); ref is shown beside
    kInfo,         // no target: the ratio only
};

struct Row {
    const char* job;
    const char* ours;
    const char* ref;
    Check check;
    double goal;
};

// Time ratio ours / ref for every row; the target reads on it.
constexpr Row kRows[] = {
    {"BMP save 1080p X8R8G8B8 to memory", "bmp/z3az", "bmp/memcpy", kWithinFloor, 5},
    {"BMP save 1080p X8R8G8B8 to memory", "bmp/z3az", "bmp/stb", kFasterBy, 4},
    {"TGA save 1080p (saver converts to R8G8B8)", "tga/z3az", "tga/stb", kFasterBy, 1},
    {"PNG save 1080p", "png/z3az", "png/libpng", kWithinFloor, 1.03},
    {"JPEG save 1080p", "jpeg/z3az", "jpeg/libjpeg", kWithinFloor, 1.05},
    {"HDR save 1080p A32B32G32R32F", "hdr/z3az", "hdr/stb", kFasterBy, 1},
    {"HDR save 1080p from X8R8G8B8 (with conversion)", "hdr-convert/z3az", "hdr/stb", kInfo, 0},
    {"ConvertSameSize A8R8G8B8->R5G6B5 dithered", "convert/argb-r5g6b5-dither", "convert/memcpy", kRate, 200},
    {"ConvertSameSize X8R8G8B8->A32B32G32R32F", "convert/xrgb-float4", "convert/memcpy-float", kRate, 200},
    {"ConvertSameSize A32B32G32R32F->R8G8B8", "convert/float4-rgb", "convert/memcpy-float", kRate, 200},
    {"Float32ToFloat16Array 16M", "half/to16/z3az", "half/to16/scalar", kRate, 1000},
    {"Float32ToFloat16Array 16M", "half/to16/z3az", "half/to16/f16c", kInfo, 0},
    {"Float16ToFloat32Array 16M", "half/to32/z3az", "half/to32/scalar", kRate, 1000},
    {"Float16ToFloat32Array 16M", "half/to32/z3az", "half/to32/f16c", kInfo, 0},
    {"DXT1 texture 1024", "dxt1/z3az", "dxt1/stb-normal", kFasterBy, 1},
    {"DXT1 texture 1024", "dxt1/z3az", "dxt1/stb-hq", kInfo, 0},
    {"DXT1 texture 1024", "dxt1/z3az", "dxt1/squish-range", kInfo, 0},
    {"DXT1 texture 1024", "dxt1/z3az", "dxt1/squish-cluster", kInfo, 0},
    {"DXT5 texture 1024", "dxt5/z3az", "dxt5/stb-normal", kFasterBy, 1},
    {"DXT5 texture 1024", "dxt5/z3az", "dxt5/stb-hq", kInfo, 0},
    {"DXT5 texture 1024", "dxt5/z3az", "dxt5/squish-range", kInfo, 0},
    {"DXT5 texture 1024", "dxt5/z3az", "dxt5/squish-cluster", kInfo, 0},
    {"Box halving 1080p A8R8G8B8 (packed)", "box/z3az", "box/memcpy", kRate, 1000},
    {"Box halving 1080p A8R8G8B8 (packed)", "box/z3az", "pillow/reduce2", kInfo, 0},
    {"Triangle 1920x1080->960x540", "triangle/z3az", "triangle/stb", kFasterBy, 1},
    {"Triangle 1920x1080->960x540", "triangle/z3az", "pillow/bilinear", kFasterBy, 1},
    {"Linear 1920x1080->960x540", "linear/z3az", "triangle/stb", kFasterBy, 1},
    {"Linear 1920x1080->960x540", "linear/z3az", "pillow/bilinear", kFasterBy, 1},
};

std::string FormatTime(double seconds) {
    char buf[64];
    if (seconds >= 1)
        std::snprintf(buf, sizeof buf, "%.2f s", seconds);
    else if (seconds >= 1e-3)
        std::snprintf(buf, sizeof buf, "%.2f ms", seconds * 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.1f us", seconds * 1e6);
    return buf;
}

// "12.3 ms, 169 Mpx/s, 37.2 dB" from a figure.
std::string Describe(const Figure& f) {
    std::string s = FormatTime(f.seconds);
    char buf[96];
    auto px = f.counters.find("px");
    if (px != f.counters.end() && f.seconds > 0) {
        std::snprintf(buf, sizeof buf, ", %.0f M/s", px->second / f.seconds / 1e6);
        s += buf;
    }
    auto psnr = f.counters.find("psnr_rgb");
    if (psnr != f.counters.end()) {
        std::snprintf(buf, sizeof buf, ", RGB %.2f dB", psnr->second);
        s += buf;
    }
    auto alpha = f.counters.find("psnr_a");
    if (alpha != f.counters.end()) {
        std::snprintf(buf, sizeof buf, ", A %.2f dB", alpha->second);
        s += buf;
    }
    auto exact = f.counters.find("mismatches");
    if (exact != f.counters.end()) {
        std::snprintf(buf, sizeof buf, ", %.0f differ", exact->second);
        s += buf;
    }
    return s;
}

}  // namespace

void PrintTable(bool pillowMeasured) {
    const auto& figures = Figures();
    std::printf("\n| Job | z3az | Peer or floor | Time ratio z3az/peer | Target | Met |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const Row& row : kRows) {
        auto ours = figures.find(row.ours);
        auto ref = figures.find(row.ref);
        if (ours == figures.end() || ref == figures.end()) continue;
        const Figure& o = ours->second;
        const Figure& r = ref->second;
        const double ratio = o.seconds / r.seconds;
        std::string target;
        bool met = true;
        char buf[96];
        switch (row.check) {
        case kWithinFloor:
            std::snprintf(buf, sizeof buf, "<= %.2fx", row.goal);
            target = buf;
            met = ratio <= row.goal;
            break;
        case kFasterBy:
            std::snprintf(buf, sizeof buf, "<= %.2fx (%.3gx faster)", 1 / row.goal, row.goal);
            target = buf;
            met = ratio <= 1 / row.goal;
            break;
        case kRate: {
            auto px = o.counters.find("px");
            const double rate = px == o.counters.end() ? 0 : px->second / o.seconds / 1e6;
            std::snprintf(buf, sizeof buf, ">= %.0f M/s", row.goal);
            target = buf;
            met = rate >= row.goal;
            break;
        }
        case kInfo: target = "-"; break;
        }
        std::string refName = row.ref;
        if (!pillowMeasured && refName.rfind("pillow/", 0) == 0) continue;
        if (refName.rfind("pillow/", 0) == 0) refName += " (python3, own process)";
        std::printf("| %s | %s | %s: %s | %.3f | %s | %s |\n", row.job, Describe(o).c_str(), refName.c_str(),
                    Describe(r).c_str(), ratio, target.c_str(), row.check == kInfo ? "-" : (met ? "yes" : "NO"));
    }
    std::fflush(stdout);
}

}  // namespace bench
