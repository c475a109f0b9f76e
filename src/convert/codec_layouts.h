// Shorthand for the layout tables of the packed codecs.
#pragma once

#include "convert/codec_packing.h"

namespace z3az {

constexpr Field UnsignedField(uint8_t channel, uint8_t shift, uint8_t bits) {
    return Field{channel, shift, bits, false};
}
constexpr Field SignedField(uint8_t channel, uint8_t shift, uint8_t bits) {
    return Field{channel, shift, bits, true};
}

}  // namespace z3az

// A layout: bits per pixel, value range, whether the first field holds the
// luminance, the values of the channels no field stores, then the fields
// from the lowest bit up.
#define Z3AZ_LAYOUT(NAME, BITS, RANGE, LUMINANCE, FILL_R, FILL_G, FILL_B, FILL_A, ...) \
    struct Layout##NAME {                                                               \
        static constexpr uint32_t kBits = BITS;                                         \
        static constexpr ValueRange kRange = RANGE;                                     \
        static constexpr bool kLuminance = LUMINANCE;                                   \
        static constexpr ColorF kFill = {FILL_R, FILL_G, FILL_B, FILL_A};              \
        static constexpr Field kFields[] = {__VA_ARGS__};                               \
    };                                                                                  \
    class Codec##NAME final : public PackedCodec<Layout##NAME> {                        \
    public:                                                                             \
        using PackedCodec::PackedCodec;                                                 \
    }
