// The names users give pixel formats on the command line: the Direct3D
// names without their D3DFMT_ prefix, and the two private formats by their
// own names.
#pragma once

#include <cstdint>

namespace z3az::cli {

struct FormatName {
    const char* name;
    uint32_t format;
};

// Every format the library knows, in the library's catalogue order.
extern const FormatName FormatNames[];
extern const uint32_t FormatNameCount;

// The code of a name (case does not matter, a D3DFMT_ prefix is allowed);
// false when the name is unknown.
bool FindFormatByName(const char* name, uint32_t* format);

// The name of a code, or null when the code has none.
const char* FormatNameOf(uint32_t format);

// Layout of one slice in memory as the tool reads and writes it: DXT formats
// count rows of 4x4 blocks, the pair formats pairs of pixels.
struct SliceLayout {
    uint64_t rowBytes;  // bytes of one row (of pixels, or of blocks)
    uint32_t rows;      // rows per slice
};

// False when the format has no name (is not known to the library).
bool LayoutOf(uint32_t format, uint32_t width, uint32_t height, SliceLayout* layout);

bool IsBlockFormat(uint32_t format);
bool IsPairFormat(uint32_t format);
bool IsPaletteFormat(uint32_t format);

}  // namespace z3az::cli
