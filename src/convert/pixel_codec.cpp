// The codec base: construction from a region, the steps every codec shares
// (range conversion, sRGB, colour key, palette, error diffusion), the dither
// and sRGB tables, and the factory that picks the codec class by format.
#include "convert/pixel_codec.h"

#include <cstring>

#include "convert/codecs_float.h"
#include "convert/codecs_luminance.h"
#include "convert/codecs_packed.h"
#include "convert/codecs_palette.h"
#include "convert/codecs_signed.h"
#include "convert/dxt_codec.h"
#include "convert/pair_codec.h"
#include "platform/heap.h"
#include "runtime/inv_sqrt.h"
#include "z3az/d3dformat.h"

namespace z3az {

const float PlainThresholds[32] = {
    0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,
    0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,
    0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,
    0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,
};

// m = 15 7 13 5 / 3 11 1 9 / 12 4 14 6 / 0 8 2 10, stored as (2m + 1) / 32.
const float OrderedThresholds[32] = {
    31 / 32.f, 15 / 32.f, 27 / 32.f, 11 / 32.f, 31 / 32.f, 15 / 32.f, 27 / 32.f, 11 / 32.f,
    7 / 32.f,  23 / 32.f, 3 / 32.f,  19 / 32.f, 7 / 32.f,  23 / 32.f, 3 / 32.f,  19 / 32.f,
    25 / 32.f, 9 / 32.f,  29 / 32.f, 13 / 32.f, 25 / 32.f, 9 / 32.f,  29 / 32.f, 13 / 32.f,
    1 / 32.f,  17 / 32.f, 5 / 32.f,  21 / 32.f, 1 / 32.f,  17 / 32.f, 5 / 32.f,  21 / 32.f,
};

// (i / 254) ^ (1 / 1.1).
const float SrgbEncodeTable[256] = {
    0.0f, 0.00651309686f, 0.0122306962f, 0.0176821109f,
    0.0229675565f, 0.0281329192f, 0.033204563f, 0.03819957f,
    0.0431298986f, 0.0480043627f, 0.052829735f, 0.0576113649f,
    0.0623535812f, 0.0670599639f, 0.071733512f, 0.0763767883f,
    0.0809919909f, 0.0855810195f, 0.0901455656f, 0.0946870968f,
    0.0992069468f, 0.103706285f, 0.108186178f, 0.112647593f,
    0.11709141f, 0.121518411f, 0.125929341f, 0.13032487f,
    0.134705633f, 0.13907218f, 0.143425062f, 0.147764772f,
    0.152091756f, 0.156406477f, 0.160709336f, 0.165000692f,
    0.169280916f, 0.173550338f, 0.177809283f, 0.182058051f,
    0.18629694f, 0.190526187f, 0.194746077f, 0.198956832f,
    0.203158692f, 0.207351893f, 0.211536616f, 0.215713084f,
    0.219881475f, 0.224041983f, 0.228194788f, 0.232340038f,
    0.236477911f, 0.240608543f, 0.244732112f, 0.248848736f,
    0.252958566f, 0.25706172f, 0.261158347f, 0.265248537f,
    0.269332439f, 0.273410171f, 0.277481824f, 0.281547487f,
    0.285607308f, 0.289661378f, 0.293709755f, 0.297752589f,
    0.30178991f, 0.305821866f, 0.309848487f, 0.313869894f,
    0.317886144f, 0.321897358f, 0.325903565f, 0.329904824f,
    0.333901256f, 0.33789292f, 0.341879874f, 0.34586218f,
    0.349839896f, 0.353813112f, 0.357781857f, 0.361746192f,
    0.365706205f, 0.369661927f, 0.373613447f, 0.377560765f,
    0.381503969f, 0.385443091f, 0.38937819f, 0.393309325f,
    0.397236556f, 0.401159883f, 0.405079365f, 0.408995092f,
    0.412907034f, 0.416815311f, 0.420719892f, 0.424620867f,
    0.428518265f, 0.432412118f, 0.436302483f, 0.440189362f,
    0.444072843f, 0.447952896f, 0.451829612f, 0.45570299f,
    0.45957309f, 0.463439912f, 0.467303544f, 0.471163958f,
    0.475021213f, 0.478875339f, 0.482726365f, 0.486574352f,
    0.490419269f, 0.494261175f, 0.498100102f, 0.501936078f,
    0.505769134f, 0.509599268f, 0.513426483f, 0.517250896f,
    0.521072507f, 0.524891257f, 0.528707266f, 0.532520533f,
    0.536331058f, 0.5401389f, 0.543944001f, 0.54774648f,
    0.551546335f, 0.555343568f, 0.559138179f, 0.562930286f,
    0.56671977f, 0.570506752f, 0.57429117f, 0.578073144f,
    0.581852674f, 0.585629702f, 0.589404285f, 0.593176484f,
    0.596946299f, 0.60071367f, 0.604478717f, 0.608241439f,
    0.612001836f, 0.615759909f, 0.619515717f, 0.6232692f,
    0.627020419f, 0.630769432f, 0.634516239f, 0.638260782f,
    0.642003179f, 0.64574337f, 0.649481356f, 0.653217256f,
    0.65695101f, 0.660682619f, 0.664412141f, 0.668139517f,
    0.671864867f, 0.675588131f, 0.679309368f, 0.683028579f,
    0.686745703f, 0.690460861f, 0.694174051f, 0.697885215f,
    0.701594412f, 0.705301642f, 0.709006906f, 0.712710261f,
    0.71641171f, 0.720111251f, 0.723808885f, 0.727504611f,
    0.73119843f, 0.734890461f, 0.738580585f, 0.74226886f,
    0.745955348f, 0.749639988f, 0.75332278f, 0.757003844f,
    0.76068306f, 0.764360547f, 0.768036246f, 0.771710157f,
    0.77538234f, 0.779052794f, 0.782721519f, 0.786388516f,
    0.790053844f, 0.793717444f, 0.797379315f, 0.801039577f,
    0.80469811f, 0.808354974f, 0.812010229f, 0.815663815f,
    0.819315791f, 0.822966099f, 0.826614797f, 0.830261886f,
    0.833907425f, 0.837551296f, 0.841193616f, 0.844834387f,
    0.848473549f, 0.852111161f, 0.855747223f, 0.859381735f,
    0.863014758f, 0.866646171f, 0.870276153f, 0.873904526f,
    0.877531469f, 0.881156862f, 0.884780824f, 0.888403237f,
    0.892024219f, 0.895643711f, 0.899261713f, 0.902878284f,
    0.906493425f, 0.910107136f, 0.913719356f, 0.917330205f,
    0.920939624f, 0.924547613f, 0.928154171f, 0.931759357f,
    0.935363173f, 0.938965559f, 0.942566574f, 0.946166217f,
    0.94976449f, 0.953361392f, 0.956956983f, 0.960551143f,
    0.964144051f, 0.967735529f, 0.971325755f, 0.97491461f,
    0.978502154f, 0.982088387f, 0.985673308f, 0.989256918f,
    0.992839217f, 0.996420264f, 1.0f, 1.0f,
};

// (i / 254) ^ 1.1.
const float SrgbDecodeTable[256] = {
    0.0f, 0.00226299139f, 0.00485082855f, 0.00757733174f,
    0.0103979781f, 0.0132907629f, 0.0162423663f, 0.0192437973f,
    0.0222885534f, 0.0253717061f, 0.0284893736f, 0.0316384248f,
    0.0348162726f, 0.0380207412f, 0.0412499793f, 0.044502385f,
    0.0477765612f, 0.0510712788f, 0.0543854423f, 0.0577180795f,
    0.0610683113f, 0.0644353405f, 0.0678184479f, 0.0712169781f,
    0.0746303126f, 0.0780579075f, 0.0814992487f, 0.0849538445f,
    0.0884212703f, 0.0919011012f, 0.0953929499f, 0.0988964662f,
    0.1024113f, 0.105937138f, 0.109473683f, 0.113020636f,
    0.116577752f, 0.120144755f, 0.123721413f, 0.127307504f,
    0.130902797f, 0.13450709f, 0.138120174f, 0.141741887f,
    0.145372033f, 0.149010435f, 0.152656928f, 0.156311363f,
    0.159973577f, 0.163643435f, 0.167320788f, 0.171005517f,
    0.174697459f, 0.178396523f, 0.182102561f, 0.185815468f,
    0.189535141f, 0.193261459f, 0.19699432f, 0.200733617f,
    0.204479277f, 0.208231166f, 0.211989224f, 0.215753332f,
    0.21952343f, 0.223299429f, 0.227081224f, 0.230868772f,
    0.234661967f, 0.238460749f, 0.242265046f, 0.246074781f,
    0.24988988f, 0.25371027f, 0.257535905f, 0.261366725f,
    0.265202641f, 0.269043624f, 0.272889584f, 0.276740491f,
    0.280596286f, 0.284456879f, 0.28832224f, 0.29219234f,
    0.296067089f, 0.299946457f, 0.303830385f, 0.307718843f,
    0.311611772f, 0.315509111f, 0.319410861f, 0.323316932f,
    0.327227294f, 0.331141919f, 0.335060745f, 0.338983744f,
    0.342910886f, 0.34684211f, 0.350777388f, 0.354716688f,
    0.358659983f, 0.362607211f, 0.366558343f, 0.37051335f,
    0.374472201f, 0.378434867f, 0.382401317f, 0.386371493f,
    0.390345365f, 0.394322962f, 0.398304194f, 0.402289033f,
    0.406277478f, 0.410269469f, 0.414265007f, 0.418264061f,
    0.422266573f, 0.426272541f, 0.430281937f, 0.43429473f,
    0.438310921f, 0.44233042f, 0.446353287f, 0.450379431f,
    0.454408824f, 0.458441496f, 0.462477386f, 0.466516495f,
    0.470558763f, 0.474604219f, 0.478652805f, 0.48270449f,
    0.486759275f, 0.49081713f, 0.494878054f, 0.498941988f,
    0.503008962f, 0.507078886f, 0.511151791f, 0.515227675f,
    0.519306481f, 0.523388207f, 0.527472854f, 0.531560302f,
    0.535650671f, 0.539743841f, 0.543839872f, 0.547938704f,
    0.552040339f, 0.556144714f, 0.560251832f, 0.564361751f,
    0.568474352f, 0.572589636f, 0.576707661f, 0.580828309f,
    0.584951639f, 0.589077652f, 0.593206227f, 0.597337484f,
    0.601471305f, 0.605607688f, 0.609746635f, 0.613888204f,
    0.618032277f, 0.622178853f, 0.626327991f, 0.630479574f,
    0.63463366f, 0.63879025f, 0.642949283f, 0.64711076f,
    0.651274681f, 0.655441046f, 0.659609795f, 0.663780928f,
    0.667954445f, 0.672130346f, 0.676308632f, 0.680489242f,
    0.684672177f, 0.688857436f, 0.69304502f, 0.697234869f,
    0.701427042f, 0.705621541f, 0.709818244f, 0.714017212f,
    0.718218446f, 0.722421885f, 0.726627588f, 0.730835497f,
    0.735045552f, 0.739257872f, 0.743472338f, 0.747689009f,
    0.751907825f, 0.756128788f, 0.760351896f, 0.764577091f,
    0.768804491f, 0.773033977f, 0.777265549f, 0.781499207f,
    0.785735011f, 0.789972842f, 0.794212759f, 0.798454702f,
    0.802698731f, 0.806944788f, 0.81119287f, 0.815442979f,
    0.819695115f, 0.823949277f, 0.828205407f, 0.832463503f,
    0.836723626f, 0.840985715f, 0.845249772f, 0.849515736f,
    0.853783727f, 0.858053565f, 0.86232543f, 0.866599143f,
    0.870874822f, 0.875152409f, 0.879431844f, 0.883713245f,
    0.887996495f, 0.892281592f, 0.896568596f, 0.900857508f,
    0.905148208f, 0.909440756f, 0.913735211f, 0.918031454f,
    0.922329545f, 0.926629424f, 0.930931151f, 0.935234666f,
    0.939540029f, 0.94384712f, 0.948156059f, 0.952466726f,
    0.956779182f, 0.961093426f, 0.965409398f, 0.969727159f,
    0.974046648f, 0.978367925f, 0.982690871f, 0.987015545f,
    0.991342008f, 0.99567014f, 1.0f, 1.0f,
};

namespace {

constexpr float kInv255 = 1.0f / 255.0f;

inline float ClampTo(float x, float lo, float hi) {
    // Below lo gives lo; not below hi (NaN too) gives hi.
    return x < lo ? lo : (x < hi ? x : hi);
}

inline float ToUnsigned(float x) { return (x + 1.0f) * 0.5f; }
inline float ToSigned(float x) { return x * 2.0f - 1.0f; }

// The table position for t in 0..254 (values outside, NaN included, are
// held at the ends) and the interpolation between entries i and i + 1.
inline float Interpolate(const float* table, float t) {
    if (!(t > 0.0f)) t = 0.0f;
    if (t > 254.0f) t = 254.0f;
    const int i = static_cast<int>(t);
    return table[i] + (table[i + 1] - table[i]) * (t - static_cast<float>(i));
}

inline float SquareRoot(float x) { return x * ApproxInvSqrt(x); }

inline float EncodeOne(float x, bool both) {
    if (both) return SquareRoot(x);
    return Interpolate(SrgbEncodeTable, 254.0f * SquareRoot(x));
}

inline float DecodeOne(float x, bool both) {
    if (both) return x * x;
    return Interpolate(SrgbDecodeTable, static_cast<float>(254.0 * x * x));
}

}  // namespace

ColorF ConvertPixelRange(const ColorF& p, ValueRange own, ValueRange from) {
    if (own == from) return p;
    switch (own) {
    case RangeUnsigned:
        switch (from) {
        case RangeSignedRgb: return {ToUnsigned(p.r), ToUnsigned(p.g), ToUnsigned(p.b), p.a};
        case RangeSigned:
            return {ToUnsigned(p.r), ToUnsigned(p.g), ToUnsigned(p.b), ToUnsigned(p.a)};
        case RangeFloat:
            return {ClampTo(p.r, 0, 1), ClampTo(p.g, 0, 1), ClampTo(p.b, 0, 1), ClampTo(p.a, 0, 1)};
        default: return p;
        }
    case RangeSignedRgb:
        switch (from) {
        case RangeUnsigned: return {ToSigned(p.r), ToSigned(p.g), ToSigned(p.b), p.a};
        case RangeSigned: return {p.r, p.g, p.b, ToUnsigned(p.a)};
        case RangeFloat:
            return {ClampTo(p.r, -1, 1), ClampTo(p.g, -1, 1), ClampTo(p.b, -1, 1), ClampTo(p.a, 0, 1)};
        default: return p;
        }
    case RangeSigned:
        switch (from) {
        case RangeUnsigned: return {ToSigned(p.r), ToSigned(p.g), ToSigned(p.b), ToSigned(p.a)};
        case RangeSignedRgb: return {p.r, p.g, p.b, ToSigned(p.a)};
        case RangeFloat:
            return {ClampTo(p.r, -1, 1), ClampTo(p.g, -1, 1), ClampTo(p.b, -1, 1), ClampTo(p.a, -1, 1)};
        default: return p;
        }
    default:
        // A float codec takes rows as they come.
        return p;
    }
}

PixelCodec::PixelCodec(const BlitRegion& region, uint32_t bitsPerPixel, ValueRange range)
    : format(region.format),
      valueRange(range),
      byteAddressable(bitsPerPixel != 0),
      srgb(region.srgb),
      bothSrgb(0),
      colorKey(region.colorKey),
      paletted(region.format == D3DFMT_P8 || region.format == D3DFMT_A8P8),
      bits(static_cast<uint8_t*>(region.bits)),
      keyColor{0, 0, 0, 0},
      ditherTable(region.dither ? OrderedThresholds : PlainThresholds),
      palette(nullptr),
      box(region.box),
      convertFrom(0),
      scratchRow(nullptr),
      errorRow(nullptr),
      rowPitch(region.rowPitch),
      slicePitch(region.slicePitch),
      width(region.box.right - region.box.left),
      height(region.box.bottom - region.box.top),
      depth(region.box.back - region.box.front),
      rowBytes(0),
      bytesPerPixel(bitsPerPixel / 8) {
    if (colorKey != 0) {
        keyColor.r = static_cast<float>((colorKey >> 16) & 0xFF) * kInv255;
        keyColor.g = static_cast<float>((colorKey >> 8) & 0xFF) * kInv255;
        keyColor.b = static_cast<float>(colorKey & 0xFF) * kInv255;
        keyColor.a = static_cast<float>(colorKey >> 24) * kInv255;
    }
    // Signed rows carry no sRGB, except the luminance that L6V5U5 keeps in a.
    if (valueRange == RangeSigned || (valueRange == RangeSignedRgb && format != D3DFMT_L6V5U5))
        srgb = 0;
    rowBytes = width * bytesPerPixel;
    if (byteAddressable) {
        bits += static_cast<size_t>(box.left) * bytesPerPixel +
                static_cast<size_t>(box.top) * rowPitch +
                static_cast<size_t>(box.front) * slicePitch;
        box = ImageBox{0, 0, width, height, 0, depth};
    }
    if (region.diffuse) {
        // Without the memory the codec simply works without error diffusion.
        errorRow = static_cast<ColorF*>(AllocateArray(size_t{width} + 2, sizeof(ColorF)));
        if (errorRow) std::memset(errorRow, 0, (size_t{width} + 2) * sizeof(ColorF));
    }
}

PixelCodec::~PixelCodec() {
    Free(palette);
    Free(scratchRow);
    Free(errorRow);
}

HRESULT PixelCodec::ReadRow(uint32_t, uint32_t, ColorF*) { return S_OK; }
HRESULT PixelCodec::WriteRow(uint32_t, uint32_t, ColorF*) { return S_OK; }

void PixelCodec::PrepareColorKey() {
    uint8_t* const savedBits = bits;
    const float* const savedDither = ditherTable;
    const uint32_t savedKey = colorKey, savedWidth = width, savedRowBytes = rowBytes;
    // The round trip leaves out sRGB (the key is matched before decoding),
    // any range conversion set up later, and the error row, which it must
    // not leave traces in.
    const uint32_t savedSrgb = srgb, savedConvertFrom = convertFrom;
    ColorF* const savedErrorRow = errorRow;

    alignas(16) uint8_t pixel[16] = {};
    colorKey = 0;
    rowBytes = bytesPerPixel;
    bits = pixel;
    width = 1;
    ditherTable = PlainThresholds;
    srgb = 0;
    convertFrom = 0;
    errorRow = nullptr;

    if (valueRange != RangeUnsigned && valueRange != RangeFloat)
        keyColor = ConvertPixelRange(keyColor, valueRange, RangeUnsigned);
    WriteRow(0, 0, &keyColor);
    ReadRow(0, 0, &keyColor);

    bits = savedBits;
    ditherTable = savedDither;
    colorKey = savedKey;
    width = savedWidth;
    rowBytes = savedRowBytes;
    srgb = savedSrgb;
    convertFrom = savedConvertFrom;
    errorRow = savedErrorRow;
}

ColorF* PixelCodec::ConvertRange(ColorF* row) {
    if (convertFrom == 0) return row;
    ColorF* out = scratchRow ? scratchRow : row;
    const ValueRange from = static_cast<ValueRange>(convertFrom);
    for (uint32_t x = 0; x < width; ++x) out[x] = ConvertPixelRange(row[x], valueRange, from);
    return out;
}

ColorF* PixelCodec::EncodeSrgb(ColorF* row) {
    ColorF* out = scratchRow ? scratchRow : row;
    const bool both = bothSrgb != 0;
    if (valueRange == RangeUnsigned || valueRange == RangeFloat) {
        for (uint32_t x = 0; x < width; ++x) {
            const ColorF p = row[x];
            out[x] = {EncodeOne(p.r, both), EncodeOne(p.g, both), EncodeOne(p.b, both), p.a};
        }
    } else {
        for (uint32_t x = 0; x < width; ++x) {
            const ColorF p = row[x];
            out[x] = {p.r, p.g, p.b, EncodeOne(p.a, both)};
        }
    }
    return out;
}

void PixelCodec::DecodeSrgb(ColorF* row) {
    const bool both = bothSrgb != 0;
    if (valueRange == RangeUnsigned || valueRange == RangeFloat) {
        for (uint32_t x = 0; x < width; ++x) {
            row[x].r = DecodeOne(row[x].r, both);
            row[x].g = DecodeOne(row[x].g, both);
            row[x].b = DecodeOne(row[x].b, both);
        }
    } else {
        for (uint32_t x = 0; x < width; ++x) row[x].a = DecodeOne(row[x].a, both);
    }
}

void PixelCodec::ApplyColorKey(ColorF* row) {
    const ColorF k = keyColor;
    for (uint32_t x = 0; x < width; ++x) {
        const ColorF p = row[x];
        if (p.r == k.r && p.g == k.g && p.b == k.b && p.a == k.a) row[x] = {0, 0, 0, 0};
    }
}

void PixelCodec::AddDiffusedError(ColorF* row) {
    if (!errorRow) return;
    for (uint32_t x = 0; x < width; ++x) {
        const ColorF e = errorRow[x + 1];
        row[x].r += e.r;
        row[x].g += e.g;
        row[x].b += e.b;
        row[x].a += e.a;
    }
    std::memset(errorRow, 0, (size_t{width} + 2) * sizeof(ColorF));
}

HRESULT PixelCodec::ExpandPalette(const BlitRegion& region) {
    if (!palette) {
        palette = static_cast<ColorF*>(AllocateArray(256, sizeof(ColorF)));
        if (!palette) return E_OUTOFMEMORY;
    }
    for (int i = 0; i < 256; ++i) {
        if (region.palette) {
            const PALETTEENTRY& e = region.palette[i];
            palette[i] = {e.peRed / 255.0f, e.peGreen / 255.0f, e.peBlue / 255.0f, e.peFlags / 255.0f};
        } else {
            palette[i] = {1.0f, 1.0f, 1.0f, 1.0f};
        }
    }
    return S_OK;
}

namespace {

PixelCodec* NewCodecFor(const BlitRegion& region) {
    if (PixelCodec* c = CreatePackedCodec(region)) return c;
    if (PixelCodec* c = CreateLuminanceCodec(region)) return c;
    if (PixelCodec* c = CreatePaletteCodec(region)) return c;
    if (PixelCodec* c = CreateSignedCodec(region)) return c;
    if (PixelCodec* c = CreateFloatCodec(region)) return c;
    if (PixelCodec* c = CreatePackedPairCodec(region)) return c;
    if (PixelCodec* c = CreateDxtCodec(region)) return c;
    return nullptr;
}

}  // namespace

PixelCodec* CreatePixelCodec(const BlitRegion& region) {
    // A box turned inside out has no pixels to address.
    const ImageBox& b = region.box;
    if (b.right < b.left || b.bottom < b.top || b.back < b.front) return nullptr;
    PixelCodec* codec = NewCodecFor(region);
    if (!codec) return nullptr;
    if (codec->paletted && FAILED(codec->ExpandPalette(region))) {
        Delete(codec);
        return nullptr;
    }
    if (codec->colorKey != 0) codec->PrepareColorKey();
    return codec;
}

}  // namespace z3az
