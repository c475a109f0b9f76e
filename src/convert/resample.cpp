// The point, linear and triangle filters. Every path streams the source row
// by row through the codecs, works in 32-bit floats in the source codec's
// value range, and lets the destination codec convert when it writes.
#include "convert/resample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "convert/conversion.h"
#include "convert/pixel_codec.h"
#include "platform/heap.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace z3az {
namespace {

uint32_t FilterKind(uint32_t filter) { return filter & 0xFF; }

// A block of `count` T from the library heap, freed on every way out.
template <class T>
class HeapArray {
public:
    HeapArray() = default;
    explicit HeapArray(size_t count) : p_(static_cast<T*>(AllocateArray(count, sizeof(T)))) {}
    ~HeapArray() { Free(p_); }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;

    void Reset(T* p) {
        Free(p_);
        p_ = p;
    }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T& operator[](size_t i) const { return p_[i]; }

private:
    T* p_ = nullptr;
};

void ZeroColors(ColorF* row, size_t count) {
    if (count) std::memset(row, 0, count * sizeof(ColorF));
}

void ClearSharedSrgb(PixelCodec& destination, PixelCodec& source) {
    if (destination.srgb && source.srgb) {
        destination.srgb = 0;
        source.srgb = 0;
    }
}

inline ColorF Mix2(const ColorF& p, float wp, const ColorF& q, float wq) {
    return ColorF{wp * p.r + wq * q.r, wp * p.g + wq * q.g, wp * p.b + wq * q.b,
                  wp * p.a + wq * q.a};
}

inline void AddScaled(ColorF& acc, const ColorF& v, float w) {
    acc.r += v.r * w;
    acc.g += v.g * w;
    acc.b += v.b * w;
    acc.a += v.a * w;
}

// The x table turned round: for every destination
// column the (source column, weight) pairs that reach it, in increasing
// source order. Summing per destination column keeps the running sum in a
// register; the additions happen in the same order as a walk over the
// source columns would make them, so the sums are the same.
class ColumnGather {
public:
    ~ColumnGather() {
        Free(starts_);
        Free(pairs_);
    }

    HRESULT Build(const TriangleWeightTable& xTable, uint32_t sourceWidth,
                  uint32_t destinationWidth) {
        starts_ = static_cast<uint32_t*>(AllocateArray(size_t(destinationWidth) + 1, 4));
        if (!starts_) return E_OUTOFMEMORY;
        std::memset(starts_, 0, (size_t(destinationWidth) + 1) * 4);
        size_t total = 0;
        const TriangleRecord* record = xTable.First();
        for (uint32_t x = 0; x < sourceWidth; ++x, record = record->Next()) {
            const TrianglePair* pair = record->Pairs();
            for (uint32_t k = 0, n = record->Count(); k < n; ++k) ++starts_[pair[k].index + 1];
            total += record->Count();
        }
        pairs_ = static_cast<TrianglePair*>(AllocateArray(total, sizeof(TrianglePair)));
        if (!pairs_) return E_OUTOFMEMORY;
        for (uint32_t c = 0; c < destinationWidth; ++c) starts_[c + 1] += starts_[c];
        // Fill in source order, moving each column's start up as it fills,
        // then move the starts back.
        record = xTable.First();
        for (uint32_t x = 0; x < sourceWidth; ++x, record = record->Next()) {
            const TrianglePair* pair = record->Pairs();
            for (uint32_t k = 0, n = record->Count(); k < n; ++k)
                pairs_[starts_[pair[k].index]++] = TrianglePair{int32_t(x), pair[k].weight};
        }
        for (uint32_t c = destinationWidth; c > 0; --c) starts_[c] = starts_[c - 1];
        starts_[0] = 0;
        width_ = destinationWidth;
        return S_OK;
    }

    // Adds one source row into one destination row: every source value
    // times (wx times w) into each column it reaches, in increasing source
    // order, the running sum kept in a register.
    void AddRow(const ColorF* source, ColorF* out, float w) const {
        for (uint32_t c = 0; c < width_; ++c) {
            ColorF sum = out[c];
            for (uint32_t k = starts_[c], end = starts_[c + 1]; k < end; ++k)
                AddScaled(sum, source[pairs_[k].index], pairs_[k].weight * w);
            out[c] = sum;
        }
    }

