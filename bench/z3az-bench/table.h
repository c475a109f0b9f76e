// The figures of one run and the table of ratios printed at its end.
#pragma once

#include <map>
#include <string>

#include <benchmark/benchmark.h>

namespace bench {

struct Figure {
    double seconds = 0;                      // median time of one iteration
    std::map<std::string, double> counters;  // pixels per iteration, PSNR, ...
};

// Figures by benchmark name ("bmp/z3az", "pillow/reduce2", ...).
std::map<std::string, Figure>& Figures();

// Console output as usual; the medians (or the single runs without
// repetitions) are kept in Figures().
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override;
};

// Prints the Markdown table of every job whose figures are present.
void PrintTable(bool pillowMeasured);

}  // namespace bench
