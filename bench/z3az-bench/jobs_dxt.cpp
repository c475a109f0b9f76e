// DXT1 and DXT5 encoding of the texture: the library's codec through the
// public conversion entry beside stb_dxt and libsquish, each with its PSNR
// measured on the decoded blocks (decoded by libsquish for all of them).
#include <cmath>
#include <cstring>
#include <vector>

#include <squish.h>
#include <stb_dxt.h>

#include <benchmark/benchmark.h>

#include "inputs.h"
#include "jobs.h"
#include "z3az/convert.h"
#include "z3az/d3dformat.h"

namespace bench {
namespace {

using benchmark::State;

// The texture as R, G, B, A bytes: opaque for DXT1, with the radial alpha
// for DXT5.
const std::vector<uint8_t>& TextureRgba(bool withAlpha) {
    static std::vector<uint8_t> opaque = [] {
        std::vector<uint8_t> v = TheInputs().textureRgba;
        for (size_t i = 3; i < v.size(); i += 4) v[i] = 255;
        return v;
    }();
    return withAlpha ? TheInputs().textureRgba : opaque;
}
const std::vector<uint32_t>& TextureArgb(bool withAlpha) {
    static std::vector<uint32_t> opaque = [] {
        std::vector<uint32_t> v = TheInputs().textureArgb;
        for (uint32_t& p : v) p |= 0xFF000000u;
        return v;
    }();
    return withAlpha ? TheInputs().textureArgb : opaque;
}

double Psnr(double squaredError, double samples) {
    if (squaredError == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * samples / squaredError);
}

// Decodes the blocks and sets the RGB (and alpha) PSNR counters.
void MeasureQuality(State& state, const std::vector<uint8_t>& blocks, bool dxt5) {
    const Inputs& in = TheInputs();
    const int w = int(in.textureWidth), h = int(in.textureHeight);
    std::vector<uint8_t> decoded(size_t(w) * h * 4);
    squish::DecompressImage(decoded.data(), w, h, blocks.data(), dxt5 ? squish::kDxt5 : squish::kDxt1);
    const std::vector<uint8_t>& original = TextureRgba(dxt5);
    double rgb = 0, alpha = 0;
    for (size_t i = 0; i < decoded.size(); i += 4) {
        for (int c = 0; c < 3; ++c) {
            const double d = double(decoded[i + c]) - original[i + c];
            rgb += d * d;
        }
        const double d = double(decoded[i + 3]) - original[i + 3];
        alpha += d * d;
    }
    state.counters["psnr_rgb"] = Psnr(rgb, double(w) * h * 3);
    if (dxt5) state.counters["psnr_a"] = Psnr(alpha, double(w) * h);
    state.counters["px"] = double(w) * h;
}

size_t BlockBytes(bool dxt5) {
    const Inputs& in = TheInputs();
    return size_t(in.textureWidth / 4) * (in.textureHeight / 4) * (dxt5 ? 16 : 8);
}

template <bool kDxt5>
void Ours(State& state) {
    const Inputs& in = TheInputs();
    const std::vector<uint32_t>& argb = TextureArgb(kDxt5);
    std::vector<uint8_t> blocks(BlockBytes(kDxt5));
    for (auto _ : state) {
        z3az::BlitRegion src = Region(const_cast<uint32_t*>(argb.data()), D3DFMT_A8R8G8B8, in.textureWidth * 4,
                                      in.textureWidth, in.textureHeight);
        z3az::BlitRegion dst = Region(blocks.data(), kDxt5 ? D3DFMT_DXT5 : D3DFMT_DXT1,
                                      in.textureWidth / 4 * (kDxt5 ? 16 : 8), in.textureWidth, in.textureHeight);
        if (FAILED(z3az::ConvertPixels(dst, src, z3az::FilterNone))) {
            state.SkipWithError("conversion failed");
            return;
        }
        Consume(blocks.data());
    }
    MeasureQuality(state, blocks, kDxt5);
}

template <bool kDxt5, int kMode>
void Stb(State& state) {
    const Inputs& in = TheInputs();
    const std::vector<uint8_t>& rgba = TextureRgba(kDxt5);
    std::vector<uint8_t> blocks(BlockBytes(kDxt5));
    const uint32_t w = in.textureWidth, h = in.textureHeight;
    for (auto _ : state) {
        uint8_t* out = blocks.data();
        for (uint32_t by = 0; by < h; by += 4) {
            for (uint32_t bx = 0; bx < w; bx += 4) {
                uint8_t block[64];
                for (int r = 0; r < 4; ++r) std::memcpy(block + 16 * r, &rgba[(size_t(by + r) * w + bx) * 4], 16);
                stb_compress_dxt_block(out, block, kDxt5 ? 1 : 0, kMode);
                out += kDxt5 ? 16 : 8;
            }
        }
        Consume(blocks.data());
    }
    MeasureQuality(state, blocks, kDxt5);
}

// Block by block, like stb: libsquish's whole-image entry spreads the
// blocks over threads, and these figures are single-threaded.
template <bool kDxt5, int kFit>
void Squish(State& state) {
    const Inputs& in = TheInputs();
    const std::vector<uint8_t>& rgba = TextureRgba(kDxt5);
    std::vector<uint8_t> blocks(BlockBytes(kDxt5));
    const uint32_t w = in.textureWidth, h = in.textureHeight;
    for (auto _ : state) {
        uint8_t* out = blocks.data();
        for (uint32_t by = 0; by < h; by += 4) {
            for (uint32_t bx = 0; bx < w; bx += 4) {
                uint8_t block[64];
                for (int r = 0; r < 4; ++r) std::memcpy(block + 16 * r, &rgba[(size_t(by + r) * w + bx) * 4], 16);
                squish::Compress(block, out, (kDxt5 ? squish::kDxt5 : squish::kDxt1) | kFit);
                out += kDxt5 ? 16 : 8;
            }
        }
        Consume(blocks.data());
    }
    MeasureQuality(state, blocks, kDxt5);
}

}  // namespace

void RegisterDxtJobs() {
    benchmark::RegisterBenchmark("dxt1/z3az", Ours<false>);
    benchmark::RegisterBenchmark("dxt1/stb-normal", Stb<false, STB_DXT_NORMAL>);
    benchmark::RegisterBenchmark("dxt1/stb-hq", Stb<false, STB_DXT_HIGHQUAL>);
    benchmark::RegisterBenchmark("dxt1/squish-range", Squish<false, squish::kColourRangeFit>);
    benchmark::RegisterBenchmark("dxt1/squish-cluster", Squish<false, squish::kColourClusterFit>)->Iterations(1);
    benchmark::RegisterBenchmark("dxt5/z3az", Ours<true>);
    benchmark::RegisterBenchmark("dxt5/stb-normal", Stb<true, STB_DXT_NORMAL>);
    benchmark::RegisterBenchmark("dxt5/stb-hq", Stb<true, STB_DXT_HIGHQUAL>);
    benchmark::RegisterBenchmark("dxt5/squish-range", Squish<true, squish::kColourRangeFit>);
    benchmark::RegisterBenchmark("dxt5/squish-cluster", Squish<true, squish::kColourClusterFit>)->Iterations(1);
}

}  // namespace bench