    // The same with the weight (wx times wz) times wy of a volume.
    void AddRow(const ColorF* source, ColorF* out, float wz, float wy) const {
        for (uint32_t c = 0; c < width_; ++c) {
            ColorF sum = out[c];
            for (uint32_t k = starts_[c], end = starts_[c + 1]; k < end; ++k)
                AddScaled(sum, source[pairs_[k].index], pairs_[k].weight * wz * wy);
            out[c] = sum;
        }
    }

private:
    uint32_t* starts_ = nullptr;
    TrianglePair* pairs_ = nullptr;
    uint32_t width_ = 0;
};

// True when a record names some destination index more than once, which
// only a wrapping axis whose tents reach round the whole axis does. `marks`
// holds one zeroed byte per destination index and is left zeroed.
bool NamesAnIndexTwice(const TriangleRecord& record, uint8_t* marks) {
    const TrianglePair* pair = record.Pairs();
    const uint32_t n = record.Count();
    bool twice = false;
    for (uint32_t k = 0; k < n; ++k) {
        twice = twice || marks[pair[k].index] != 0;
        marks[pair[k].index] = 1;
    }
    for (uint32_t k = 0; k < n; ++k) marks[pair[k].index] = 0;
    return twice;
}

// Pairs below this weight are dropped: they cost time and add nothing
// visible. For reductions so strong that even a whole source tent weighs
// less (more than 50000 source pixels per destination pixel), the bound
// follows the tent's weight down, so that no destination pixel is left
// without contributions.
float DropThreshold(float scale) { return std::min(0.00001f, scale * 0.5f); }

// The destination accumulators of the triangle paths: one per destination
// row (2D) or slice (3D). Completed accumulators hand their buffer on
// through the released list, so only rows still being summed hold memory.
struct Accumulator {
    ColorF* values = nullptr;
    Accumulator* next = nullptr;
    uint32_t pending = 0;
};

class AccumulatorSet {
public:
    AccumulatorSet(uint32_t count, size_t valuesPerEntry)
        : entries_(static_cast<Accumulator*>(AllocateArray(count, sizeof(Accumulator)))),
          count_(count),
          valuesPerEntry_(valuesPerEntry) {
        if (entries_)
            for (uint32_t i = 0; i < count_; ++i) ::new (&entries_[i]) Accumulator();
    }
    // Every buffer belongs to exactly one entry, active or released.
    ~AccumulatorSet() {
        if (entries_)
            for (uint32_t i = 0; i < count_; ++i) Free(entries_[i].values);
        Free(entries_);
    }
    AccumulatorSet(const AccumulatorSet&) = delete;
    AccumulatorSet& operator=(const AccumulatorSet&) = delete;

    explicit operator bool() const { return entries_ != nullptr; }
    Accumulator& operator[](uint32_t i) { return entries_[i]; }

    // Counts the pairs of every record as contributions still to come.
    // False when some destination entry would receive nothing.
    bool CountPending(const TriangleWeightTable& table, uint32_t sourceCount) {
        const TriangleRecord* record = table.First();
        for (uint32_t j = 0; j < sourceCount; ++j, record = record->Next()) {
            const TrianglePair* pair = record->Pairs();
            for (uint32_t k = 0, n = record->Count(); k < n; ++k) ++entries_[pair[k].index].pending;
        }
        for (uint32_t i = 0; i < count_; ++i)
            if (entries_[i].pending == 0) return false;
        return true;
    }

    // Gives every entry the record names a zeroed buffer.
    HRESULT Activate(const TriangleRecord& record) {
        const TrianglePair* pair = record.Pairs();
        for (uint32_t k = 0, n = record.Count(); k < n; ++k) {
            Accumulator& a = entries_[pair[k].index];
            if (a.values) continue;
            if (released_) {
                Accumulator* donor = released_;
                released_ = donor->next;
                a.values = donor->values;
                donor->values = nullptr;
                donor->next = nullptr;
            } else {
                a.values = static_cast<ColorF*>(AllocateArray(valuesPerEntry_, sizeof(ColorF)));
                if (!a.values) return E_OUTOFMEMORY;
            }
            ZeroColors(a.values, valuesPerEntry_);
        }
        return S_OK;
    }

