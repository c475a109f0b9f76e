// z3az_bench: the library's hot paths beside peer libraries doing the same
// jobs on the same photographs, in one process and one run, ending with a
// table of ratios (medians over repetitions).
//
//   z3az_bench [--images=DIR] [--repetitions=N] [--no-pillow] [benchmark options]
//
// DIR defaults to $Z3AZ_BENCH_IMAGES, else the shared bench-images folder
// beside the project. Pillow's figures come from pillow_bench.py run by
// python3 as a child process after the other jobs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "inputs.h"
#include "jobs.h"
#include "table.h"

namespace {

bool StartsWith(const char* s, const char* prefix) { return std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

// Runs the Pillow script and records its medians as figures.
bool RunPillow(const std::string& script, const std::string& images, int repetitions) {
    const std::string command = "'" + std::string(Z3AZ_BENCH_PYTHON) + "' '" + script + "' --images '" + images + "' --repetitions " +
                                std::to_string(repetitions);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char line[256];
    int found = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        char name[128];
        double seconds = 0, pixels = 0;
        if (std::sscanf(line, "%127s %lf %lf", name, &seconds, &pixels) == 3) {
            bench::Figure f;
            f.seconds = seconds;
            f.counters["px"] = pixels;
            bench::Figures()[name] = f;
            std::printf("%-40s %10.3f ms (python3 %s)\n", name, seconds * 1e3, "Pillow");
            ++found;
        }
    }
    return pclose(pipe) == 0 && found > 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string images = Z3AZ_BENCH_IMAGES;
    if (const char* env = std::getenv("Z3AZ_BENCH_IMAGES")) images = env;
    int repetitions = 5;
    bool pillow = true;
    bool userRepetitions = false;

    std::vector<char*> args = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (StartsWith(argv[i], "--images=")) {
            images = argv[i] + 9;
        } else if (StartsWith(argv[i], "--repetitions=")) {
            repetitions = std::atoi(argv[i] + 14);
            if (repetitions < 1) repetitions = 1;
        } else if (std::strcmp(argv[i], "--no-pillow") == 0) {
            pillow = false;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: %s [--images=DIR] [--repetitions=N] [--no-pillow] [benchmark options]\n"
                        "  DIR holds frame_1920x1080.png and texture_1024.png (default %s,\n"
                        "  or $Z3AZ_BENCH_IMAGES); N repetitions per job, medians reported (5)\n",
                        argv[0], Z3AZ_BENCH_IMAGES);
            return 0;
        } else {
            if (StartsWith(argv[i], "--benchmark_repetitions")) userRepetitions = true;
            args.push_back(argv[i]);
        }
    }
    std::string repetitionsFlag = "--benchmark_repetitions=" + std::to_string(repetitions);
    std::string aggregatesFlag = "--benchmark_report_aggregates_only=true";
    if (!userRepetitions) {
        args.push_back(repetitionsFlag.data());
        args.push_back(aggregatesFlag.data());
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    if (!bench::LoadInputs(images)) return 1;
    bench::RegisterSaveJobs();
    bench::RegisterConvertJobs();
    bench::RegisterDxtJobs();

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    bool pillowMeasured = false;
    if (pillow) {
        pillowMeasured = RunPillow(Z3AZ_BENCH_PILLOW_SCRIPT, images, repetitions);
        if (!pillowMeasured) std::fprintf(stderr, "Pillow figures unavailable (python3 with PIL needed)\n");
    }
    bench::PrintTable(pillowMeasured);
    return 0;
}
