// The command line of the z3az tool, parsed and checked.
#pragma once

#include <cstdint>

#include "buffer.h"

namespace z3az::cli {

struct RawSpec {
    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 1;
};

struct Options {
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool listFormats = false;

    bool haveRaw = false;
    RawSpec raw;
    uint32_t pitch = 0;                  // 0: rows tightly packed
    const char* paletteFile = nullptr;

    bool haveType = false;
    uint32_t fileType = 0;               // ImageFileFormat

    bool haveFormat = false;
    uint32_t format = 0;

    bool haveSize = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0;                  // 0: keep the input's depth

    uint32_t filterKind = 0;             // a Filter* kind; FilterTriangle by default
    uint32_t flags = 0;                  // FilterDither, FilterClampU, ...

    uint32_t mipLevels = 0;              // 0: no chain
    bool mipAll = false;
    bool cube = false;

    bool haveRect = false;
    int32_t rect[4] = {};                // left, top, right, bottom

    bool haveColorKey = false;
    uint32_t colorKey = 0;

    const char* outDir = nullptr;

    // Positional arguments in order: the inputs, then (without --out-dir)
    // the output. Points into argv.
    const char** positionals = nullptr;
    int positionalCount = 0;

    const char* output = nullptr;        // set by ParseOptions from the positionals
    int inputCount = 0;                  // the first inputCount positionals

    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    ~Options();

    // The filter word a conversion uses: the kind and the flags, nothing more.
    uint32_t FilterWord() const { return filterKind | flags; }
};

// Parses argv. On a usage error returns false with a message of one line.
bool ParseOptions(int argc, char** argv, Options* options, Message* error);

// File type named by a --type value or a file name's extension; false when
// there is none.
bool FileTypeFromName(const char* name, uint32_t* fileType);
bool FileTypeFromExtension(const char* path, uint32_t* fileType);
// The usual extension of a file type, without the dot.
const char* ExtensionOf(uint32_t fileType);

}  // namespace z3az::cli