    // Puts a completed entry at the head of the released list.
    void Release(Accumulator& a) {
        a.next = released_;
        released_ = &a;
    }

private:
    Accumulator* entries_;
    uint32_t count_;
    size_t valuesPerEntry_;
    Accumulator* released_ = nullptr;
};

// Owns a weight table until the path ends.
struct TableHolder {
    TriangleWeightTable* table = nullptr;
    ~TableHolder() { Free(table); }
};

}  // namespace

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

PointAxis MakePointAxis(uint32_t sourceCount, uint32_t destinationCount) {
    if (destinationCount == 0) return PointAxis{0, 16};
    if (sourceCount < 0x10000u && destinationCount < 0x10000u)
        return PointAxis{(static_cast<uint64_t>(sourceCount) << 16) / destinationCount, 16};
    // (d - 1) * ((s << 32) / d) < s << 32 fits 64 bits for every 32-bit s, d.
    return PointAxis{(static_cast<uint64_t>(sourceCount) << 32) / destinationCount, 32};
}

LinearTap* BuildLinearTaps(uint32_t sourceCount, uint32_t destinationCount, bool wrap) {
    if (sourceCount == 0 || destinationCount == 0) return nullptr;
    LinearTap* taps = static_cast<LinearTap*>(AllocateArray(destinationCount, sizeof(LinearTap)));
    if (!taps) return nullptr;
    const float scale = static_cast<float>(sourceCount) / static_cast<float>(destinationCount);
    const int64_t s = sourceCount;
    for (uint32_t i = 0; i < destinationCount; ++i) {
        const float p = (static_cast<float>(i) + 0.5f) * scale + 0.5f;
        const int64_t m = static_cast<int64_t>(p);
        const float weight0 = static_cast<float>(m + 1) - p;
        int64_t index0 = m - 1;
        int64_t index1 = m;
        // Float rounding of very large extents could push either index past
        // the far edge as well; both are brought back inside the source.
        if (index0 < 0) index0 = wrap ? s - 1 : 0;
        if (index0 >= s) index0 = wrap ? 0 : s - 1;
        if (index1 >= s) index1 = wrap ? 0 : s - 1;
        taps[i] = LinearTap{static_cast<int32_t>(index0), weight0, static_cast<int32_t>(index1),
                            1.0f - weight0};
    }
    return taps;
}

TriangleWeightTable* BuildTriangleWeights(uint32_t sourceCount, uint32_t destinationCount,
                                          bool wrap) {
    if (sourceCount == 0 || destinationCount == 0) return nullptr;
    const float scale = static_cast<float>(destinationCount) / static_cast<float>(sourceCount);
    const float half = 0.5f / scale;
    const float threshold = DropThreshold(scale);
    const float src = static_cast<float>(sourceCount);
    const float dst = static_cast<float>(destinationCount);
    const int64_t d = destinationCount;

    // Room for every pair a source sample can produce.
    const uint64_t pairsBound = static_cast<uint64_t>(std::floor(scale + (wrap ? 1.0 : 0.0) + 1.0));
    const uint64_t capacity = 16 + static_cast<uint64_t>(sourceCount) * (12 + 16 * pairsBound);
    if (capacity > 0xFFFFFFFFull || capacity > SIZE_MAX) return nullptr;
    uint8_t* block = static_cast<uint8_t*>(Allocate(static_cast<size_t>(capacity)));
    if (!block) return nullptr;

    size_t used = sizeof(uint32_t);
    bool overflow = false;
    auto append = [&](int32_t index, float weight) {
        if (used + sizeof(TrianglePair) > capacity) {
            overflow = true;
            return;
        }
        TrianglePair pair{index, weight};
        std::memcpy(block + used, &pair, sizeof pair);
        used += sizeof pair;
    };

    int32_t current = 0;
    float sum = 0.0f;
    for (uint32_t j = 0; j < sourceCount && !overflow; ++j) {
        const size_t recordStart = used;
        used += sizeof(uint32_t);
        if (used > capacity) {
            overflow = true;
            break;
        }
        for (int h = 0; h < 2; ++h) {
            const float e = static_cast<float>(j) - 0.5f + static_cast<float>(h);
            float g = e * scale;
            float o = g + scale;
            if (!wrap) {
                if (g < 0.0f) g = 0.0f;
                if (o > dst) o = dst;
            }
            for (int64_t t = static_cast<int64_t>(std::floor(g)); static_cast<float>(t) < o; ++t) {
                // Only the wrapping case leaves 0..D-1; it wraps once at most,
                // the modulo keeps the index inside even if rounding did not.
                const int32_t u = static_cast<int32_t>(((t % d) + d) % d);
                if (u != current) {
                    if (sum > threshold) append(current, sum);
                    sum = 0.0f;
                    current = u;
                }
                const float tf = static_cast<float>(t);
                const float v = std::max(g, tf);
                const float n = std::min(tf + 1.0f, o);
                float a = (v + n) * half - e;
                if (!wrap) {
                    if (e < 0.0f)
                        a = 1.0f;
                    else if (e + 1.0f >= src)
                        a = 0.0f;
                }
                const float value = h == 0 ? a : 1.0f - a;
                sum += (n - v) * value;
            }
        }
        if (sum > threshold) append(current, sum);
        sum = 0.0f;
        const uint32_t recordBytes = static_cast<uint32_t>(used - recordStart);
        std::memcpy(block + recordStart, &recordBytes, sizeof recordBytes);
    }
    if (overflow) {
        Free(block);
        return nullptr;
    }
    const uint32_t total = static_cast<uint32_t>(used);
    std::memcpy(block, &total, sizeof total);
    return reinterpret_cast<TriangleWeightTable*>(block);
}

