#include "image/image_layer.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include "platform/heap.h"

namespace z3az {
namespace {

// Bytes the C heap has handed out and not yet taken back. Under
// AddressSanitizer the allocator is replaced and the leak checker does this
// job instead.
size_t HeapInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapObservable = false;
#else
constexpr bool kHeapObservable = true;
#endif
constexpr size_t kSlack = 16384;

TEST(ImageLayer, ConstructionIsEmpty) {
    ImageLayer layer;
    EXPECT_EQ(layer.format, 0u);
    EXPECT_EQ(layer.bits, nullptr);
    EXPECT_EQ(layer.palette, nullptr);
    EXPECT_EQ(layer.ownsBits, 0u);
    EXPECT_EQ(layer.ownsPalette, 0u);
    EXPECT_EQ(layer.nextLevel, nullptr);
    EXPECT_EQ(layer.nextFace, nullptr);
}

ImageLayer* OwningLayer(size_t bytes) {
    ImageLayer* layer = New<ImageLayer>();
    layer->bits = Allocate(bytes);
    layer->ownsBits = 1;
    layer->palette = static_cast<PALETTEENTRY*>(AllocateArray(256, sizeof(PALETTEENTRY)));
    layer->ownsPalette = 1;
    return layer;
}

TEST(ImageLayer, DestructionFreesTheWholeChain) {
    const size_t before = HeapInUse();
    {
        // Two faces of three levels each, every layer owning pixels and palette.
        ImageLayer* first = OwningLayer(100000);
        ImageLayer* face = first;
        for (int f = 0; f < 2; ++f) {
            ImageLayer* level = face;
            for (int l = 1; l < 3; ++l) {
                level->nextLevel = OwningLayer(100000 >> l);
                level = level->nextLevel;
            }
            if (f == 0) {
                face->nextFace = OwningLayer(100000);
                face = face->nextFace;
            }
        }
        if (kHeapObservable) {
            EXPECT_GT(HeapInUse(), before + 6 * 25000);
        }
        Delete(first);
    }
    // The test framework's own bookkeeping may hold a few KiB; every block
    // of the chain is larger than the slack.
    if (kHeapObservable) {
        EXPECT_LT(HeapInUse(), before + kSlack);
    }
}

TEST(ImageLayer, MemoryNotOwnedIsLeftAlone) {
    uint8_t pixels[64];
    PALETTEENTRY palette[256] = {};
    {
        ImageLayer layer;
        layer.bits = pixels;  // freeing either aborts the test (or is reported by ASan)
        layer.palette = palette;
    }
    // The owned block is freed while the borrowed palette stays untouched.
    const size_t before = HeapInUse();
    {
        ImageLayer layer;
        layer.bits = Allocate(100000);
        layer.ownsBits = 1;
        layer.palette = palette;
    }
    if (kHeapObservable) {
        EXPECT_LT(HeapInUse(), before + kSlack);
    }
}

}  // namespace
}  // namespace z3az
