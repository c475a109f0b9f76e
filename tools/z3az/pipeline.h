// What the tool does with parsed options: reads the inputs, converts them
// with the library's conversion entry, and saves them through the library's
// surface save entry.
#pragma once

#include "options.h"

namespace z3az::cli {

// Exit statuses.
enum ExitStatus : int {
    ExitOk = 0,
    ExitFailure = 1,  // the library failed, or an input was bad
    ExitUsage = 2,    // the command line was wrong
};

// Runs the job the options describe and returns the exit status. Messages go
// to standard error.
int RunTool(const Options& options);

// Prints the catalogue: one format a line with its bits per pixel and the
// file types that store it as it is.
int ListFormats();

}  // namespace z3az::cli