void ClampToRange(ColorF* values, size_t count, ValueRange range) {
    float lo;
    float alphaLo;
    switch (range) {
        case RangeUnsigned:
            lo = 0.0f;
            alphaLo = 0.0f;
            break;
        case RangeSignedRgb:
            lo = -1.0f;
            alphaLo = 0.0f;
            break;
        case RangeSigned:
            lo = -1.0f;
            alphaLo = -1.0f;
            break;
        default:
            return;
    }
    // Below the lower bound: the bound; not below 1 (a NaN too): 1.
#ifdef __SSE2__
    // minps gives its second operand when either is a NaN, so a NaN becomes
    // 1 before the lower bound is applied.
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 low = _mm_setr_ps(lo, lo, lo, alphaLo);
    float* p = &values[0].r;
    for (size_t i = 0; i < count; ++i, p += 4)
        _mm_storeu_ps(p, _mm_max_ps(_mm_min_ps(_mm_loadu_ps(p), one), low));
#else
    auto clamp = [](float x, float low) { return x < low ? low : (x < 1.0f ? x : 1.0f); };
    for (size_t i = 0; i < count; ++i) {
        ColorF& c = values[i];
        c.r = clamp(c.r, lo);
        c.g = clamp(c.g, lo);
        c.b = clamp(c.b, lo);
        c.a = clamp(c.a, alphaLo);
    }
#endif
}

// ---------------------------------------------------------------------------
// Point
// ---------------------------------------------------------------------------

