#include "options.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "format_names.h"
#include "z3az/types.h"

namespace z3az::cli {
namespace {

struct FileTypeName {
    const char* name;
    uint32_t fileType;
};

// --type values and extensions; the first name of a type is its usual
// extension.
const FileTypeName FileTypeNames[] = {
    {"bmp", ImageFileBmp}, {"jpg", ImageFileJpg}, {"jpeg", ImageFileJpg}, {"tga", ImageFileTga},
    {"png", ImageFilePng}, {"dds", ImageFileDds}, {"ppm", ImageFilePpm}, {"dib", ImageFileDib},
    {"hdr", ImageFileHdr}, {"pfm", ImageFilePfm},
};

// Strict decimal: digits only, no sign, no overflow.
bool ParseUnsigned(const char* text, size_t length, uint32_t* out) {
    if (length == 0 || length > 10) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + uint32_t(text[i] - '0');
    }
    if (value > 0xFFFFFFFFu) return false;
    *out = uint32_t(value);
    return true;
}

bool ParseSigned(const char* text, size_t length, int32_t* out) {
    bool negative = length > 0 && text[0] == '-';
    if (negative) {
        ++text;
        --length;
    }
    uint32_t magnitude;
    if (!ParseUnsigned(text, length, &magnitude)) return false;
    if (negative ? magnitude > 0x80000000u : magnitude > 0x7FFFFFFFu) return false;
    *out = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
    return true;
}

// Splits text at separator into at most maxParts pieces; returns the count,
// or 0 when there are more pieces than that.
int Split(const char* text, char separator, const char** starts, size_t* lengths, int maxParts) {
    int count = 0;
    const char* start = text;
    for (const char* p = text;; ++p) {
        if (*p == separator || *p == 0) {
            if (count == maxParts) return 0;
            starts[count] = start;
            lengths[count] = size_t(p - start);
            ++count;
            if (*p == 0) break;
            start = p + 1;
        }
    }
    return count;
}

bool ParseRaw(const char* value, RawSpec* raw, Message* error) {
    const char* starts[4];
    size_t lengths[4];
    int parts = Split(value, ',', starts, lengths, 4);
    if (parts < 3) {
        error->Set("--raw needs FORMAT,WIDTH,HEIGHT[,DEPTH], as A8R8G8B8,256,256; got '%s'", value);
        return false;
    }
    char name[64];
    if (lengths[0] >= sizeof name) lengths[0] = sizeof name - 1;
    std::memcpy(name, starts[0], lengths[0]);
    name[lengths[0]] = 0;
    if (!FindFormatByName(name, &raw->format)) {
        error->Set("unknown pixel format '%s' in --raw (z3az --list-formats names them)", name);
        return false;
    }
    uint32_t* sizes[3] = {&raw->width, &raw->height, &raw->depth};
    raw->depth = 1;
    for (int i = 1; i < parts; ++i) {
        if (!ParseUnsigned(starts[i], lengths[i], sizes[i - 1])) {
            error->Set("--raw sizes must be whole numbers; got '%s'", value);
            return false;
        }
        if (*sizes[i - 1] == 0) {
            error->Set("--raw sizes must not be zero; got '%s'", value);
            return false;
        }
    }
    return true;
}

bool ParseSize(const char* value, Options* options, Message* error) {
    const char* starts[3];
    size_t lengths[3];
    int parts = Split(value, 'x', starts, lengths, 3);
    uint32_t* sizes[3] = {&options->width, &options->height, &options->depth};
    bool ok = parts >= 2;
    for (int i = 0; ok && i < parts; ++i) ok = ParseUnsigned(starts[i], lengths[i], sizes[i]);
    if (!ok) {
        error->Set("--size needs WIDTHxHEIGHT[xDEPTH], as 512x256; got '%s'", value);
        return false;
    }
    if (options->width == 0 || options->height == 0 || (parts == 3 && options->depth == 0)) {
        error->Set("--size must not be zero; got '%s'", value);
        return false;
    }
    if (parts == 2) options->depth = 0;
    options->haveSize = true;
    return true;
}

bool ParseRect(const char* value, Options* options, Message* error) {
    const char* starts[4];
    size_t lengths[4];
    int parts = Split(value, ',', starts, lengths, 4);
    bool ok = parts == 4;
    for (int i = 0; ok && i < 4; ++i) ok = ParseSigned(starts[i], lengths[i], &options->rect[i]);
    if (!ok) {
        error->Set("--rect needs LEFT,TOP,RIGHT,BOTTOM, as 0,0,64,32; got '%s'", value);
        return false;
    }
    options->haveRect = true;
    return true;
}

bool ParseClamp(const char* value, Options* options, Message* error) {
    const char* starts[3];
    size_t lengths[3];
    int parts = Split(value, ',', starts, lengths, 3);
    bool ok = parts > 0;
    for (int i = 0; ok && i < parts; ++i) {
        ok = lengths[i] == 1;
        if (!ok) break;
        switch (starts[i][0]) {
            case 'u': case 'U': options->flags |= FilterClampU; break;
            case 'v': case 'V': options->flags |= FilterClampV; break;
            case 'w': case 'W': options->flags |= FilterClampW; break;
            default: ok = false;
        }
    }
    if (!ok) {
        error->Set("--clamp takes any of u, v and w separated by commas, as u,v; got '%s'", value);
        return false;
    }
    return true;
}

bool ParseFilter(const char* value, Options* options, Message* error) {
    static const struct {
        const char* name;
        uint32_t kind;
    } kinds[] = {{"none", FilterNone}, {"point", FilterPoint}, {"linear", FilterLinear},
                 {"triangle", FilterTriangle}, {"box", FilterBox}};
    for (const auto& kind : kinds) {
        if (strcasecmp(kind.name, value) == 0) {
            options->filterKind = kind.kind;
            return true;
        }
    }
    error->Set("--filter is one of none, point, linear, triangle and box; got '%s'", value);
    return false;
}

bool ParseColorKey(const char* value, Options* options, Message* error) {
    size_t length = std::strlen(value);
    const char* digits = value;
    if (length > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits += 2;
        length -= 2;
    }
    bool ok = length >= 1 && length <= 8;
    uint32_t key = 0;
    for (size_t i = 0; ok && i < length; ++i) {
        char c = digits[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f') digit = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = uint32_t(c - 'A' + 10);
        else { ok = false; break; }
        key = key << 4 | digit;
    }
    if (!ok) {
        error->Set("--color-key needs a hexadecimal AARRGGBB colour, as FF808080; got '%s'", value);
        return false;
    }
    options->haveColorKey = true;
    options->colorKey = key;
    return true;
}

bool ParseMipmaps(const char* value, Options* options, Message* error) {
    if (strcasecmp(value, "all") == 0) {
        options->mipAll = true;
        options->mipLevels = 0;
        return true;
    }
    uint32_t levels;
    if (!ParseUnsigned(value, std::strlen(value), &levels) || levels == 0 || levels > 32) {
        error->Set("--mipmaps needs a number of levels from 1 to 32, or 'all'; got '%s'", value);
        return false;
    }
    options->mipAll = false;
    options->mipLevels = levels;
    return true;
}

enum OptionId {
    OptHelp, OptVersion, OptQuiet, OptListFormats, OptRaw, OptPitch, OptPalette, OptType,
    OptFormat, OptSize, OptFilter, OptDither, OptDiffuse, OptSrgbIn, OptSrgbOut, OptClamp,
    OptMipmaps, OptCube, OptRect, OptColorKey, OptOutDir,
};

const struct {
    const char* name;
    OptionId id;
    bool takesValue;
} OptionTable[] = {
    {"help", OptHelp, false},         {"version", OptVersion, false},
    {"quiet", OptQuiet, false},       {"list-formats", OptListFormats, false},
    {"raw", OptRaw, true},            {"pitch", OptPitch, true},
    {"palette", OptPalette, true},    {"type", OptType, true},
    {"format", OptFormat, true},      {"size", OptSize, true},
    {"filter", OptFilter, true},      {"dither", OptDither, false},
    {"diffuse", OptDiffuse, false},   {"srgb-in", OptSrgbIn, false},
    {"srgb-out", OptSrgbOut, false},  {"clamp", OptClamp, true},
    {"mipmaps", OptMipmaps, true},    {"cube", OptCube, false},
    {"rect", OptRect, true},          {"color-key", OptColorKey, true},
    {"out-dir", OptOutDir, true},
};

bool ApplyOption(OptionId id, const char* value, Options* options, Message* error) {
    switch (id) {
        case OptHelp: options->help = true; return true;
        case OptVersion: options->version = true; return true;
        case OptQuiet: options->quiet = true; return true;
        case OptListFormats: options->listFormats = true; return true;
        case OptRaw: options->haveRaw = true; return ParseRaw(value, &options->raw, error);
        case OptPitch:
            if (!ParseUnsigned(value, std::strlen(value), &options->pitch) || options->pitch == 0) {
                error->Set("--pitch needs a number of bytes above zero; got '%s'", value);
                return false;
            }
            return true;
        case OptPalette: options->paletteFile = value; return true;
        case OptType:
            if (!FileTypeFromName(value, &options->fileType)) {
                error->Set("--type is one of bmp, jpg, tga, png, dds, ppm, dib, hdr and pfm; got '%s'", value);
                return false;
            }
            options->haveType = true;
            return true;
        case OptFormat:
            if (!FindFormatByName(value, &options->format)) {
                error->Set("unknown pixel format '%s' (z3az --list-formats names them)", value);
                return false;
            }
            options->haveFormat = true;
            return true;
        case OptSize: return ParseSize(value, options, error);
        case OptFilter: return ParseFilter(value, options, error);
        case OptDither: options->flags |= FilterDither; return true;
        case OptDiffuse: options->flags |= FilterDiffuse; return true;
        case OptSrgbIn: options->flags |= FilterSrgbIn; return true;
        case OptSrgbOut: options->flags |= FilterSrgbOut; return true;
        case OptClamp: return ParseClamp(value, options, error);
        case OptMipmaps: return ParseMipmaps(value, options, error);
        case OptCube: options->cube = true; return true;
        case OptRect: return ParseRect(value, options, error);
        case OptColorKey: return ParseColorKey(value, options, error);
        case OptOutDir:
            if (!*value) {
                error->Set("--out-dir needs a directory");
                return false;
            }
            options->outDir = value;
            return true;
    }
    return false;
}

// Rules that tie options to each other and to the positional arguments.
bool CheckCombination(Options* options, Message* error) {
    if (options->help || options->version || options->listFormats) return true;
    const int count = options->positionalCount;
    if (options->outDir) {
        if (options->cube) {
            error->Set("--cube makes one file of six inputs and cannot be used with --out-dir");
            return false;
        }
        if (count < 1) {
            error->Set("--out-dir needs at least one input");
            return false;
        }
        if (!options->haveType) {
            error->Set("--out-dir needs --type to name the files it writes");
            return false;
        }
        for (int i = 0; i < count; ++i) {
            if (std::strcmp(options->positionals[i], "-") == 0) {
                error->Set("--out-dir cannot read standard input: '-' has no file name");
                return false;
            }
        }
        options->inputCount = count;
    } else {
        const int wanted = options->cube ? 7 : 2;
        if (count != wanted) {
            if (options->cube)
                error->Set("--cube needs six inputs (+X, -X, +Y, -Y, +Z, -Z) and an output; got %d argument%s",
                           count, count == 1 ? "" : "s");
            else if (count < 2)
                error->Set("missing %s", count == 0 ? "INPUT and OUTPUT" : "OUTPUT");
            else
                error->Set("one INPUT and one OUTPUT expected, got %d arguments (use --out-dir for several inputs)",
                           count);
            return false;
        }
        options->inputCount = count - 1;
        options->output = options->positionals[count - 1];
        if (!options->haveType && !FileTypeFromExtension(options->output, &options->fileType)) {
            error->Set("cannot tell the file type of '%s': give --type", options->output);
            return false;
        }
    }
    int stdinUses = 0;
    for (int i = 0; i < options->inputCount; ++i) stdinUses += std::strcmp(options->positionals[i], "-") == 0;
    if (stdinUses > 1) {
        error->Set("standard input ('-') can be read only once");
        return false;
    }
    if ((options->mipLevels || options->mipAll || options->cube) && options->fileType != ImageFileDds) {
        error->Set("%s stored only in DDS files", options->cube ? "cube maps are" : "mipmaps are");
        return false;
    }
    if (options->haveRect && (options->mipLevels || options->mipAll || options->cube)) {
        error->Set("--rect saves part of one image and cannot be used with --mipmaps or --cube");
        return false;
    }
    if (!options->haveRaw && (options->pitch || options->paletteFile)) {
        error->Set("%s describes raw input and needs --raw", options->pitch ? "--pitch" : "--palette");
        return false;
    }
    if (options->haveRaw) {
        if (options->paletteFile && !IsPaletteFormat(options->raw.format)) {
            error->Set("--palette is for P8 and A8P8 input, not %s", FormatNameOf(options->raw.format));
            return false;
        }
        SliceLayout layout;
        if (!LayoutOf(options->raw.format, options->raw.width, options->raw.height, &layout)) {
            error->Set("the library does not describe the format %s", FormatNameOf(options->raw.format));
            return false;
        }
        if (layout.rowBytes > 0xFFFFFFFFu) {
            error->Set("--raw rows of %llu bytes are too long", (unsigned long long)layout.rowBytes);
            return false;
        }
        if (options->pitch && options->pitch < layout.rowBytes) {
            error->Set("--pitch %u is shorter than a row of %llu bytes", options->pitch,
                       (unsigned long long)layout.rowBytes);
            return false;
        }
    }
    return true;
}

}  // namespace

Options::~Options() { std::free(positionals); }

bool FileTypeFromName(const char* name, uint32_t* fileType) {
    for (const FileTypeName& entry : FileTypeNames) {
        if (strcasecmp(entry.name, name) == 0) {
            *fileType = entry.fileType;
            return true;
        }
    }
    return false;
}

bool FileTypeFromExtension(const char* path, uint32_t* fileType) {
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    const char* dot = std::strrchr(base, '.');
    if (!dot || dot == base) return false;
    return FileTypeFromName(dot + 1, fileType);
}

const char* ExtensionOf(uint32_t fileType) {
    for (const FileTypeName& entry : FileTypeNames) {
        if (entry.fileType == fileType) return entry.name;
    }
    return "bin";
}

bool ParseOptions(int argc, char** argv, Options* options, Message* error) {
    options->filterKind = FilterTriangle;
    std::free(options->positionals);
    options->positionals = static_cast<const char**>(std::calloc(size_t(argc > 0 ? argc : 1), sizeof(char*)));
    if (!options->positionals) {
        error->Set("out of memory");
        return false;
    }
    options->positionalCount = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == 0) {
            options->positionals[options->positionalCount++] = arg;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (arg[1] != '-') {
            if (std::strcmp(arg, "-h") == 0) {
                options->help = true;
                continue;
            }
            if (std::strcmp(arg, "-q") == 0) {
                options->quiet = true;
                continue;
            }
            error->Set("unknown option '%s'", arg);
            return false;
        }
        const char* name = arg + 2;
        const char* equals = std::strchr(name, '=');
        size_t nameLength = equals ? size_t(equals - name) : std::strlen(name);
        bool found = false;
        for (const auto& option : OptionTable) {
            if (std::strlen(option.name) != nameLength || std::strncmp(option.name, name, nameLength) != 0) continue;
            found = true;
            const char* value = nullptr;
            if (option.takesValue) {
                if (equals) {
                    value = equals + 1;
                } else if (i + 1 < argc) {
                    value = argv[++i];
                } else {
                    error->Set("--%s needs a value", option.name);
                    return false;
                }
            } else if (equals) {
                error->Set("--%s takes no value", option.name);
                return false;
            }
            if (!ApplyOption(option.id, value, options, error)) return false;
            break;
        }
        if (!found) {
            error->Set("unknown option '%s'", arg);
            return false;
        }
    }
    return CheckCombination(options, error);
}

}  // namespace z3az::cli
