#include "support/image_readers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "image/data_buffer.h"
#include "support/file_helpers.h"

namespace z3az::test {

MemoryStream::MemoryStream() { open_ = stream_.Open(nullptr, Memory); }

std::vector<uint8_t> MemoryStream::Bytes() const {
    if (!stream_.memory) return {};
    const uint8_t* p = static_cast<const uint8_t*>(stream_.memory->GetPointer());
    return std::vector<uint8_t>(p, p + stream_.committed);
}

namespace {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

}  // namespace

bool HaveProgram(const std::string& name) {
    return RunCommand("command -v " + Quote(name) + " >/dev/null 2>&1") == 0;
}

bool ReadWithOiio(const std::string& path, ReadPixels* out, std::string* error, int subimage,
                  int miplevel) {
    // Alpha is read as stored (not premultiplied). Every reader runs under a
    // time limit: some loop forever on headers they do not understand. Another subimage or mip
    // level is first extracted into a float file of its own.
    const std::string base = "timeout 120 oiiotool --iconfig oiio:UnassociatedAlpha 1 ";
    std::string file = path;
    ScratchDir dir;
    std::string text;
    if (subimage != 0 || miplevel != 0) {
        file = dir.File("extracted.exr");
        const std::string extract = base + Quote(path) + " --subimage " + std::to_string(subimage) +
                                    " --selectmip " + std::to_string(miplevel) + " -d float -o " +
                                    Quote(file) + " 2>&1";
        if (RunCommand(extract, &text) != 0) {
            if (error) *error = text;
            return false;
        }
    }
    const int rc = RunCommand(base + "--info --dumpdata " + Quote(file) + " 2>&1", &text);
    if (error) *error = text;
    if (rc != 0) return false;
    *out = ReadPixels();
    std::istringstream lines(text);
    std::string line;
    bool sized = false;
    while (std::getline(lines, line)) {
        unsigned w = 0, h = 0, c = 0;
        if (!sized) {
            const size_t colon = line.find(':');
            if (colon != std::string::npos &&
                std::sscanf(line.c_str() + colon + 1, " %u x %u, %u channel", &w, &h, &c) == 3) {
                out->width = w;
                out->height = h;
                out->channels = c;
                sized = true;
            }
            continue;
        }
        const size_t at = line.find("Pixel (");
        if (at == std::string::npos) continue;
        const size_t colon = line.find("):", at);
        if (colon == std::string::npos) continue;
        std::string values = line.substr(colon + 2);
        // Integer files print the raw codes and then the normalised values
        // in parentheses; float files print the values alone.
        const size_t open = values.find('(');
        if (open != std::string::npos) {
            const size_t close = values.find(')', open);
            values = values.substr(open + 1, close - open - 1);
        }
        std::istringstream v(values);
        for (uint32_t k = 0; k < out->channels; ++k) {
            std::string token;
            v >> token;
            out->values.push_back(std::strtof(token.c_str(), nullptr));
        }
    }
    return sized && out->values.size() == static_cast<size_t>(out->width) * out->height * out->channels;
}

bool ReadWithMagick(const std::string& path, ReadPixels* out, std::string* error, int frame) {
    const std::string input = Quote(path + "[" + std::to_string(frame) + "]");
    std::string size;
    if (RunCommand("timeout 120 identify-im6.q16 -format '%w %h' " + input + " 2>&1", &size) != 0) {
        if (error) *error = size;
        return false;
    }
    unsigned w = 0, h = 0;
    if (std::sscanf(size.c_str(), "%u %u", &w, &h) != 2) {
        if (error) *error = size;
        return false;
    }
    ScratchDir dir;
    const std::string raw = dir.File("pixels.raw");
    std::string text;
    // Relabelled as sRGB so that linear files (Radiance) come out as stored
    // instead of being converted on output.
    const std::string cmd = "timeout 120 convert-im6.q16 " + input + " -set colorspace sRGB" +
                            " -define quantum:format=floating-point -depth 32 rgba:" + Quote(raw) +
                            " 2>&1";
    if (RunCommand(cmd, &text) != 0) {
        if (error) *error = text;
        return false;
    }
    const std::vector<uint8_t> bytes = ReadFileBytes(raw);
    if (bytes.size() != static_cast<size_t>(w) * h * 16) {
        if (error) *error = "unexpected size of ImageMagick output";
        return false;
    }
    *out = ReadPixels();
    out->width = w;
    out->height = h;
    out->channels = 4;
    out->values.resize(static_cast<size_t>(w) * h * 4);
    std::memcpy(out->values.data(), bytes.data(), bytes.size());
    return true;
}

bool ReadWithPillow(const std::string& path, ReadPixels* out, std::string* error) {
    const std::string script =
        "import sys\n"
        "from PIL import Image\n"
        "im = Image.open(sys.argv[1]).convert('RGBA')\n"
        "print(im.size[0], im.size[1])\n"
        "print(' '.join(str(v) for px in im.getdata() for v in px))\n";
    ScratchDir dir;
    const std::string file = dir.File("read.py");
    WriteFileBytes(file, std::vector<uint8_t>(script.begin(), script.end()));
    std::string text;
    const int rc = RunCommand("timeout 120 " + std::string(DistributionPython()) + " " + Quote(file) + " " +
                                  Quote(path) + " 2>&1",
                              &text);
    if (error) *error = text;
    if (rc != 0) return false;
    std::istringstream in(text);
    *out = ReadPixels();
    out->channels = 4;
    if (!(in >> out->width >> out->height)) return false;
    int v = 0;
    while (in >> v) out->values.push_back(static_cast<float>(v) / 255.0f);
    return out->values.size() == static_cast<size_t>(out->width) * out->height * 4;
}

}  // namespace z3az::test