HRESULT ScalePoint(ConversionJob& job) {
    if (FilterKind(job.filter) != FilterPoint) return E_FAIL;
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;

    HeapArray<ColorF> sourceRow(src.width);
    HeapArray<ColorF> destinationRow(dst.width);
    if (!sourceRow || !destinationRow) return E_OUTOFMEMORY;
    ClearSharedSrgb(dst, src);

    const PointAxis ax = MakePointAxis(src.width, dst.width);
    const PointAxis ay = MakePointAxis(src.height, dst.height);
    const PointAxis az = MakePointAxis(src.depth, dst.depth);

    uint64_t zPosition = 0;
    for (uint32_t z = 0; z < dst.depth; ++z, zPosition += az.step) {
        const uint32_t sz = static_cast<uint32_t>(zPosition >> az.shift);
        uint64_t yPosition = 0;
        uint64_t lastRow = UINT64_MAX;
        for (uint32_t y = 0; y < dst.height; ++y, yPosition += ay.step) {
            const uint64_t sy = yPosition >> ay.shift;
            if (sy != lastRow) {
                HRESULT hr = src.ReadRow(static_cast<uint32_t>(sy), sz, sourceRow.get());
                if (FAILED(hr)) return hr;
                lastRow = sy;
            }
            const ColorF* in = sourceRow.get();
            ColorF* out = destinationRow.get();
            uint64_t xPosition = 0;
            for (uint32_t x = 0; x < dst.width; ++x, xPosition += ax.step)
                out[x] = in[xPosition >> ax.shift];
            HRESULT hr = dst.WriteRow(y, z, out);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// Linear
// ---------------------------------------------------------------------------

namespace {

// One destination row from two bilinear source rows.
void LinearRow(const LinearTap* xTaps, uint32_t width, const ColorF* a, const ColorF* b,
               float wy0, float wy1, ColorF* out) {
    for (uint32_t x = 0; x < width; ++x) {
        const LinearTap& t = xTaps[x];
        const ColorF top = Mix2(a[t.index0], t.weight0, a[t.index1], t.weight1);
        const ColorF bottom = Mix2(b[t.index0], t.weight0, b[t.index1], t.weight1);
        out[x] = Mix2(top, wy0, bottom, wy1);
    }
}

}  // namespace

HRESULT ScaleLinear2D(ConversionJob& job) {
    if (FilterKind(job.filter) != FilterLinear) return E_FAIL;
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;
    if (src.depth != 1 || dst.depth != 1) return E_FAIL;

    HeapArray<LinearTap> xTaps;
    xTaps.Reset(BuildLinearTaps(src.width, dst.width, !(job.filter & FilterClampU)));
    HeapArray<LinearTap> yTaps;
    yTaps.Reset(BuildLinearTaps(src.height, dst.height, !(job.filter & FilterClampV)));
    HeapArray<ColorF> out(dst.width);
    HeapArray<ColorF> rowA(src.width);
    HeapArray<ColorF> rowB(src.width);
    if (!xTaps || !yTaps || !out || !rowA || !rowB) return E_OUTOFMEMORY;

    ColorF* a = rowA.get();
    ColorF* b = rowB.get();
    int64_t heldA = -1;
    int64_t heldB = -1;
    for (uint32_t y = 0; y < dst.height; ++y) {
        const LinearTap& ty = yTaps[y];
        HRESULT hr = S_OK;
        if (ty.index0 != heldA) {
            if (ty.index0 == heldB) {
                std::swap(a, b);
                heldA = heldB;
                heldB = -1;
            } else {
                hr = src.ReadRow(static_cast<uint32_t>(ty.index0), 0, a);
                if (FAILED(hr)) return hr;
                heldA = ty.index0;
            }
        }
        if (ty.index1 != heldB) {
            hr = src.ReadRow(static_cast<uint32_t>(ty.index1), 0, b);
            if (FAILED(hr)) return hr;
            heldB = ty.index1;
        }
        LinearRow(xTaps.get(), dst.width, a, b, ty.weight0, ty.weight1, out.get());
        hr = dst.WriteRow(y, 0, out.get());
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT ScaleLinear3D(ConversionJob& job) {
    if (FilterKind(job.filter) != FilterLinear) return E_FAIL;
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;

    HeapArray<LinearTap> xTaps;
    xTaps.Reset(BuildLinearTaps(src.width, dst.width, !(job.filter & FilterClampU)));
    HeapArray<LinearTap> yTaps;
    yTaps.Reset(BuildLinearTaps(src.height, dst.height, !(job.filter & FilterClampV)));
    HeapArray<LinearTap> zTaps;
    zTaps.Reset(BuildLinearTaps(src.depth, dst.depth, !(job.filter & FilterClampW)));
    HeapArray<ColorF> out(dst.width);
    HeapArray<ColorF> plane0(dst.width);
    HeapArray<ColorF> rows[4] = {HeapArray<ColorF>(src.width), HeapArray<ColorF>(src.width),
                                 HeapArray<ColorF>(src.width), HeapArray<ColorF>(src.width)};
    if (!xTaps || !yTaps || !zTaps || !out || !plane0 || !rows[0] || !rows[1] || !rows[2] ||
        !rows[3])
        return E_OUTOFMEMORY;

    // r00: (y0, z0), r01: (y0, z1), r10: (y1, z0), r11: (y1, z1).
    ColorF* r00 = rows[0].get();
    ColorF* r01 = rows[1].get();
    ColorF* r10 = rows[2].get();
    ColorF* r11 = rows[3].get();
    for (uint32_t z = 0; z < dst.depth; ++z) {
        const LinearTap& tz = zTaps[z];
        int64_t held0 = -1;
        int64_t held1 = -1;
        for (uint32_t y = 0; y < dst.height; ++y) {
            const LinearTap& ty = yTaps[y];
            HRESULT hr = S_OK;
            if (ty.index0 != held0) {
                if (ty.index0 == held1) {
                    std::swap(r00, r10);
                    std::swap(r01, r11);
                    held0 = held1;
                    held1 = -1;
                } else {
                    const uint32_t row = static_cast<uint32_t>(ty.index0);
                    hr = src.ReadRow(row, static_cast<uint32_t>(tz.index0), r00);
                    if (SUCCEEDED(hr)) hr = src.ReadRow(row, static_cast<uint32_t>(tz.index1), r01);
                    if (FAILED(hr)) return hr;
                    held0 = ty.index0;
                }
            }
            if (ty.index1 != held1) {
                const uint32_t row = static_cast<uint32_t>(ty.index1);
                hr = src.ReadRow(row, static_cast<uint32_t>(tz.index0), r10);
                if (SUCCEEDED(hr)) hr = src.ReadRow(row, static_cast<uint32_t>(tz.index1), r11);
                if (FAILED(hr)) return hr;
                held1 = ty.index1;
            }
            LinearRow(xTaps.get(), dst.width, r00, r10, ty.weight0, ty.weight1, plane0.get());
            LinearRow(xTaps.get(), dst.width, r01, r11, ty.weight0, ty.weight1, out.get());
            ColorF* o = out.get();
            const ColorF* p = plane0.get();
            for (uint32_t x = 0; x < dst.width; ++x) o[x] = Mix2(p[x], tz.weight0, o[x], tz.weight1);
            hr = dst.WriteRow(y, z, o);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// Triangle
// ---------------------------------------------------------------------------

// Each source value is added to every destination value it reaches with the
// weight wx times wy, in source order. Filtering a row along x first and
// weighting the result by wy would be the same sum in exact arithmetic, but
// rounds differently.
HRESULT ScaleTriangle2D(ConversionJob& job) {
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;
    if (src.depth != 1 || dst.depth != 1) return E_FAIL;

    TableHolder x;
    TableHolder y;
    x.table = BuildTriangleWeights(src.width, dst.width, !(job.filter & FilterClampU));
    y.table = BuildTriangleWeights(src.height, dst.height, !(job.filter & FilterClampV));
    if (!x.table || !y.table) return E_FAIL;

    AccumulatorSet rows(dst.height, dst.width);
    HeapArray<ColorF> sourceRow(src.width);
    HeapArray<uint8_t> marks(dst.height);
    if (!rows || !sourceRow || !marks) return E_OUTOFMEMORY;
    std::memset(marks.get(), 0, dst.height);
    ColumnGather columns;
    if (FAILED(columns.Build(*x.table, src.width, dst.width))) return E_OUTOFMEMORY;
    if (!rows.CountPending(*y.table, src.height)) return E_FAIL;

    const ValueRange range = src.valueRange;
    const TriangleRecord* record = y.table->First();
    for (uint32_t j = 0; j < src.height; ++j, record = record->Next()) {
        HRESULT hr = rows.Activate(*record);
        if (FAILED(hr)) return hr;
        hr = src.ReadRow(j, 0, sourceRow.get());
        if (FAILED(hr)) return hr;

        const TrianglePair* pair = record->Pairs();
        const uint32_t n = record->Count();
        if (!NamesAnIndexTwice(*record, marks.get())) {
            for (uint32_t k = 0; k < n; ++k)
                columns.AddRow(sourceRow.get(), rows[pair[k].index].values, pair[k].weight);
        } else {
            // A destination row named twice takes both contributions of a
            // source column before those of the next column.
            const TriangleRecord* xRecord = x.table->First();
            for (uint32_t i = 0; i < src.width; ++i, xRecord = xRecord->Next()) {
                const ColorF& v = sourceRow[i];
                const TrianglePair* xPair = xRecord->Pairs();
                const uint32_t xn = xRecord->Count();
                for (uint32_t k = 0; k < n; ++k) {
                    ColorF* acc = rows[pair[k].index].values;
                    for (uint32_t q = 0; q < xn; ++q)
                        AddScaled(acc[xPair[q].index], v, xPair[q].weight * pair[k].weight);
                }
            }
        }
        for (uint32_t k = 0; k < n; ++k) {
            const uint32_t r = static_cast<uint32_t>(pair[k].index);
            Accumulator& a = rows[r];
            if (--a.pending != 0) continue;
            ClampToRange(a.values, dst.width, range);
            hr = dst.WriteRow(r, 0, a.values);
            if (FAILED(hr)) return hr;
            rows.Release(a);
        }
    }
    return S_OK;
}

HRESULT ScaleTriangle3D(ConversionJob& job) {
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;

    TableHolder x;
    TableHolder y;
    TableHolder z;
    x.table = BuildTriangleWeights(src.width, dst.width, !(job.filter & FilterClampU));
    y.table = BuildTriangleWeights(src.height, dst.height, !(job.filter & FilterClampV));
    z.table = BuildTriangleWeights(src.depth, dst.depth, !(job.filter & FilterClampW));
    if (!x.table || !y.table || !z.table) return E_FAIL;

    const size_t planeValues = static_cast<size_t>(dst.width) * dst.height;
    AccumulatorSet slices(dst.depth, planeValues);
    HeapArray<ColorF> sourceRow(src.width);
    HeapArray<uint8_t> marks(std::max(dst.height, dst.depth));
    if (!slices || !sourceRow || !marks) return E_OUTOFMEMORY;
    std::memset(marks.get(), 0, std::max(dst.height, dst.depth));
    ColumnGather columns;
    if (FAILED(columns.Build(*x.table, src.width, dst.width))) return E_OUTOFMEMORY;
    if (!slices.CountPending(*z.table, src.depth)) return E_FAIL;

    const ValueRange range = src.valueRange;
    const TriangleRecord* zRecord = z.table->First();
    for (uint32_t k = 0; k < src.depth; ++k, zRecord = zRecord->Next()) {
        HRESULT hr = slices.Activate(*zRecord);
        if (FAILED(hr)) return hr;
        const TrianglePair* zPair = zRecord->Pairs();
        const uint32_t zn = zRecord->Count();
        const bool zTwice = NamesAnIndexTwice(*zRecord, marks.get());

        const TriangleRecord* yRecord = y.table->First();
        for (uint32_t j = 0; j < src.height; ++j, yRecord = yRecord->Next()) {
            hr = src.ReadRow(j, k, sourceRow.get());
            if (FAILED(hr)) return hr;
            const TrianglePair* yPair = yRecord->Pairs();
            const uint32_t yn = yRecord->Count();
            if (!zTwice && !NamesAnIndexTwice(*yRecord, marks.get())) {
                for (uint32_t s = 0; s < zn; ++s) {
                    ColorF* plane = slices[static_cast<uint32_t>(zPair[s].index)].values;
                    for (uint32_t r = 0; r < yn; ++r)
                        columns.AddRow(sourceRow.get(),
                                       plane + static_cast<size_t>(yPair[r].index) * dst.width,
                                       zPair[s].weight, yPair[r].weight);
                }
                continue;
            }
            // A destination row or slice named twice takes every
            // contribution of a source column before those of the next.
            const TriangleRecord* xRecord = x.table->First();
            for (uint32_t i = 0; i < src.width; ++i, xRecord = xRecord->Next()) {
                const ColorF& v = sourceRow[i];
                const TrianglePair* xPair = xRecord->Pairs();
                const uint32_t xn = xRecord->Count();
                for (uint32_t s = 0; s < zn; ++s) {
                    ColorF* plane = slices[static_cast<uint32_t>(zPair[s].index)].values;
                    for (uint32_t r = 0; r < yn; ++r) {
                        ColorF* acc = plane + static_cast<size_t>(yPair[r].index) * dst.width;
                        for (uint32_t q = 0; q < xn; ++q)
                            AddScaled(acc[xPair[q].index], v,
                                      xPair[q].weight * zPair[s].weight * yPair[r].weight);
                    }
                }
            }
        }

        for (uint32_t s = 0; s < zn; ++s) {
            const uint32_t slice = static_cast<uint32_t>(zPair[s].index);
            Accumulator& a = slices[slice];
            if (--a.pending != 0) continue;
            ClampToRange(a.values, planeValues, range);
            for (uint32_t r = 0; r < dst.height; ++r) {
                hr = dst.WriteRow(r, slice, a.values + static_cast<size_t>(r) * dst.width);
                if (FAILED(hr)) return hr;
            }
            slices.Release(a);
        }
    }
    return S_OK;
}

}  // namespace z3az
