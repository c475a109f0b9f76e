// Point, linear and triangle filters: their tables, the paths on exact float
// rows, and the triangle filter against an integral computed here from the
// tent definition.
#include "convert/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "convert/conversion.h"
#include "platform/heap.h"
#include "support/row_codec_fake.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::FakeJob;
using test::RowCodecFake;

// Pixel values that identify their coordinates.
ColorF Tag(uint32_t x, uint32_t y, uint32_t z) {
    return ColorF{float(x), float(y), float(z), float(x + 100 * y + 10000 * z)};
}

void FillTagged(RowCodecFake& c, uint32_t w, uint32_t h, uint32_t d) {
    for (uint32_t z = 0; z < d; ++z)
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) c.At(x, y, z) = Tag(x, y, z);
}

void FillRandom(RowCodecFake& c, uint32_t w, uint32_t h, uint32_t d, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (uint32_t z = 0; z < d; ++z)
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) c.At(x, y, z) = ColorF{u(rng), u(rng), u(rng), u(rng)};
}

std::vector<uint64_t> PointIndices(uint32_t s, uint32_t d) {
    const PointAxis axis = MakePointAxis(s, d);
    std::vector<uint64_t> out;
    uint64_t p = 0;
    for (uint32_t i = 0; i < d; ++i, p += axis.step) out.push_back(p >> axis.shift);
    return out;
}

// ---------------------------------------------------------------------------
// Point
// ---------------------------------------------------------------------------

TEST(PointAxis, FourToThreeAndThreeToSix) {
    EXPECT_EQ(MakePointAxis(4, 3).step, (4u * 65536u) / 3u);
    EXPECT_EQ(PointIndices(4, 3), (std::vector<uint64_t>{0, 1, 2}));
    EXPECT_EQ(PointIndices(3, 6), (std::vector<uint64_t>{0, 0, 1, 1, 2, 2}));
}

TEST(PointAxis, SmallExtentsKeepTheSixteenSixteenSteps) {
    // The 32-bit 16.16 stepping, as it has always been computed.
    for (uint32_t s : {1u, 2u, 3u, 5u, 7u, 64u, 1000u, 65535u})
        for (uint32_t d : {1u, 2u, 3u, 6u, 9u, 100u, 4097u, 65535u}) {
            const uint32_t step = (s << 16) / d;
            uint32_t p = 0;
            const std::vector<uint64_t> got = PointIndices(s, d);
            for (uint32_t i = 0; i < d; ++i, p += step) ASSERT_EQ(got[i], p >> 16) << s << "->" << d;
        }
}

TEST(PointAxis, LargeExtentsStayInsideTheSource) {
    struct Case {
        uint32_t s, d;
    };
    for (Case c : {Case{65536, 3}, Case{70000, 3}, Case{3, 70000}, Case{100000, 99999},
                   Case{99999, 100000}, Case{0xFFFFFFFFu, 7}, Case{7, 0xFFFFFFF0u},
                   Case{0xFFFFFFFFu, 0xFFFFFFFEu}}) {
        const PointAxis axis = MakePointAxis(c.s, c.d);
        // Sample the start, the end and a spread in between.
        for (uint64_t i : {uint64_t{0}, uint64_t{1}, uint64_t{c.d / 3}, uint64_t{c.d / 2},
                           uint64_t{c.d - 2}, uint64_t{c.d - 1}}) {
            if (i >= c.d) continue;
            const uint64_t index = (i * axis.step) >> axis.shift;
            const uint64_t exact = i * uint64_t{c.s} / c.d;
            EXPECT_LT(index, c.s) << c.s << "->" << c.d << " at " << i;
            EXPECT_LE(index, exact);
            EXPECT_GE(index + 1, exact);
        }
    }
    EXPECT_EQ(PointIndices(70000, 3), (std::vector<uint64_t>{0, 23333, 46666}));
}

TEST(ScalePoint, TakesNearestSamplesWithoutOffset) {
    FakeJob f(4, 3, 1, 3, 6, 1, FilterPoint);
    FillTagged(f.src(), 4, 3, 1);
    ASSERT_EQ(ScalePoint(f.job), S_OK);
    const uint32_t rows[] = {0, 0, 1, 1, 2, 2};
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(f.dst().At(x, y).a, Tag(x, rows[y], 0).a);
    // A run of destination rows that map to one source row reads it once.
    EXPECT_EQ(f.src().reads.size(), 3u);
}

TEST(ScalePoint, VolumesStepAlongZ) {
    FakeJob f(2, 2, 4, 2, 2, 2, FilterPoint);
    FillTagged(f.src(), 2, 2, 4);
    ASSERT_EQ(ScalePoint(f.job), S_OK);
    EXPECT_EQ(f.dst().At(1, 1, 0).a, Tag(1, 1, 0).a);
    EXPECT_EQ(f.dst().At(1, 0, 1).a, Tag(1, 0, 2).a);
}

TEST(ScalePoint, WideRowsStayInsideTheSource) {
    // At 70000 pixels the 16.16 step no longer fits 32 bits.
    FakeJob f(70000, 1, 1, 3, 1, 1, FilterPoint);
    FillTagged(f.src(), 70000, 1, 1);
    ASSERT_EQ(ScalePoint(f.job), S_OK);
    EXPECT_EQ(f.dst().At(0, 0).r, 0.0f);
    EXPECT_EQ(f.dst().At(1, 0).r, 23333.0f);
    EXPECT_EQ(f.dst().At(2, 0).r, 46666.0f);
}

TEST(ScalePoint, RefusesOtherKindsAndReportsLackOfMemory) {
    FakeJob other(4, 4, 1, 2, 2, 1, FilterLinear);
    EXPECT_LT(ScalePoint(other.job), 0);
    FakeJob f(4, 4, 1, 2, 2, 1, FilterPoint);
    FailAllocationAt(1);
    EXPECT_EQ(ScalePoint(f.job), E_OUTOFMEMORY);
    FailAllocationAt(0);
}

// ---------------------------------------------------------------------------
// Linear
// ---------------------------------------------------------------------------

TEST(LinearTaps, TwoToFour) {
    struct Expected {
        int32_t i0, i1;
        float w0;
    };
    const Expected clamped[] = {{0, 0, 0.25f}, {0, 1, 0.75f}, {0, 1, 0.25f}, {1, 1, 0.75f}};
    const Expected wrapped[] = {{1, 0, 0.25f}, {0, 1, 0.75f}, {0, 1, 0.25f}, {1, 0, 0.75f}};
    for (bool wrap : {false, true}) {
        LinearTap* taps = BuildLinearTaps(2, 4, wrap);
        ASSERT_NE(taps, nullptr);
        const Expected* e = wrap ? wrapped : clamped;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(taps[i].index0, e[i].i0) << "wrap " << wrap << " tap " << i;
            EXPECT_EQ(taps[i].index1, e[i].i1) << "wrap " << wrap << " tap " << i;
            EXPECT_FLOAT_EQ(taps[i].weight0, e[i].w0);
            EXPECT_FLOAT_EQ(taps[i].weight1, 1.0f - e[i].w0);
        }
        Free(taps);
    }
}

TEST(LinearTaps, IndicesStayInsideForEverySize) {
    for (uint32_t s : {1u, 2u, 3u, 17u, 1000u})
        for (uint32_t d : {1u, 2u, 5u, 33u, 999u})
            for (bool wrap : {false, true}) {
                LinearTap* taps = BuildLinearTaps(s, d, wrap);
                ASSERT_NE(taps, nullptr);
                for (uint32_t i = 0; i < d; ++i) {
                    ASSERT_GE(taps[i].index0, 0);
                    ASSERT_LT(taps[i].index0, int32_t(s));
                    ASSERT_GE(taps[i].index1, 0);
                    ASSERT_LT(taps[i].index1, int32_t(s));
                    ASSERT_NEAR(taps[i].weight0 + taps[i].weight1, 1.0f, 1e-6f);
                }
                Free(taps);
            }
    EXPECT_EQ(BuildLinearTaps(0, 4, false), nullptr);
}

// Bilinear value at sample position (i + 0.5) * S / N - 0.5, clamped.
double ReferenceLinear(const std::vector<double>& row, uint32_t n, uint32_t i) {
    const double s = double(row.size());
    double p = (i + 0.5) * s / n - 0.5;
    double f = std::floor(p);
    const double t = p - f;
    auto at = [&](double k) { return row[size_t(std::min(std::max(k, 0.0), s - 1))]; };
    return at(f) * (1 - t) + at(f + 1) * t;
}

TEST(ScaleLinear2D, MatchesBilinearInterpolation) {
    const uint32_t sw = 5, sh = 3, dw = 9, dh = 7;
    FakeJob f(sw, sh, 1, dw, dh, 1, FilterLinear | FilterClampU | FilterClampV);
    FillRandom(f.src(), sw, sh, 1, 7);
    ASSERT_EQ(ScaleLinear2D(f.job), S_OK);
    for (uint32_t x = 0; x < dw; ++x) {
        // Interpolate every source row along x, then that column along y.
        std::vector<double> column;
        for (uint32_t sy = 0; sy < sh; ++sy) {
            std::vector<double> row;
            for (uint32_t sx = 0; sx < sw; ++sx) row.push_back(f.src().At(sx, sy).g);
            column.push_back(ReferenceLinear(row, dw, x));
        }
        for (uint32_t y = 0; y < dh; ++y)
            EXPECT_NEAR(f.dst().At(x, y).g, ReferenceLinear(column, dh, y), 1e-5) << x << "," << y;
    }
    // Two source rows are held and handed on as the taps move down: a source
    // row is read again only where an edge tap names it twice.
    EXPECT_LE(f.src().reads.size(), size_t(2 * sh));
}

TEST(ScaleLinear2D, WrapsAroundTheEdges) {
    // 2 to 4 with wrapping: the first destination pixel mixes source 1 and 0.
    FakeJob f(2, 1, 1, 4, 1, 1, FilterLinear);
    f.src().At(0, 0) = ColorF{0, 0, 0, 0};
    f.src().At(1, 0) = ColorF{1, 1, 1, 1};
    ASSERT_EQ(ScaleLinear2D(f.job), S_OK);
    const float expected[] = {0.25f, 0.25f, 0.75f, 0.75f};
    for (uint32_t x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(f.dst().At(x, 0).r, expected[x]);
}

TEST(ScaleLinear3D, InterpolatesBetweenSlices) {
    // Slices of constant value 0 and 1; with clamping the destination slices
    // of a 2 to 4 enlargement are 0, 0.25, 0.75, 1.
    FakeJob f(3, 2, 2, 5, 3, 4, FilterLinear | FilterClampW);
    for (uint32_t z = 0; z < 2; ++z)
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x) f.src().At(x, y, z) = ColorF{float(z), 0, 0, 1};
    EXPECT_LT(ScaleLinear2D(f.job), 0);  // volumes are not for the 2D path
    ASSERT_EQ(ScaleLinear3D(f.job), S_OK);
    const float expected[] = {0.0f, 0.25f, 0.75f, 1.0f};
    for (uint32_t z = 0; z < 4; ++z)
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x) {
                EXPECT_FLOAT_EQ(f.dst().At(x, y, z).r, expected[z]);
                EXPECT_FLOAT_EQ(f.dst().At(x, y, z).a, 1.0f);
            }
}

// Runs a path with every one of its allocations failing in turn: each
// failure gives the expected code, and once all succeed the path does.
template <class Make, class Expect>
void FailEachAllocation(Make make, HRESULT (*path)(ConversionJob&), Expect expectFor) {
    unsigned long needed = 0;
    {
        FakeJob f = make();
        FillRandom(f.src(), f.src().storedWidth, f.src().storedHeight, f.src().depth, 5);
        ResetAllocationCount();
        ASSERT_EQ(path(f.job), S_OK);
        needed = AllocationCount();
    }
    ASSERT_GT(needed, 0u);
    for (unsigned long n = 1; n <= needed + 1; ++n) {
        FakeJob f = make();
        FillRandom(f.src(), f.src().storedWidth, f.src().storedHeight, f.src().depth, 5);
        FailAllocationAt(n);
        const HRESULT hr = path(f.job);
        FailAllocationAt(0);
        EXPECT_EQ(hr, n <= needed ? expectFor(n) : S_OK) << "allocation " << n;
    }
}

TEST(ScaleLinear, LackOfMemoryFailsEveryAllocation) {
    auto make = [] { return FakeJob(4, 4, 2, 3, 3, 3, FilterLinear); };
    FailEachAllocation(make, ScaleLinear3D, [](unsigned long) { return E_OUTOFMEMORY; });
    auto make2 = [] { return FakeJob(4, 4, 1, 7, 3, 1, FilterLinear); };
    FailEachAllocation(make2, ScaleLinear2D, [](unsigned long) { return E_OUTOFMEMORY; });
}

// ---------------------------------------------------------------------------
// Triangle weights
// ---------------------------------------------------------------------------

// The pairs of a table as a list per source index.
std::vector<std::vector<TrianglePair>> Records(const TriangleWeightTable& t, uint32_t s) {
    std::vector<std::vector<TrianglePair>> out;
    const TriangleRecord* r = t.First();
    for (uint32_t j = 0; j < s; ++j, r = r->Next())
        out.emplace_back(r->Pairs(), r->Pairs() + r->Count());
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(r) - reinterpret_cast<const uint8_t*>(&t),
              ptrdiff_t(t.bytes));
    return out;
}

TEST(TriangleWeights, FourToTwo) {
    TriangleWeightTable* t = BuildTriangleWeights(4, 2, false);
    ASSERT_NE(t, nullptr);
    const auto r = Records(*t, 4);
    ASSERT_EQ(r[0].size(), 1u);
    EXPECT_EQ(r[0][0].index, 0);
    EXPECT_FLOAT_EQ(r[0][0].weight, 0.5f);
    ASSERT_EQ(r[1].size(), 2u);
    EXPECT_EQ(r[1][0].index, 0);
    EXPECT_FLOAT_EQ(r[1][0].weight, 0.4375f);
    EXPECT_EQ(r[1][1].index, 1);
    EXPECT_FLOAT_EQ(r[1][1].weight, 0.0625f);
    ASSERT_EQ(r[2].size(), 2u);
    EXPECT_EQ(r[2][0].index, 0);
    EXPECT_FLOAT_EQ(r[2][0].weight, 0.0625f);
    EXPECT_EQ(r[2][1].index, 1);
    EXPECT_FLOAT_EQ(r[2][1].weight, 0.4375f);
    ASSERT_EQ(r[3].size(), 1u);
    EXPECT_EQ(r[3][0].index, 1);
    EXPECT_FLOAT_EQ(r[3][0].weight, 0.5f);
    Free(t);
}

TEST(TriangleWeights, OneSourceCoversEveryDestination) {
    for (uint32_t d : {1u, 2u, 3u, 7u, 64u})
        for (bool wrap : {false, true}) {
            TriangleWeightTable* t = BuildTriangleWeights(1, d, wrap);
            ASSERT_NE(t, nullptr);
            std::vector<double> sum(d, 0.0);
            const auto records = Records(*t, 1);
            for (const TrianglePair& p : records[0]) sum[p.index] += p.weight;
            for (uint32_t i = 0; i < d; ++i)
                EXPECT_NEAR(sum[i], 1.0, 1e-5) << "1->" << d << " wrap " << wrap << " at " << i;
            Free(t);
        }
}

TEST(TriangleWeights, EveryDestinationReceivesOne) {
    struct Size {
        uint32_t s, d;
        double tolerance = 2e-4;  // pairs under 0.00001 are dropped
    };
    const Size sizes[] = {{2, 1},   {1, 2},    {3, 2},     {2, 3},     {4, 2},     {5, 3},
                          {3, 5},   {7, 16},   {16, 7},    {33, 32},   {32, 33},   {100, 3},
                          {3, 100}, {5, 1},    {1000, 1},  {640, 480}, {480, 640}, {257, 1024},
                          // Reductions so strong that every single pair weighs less
                          // than 0.00001; float positions near the destination edges
                          // then carry a rounding of about 0.1 %.
                          {200000, 1, 3e-3}, {150000, 2, 3e-3}};
    for (const Size& z : sizes)
        for (bool wrap : {false, true}) {
            TriangleWeightTable* t = BuildTriangleWeights(z.s, z.d, wrap);
            ASSERT_NE(t, nullptr);
            std::vector<double> sum(z.d, 0.0);
            for (const auto& record : Records(*t, z.s))
                for (const TrianglePair& p : record) {
                    ASSERT_GE(p.index, 0);
                    ASSERT_LT(p.index, int32_t(z.d));
                    sum[p.index] += p.weight;
                }
            for (uint32_t i = 0; i < z.d; ++i)
                ASSERT_NEAR(sum[i], 1.0, z.tolerance)
                    << z.s << "->" << z.d << " wrap " << wrap << " at " << i;
            Free(t);
        }
}

TEST(TriangleWeights, RefusesEmptyAxesAndReportsLackOfMemory) {
    EXPECT_EQ(BuildTriangleWeights(0, 3, false), nullptr);
    EXPECT_EQ(BuildTriangleWeights(3, 0, true), nullptr);
    FailAllocationAt(1);
    EXPECT_EQ(BuildTriangleWeights(8, 3, false), nullptr);
    FailAllocationAt(0);
}

TEST(ClampToRange, BoundsOfEveryRange) {
    const float nan = std::nanf("");
    struct Case {
        ValueRange range;
        ColorF in, out;
    };
    const Case cases[] = {
        {RangeUnsigned, {1.0000001f, -0.1f, nan, 0.5f}, {1, 0, 1, 0.5f}},
        {RangeUnsigned, {0.25f, 1.0f, 0.0f, -2.0f}, {0.25f, 1, 0, 0}},
        {RangeSignedRgb, {-1.5f, 0.5f, nan, -0.5f}, {-1, 0.5f, 1, 0}},
        {RangeSigned, {-1.5f, 2.0f, -0.5f, -3.0f}, {-1, 1, -0.5f, -1}},
    };
    for (const Case& c : cases) {
        ColorF v = c.in;
        ClampToRange(&v, 1, c.range);
        EXPECT_EQ(v.r, c.out.r);
        EXPECT_EQ(v.g, c.out.g);
        EXPECT_EQ(v.b, c.out.b);
        EXPECT_EQ(v.a, c.out.a);
    }
    ColorF v{1.5f, -7.0f, 3.0f, -1.0f};
    ClampToRange(&v, 1, RangeFloat);
    EXPECT_EQ(v.r, 1.5f);
    EXPECT_EQ(v.g, -7.0f);
}

// ---------------------------------------------------------------------------
// Triangle paths
// ---------------------------------------------------------------------------

// Integral over [a, b] of source sample j's tent, in source units, from the
// definition: 1 at the sample's centre j + 0.5, falling linearly to 0 at the
// neighbouring centres. Without wrapping the first and last tents stay at
// full height out to the image edges; with wrapping the tents repeat with
// period S.
double TentIntegral(uint32_t j, uint32_t s, bool wrap, double a, double b) {
    auto tent = [&](double x) {
        double best = 0;
        for (int k = wrap ? -1 : 0; k <= (wrap ? 1 : 0); ++k) {
            const double c = j + 0.5 + double(k) * s;
            double v = std::max(0.0, 1.0 - std::fabs(x - c));
            if (!wrap && j == 0 && x < c) v = 1.0;
            if (!wrap && j == s - 1 && x > c) v = 1.0;
            best += v;
        }
        return best;
    };
    // The tent is linear between these points, so trapezoids are exact.
    std::vector<double> points{a, b};
    for (int k = -1; k <= 1; ++k)
        for (double off : {-1.0, 0.0, 1.0}) {
            const double p = j + 0.5 + off + double(k) * s;
            if (p > a && p < b) points.push_back(p);
        }
    std::sort(points.begin(), points.end());
    double sum = 0;
    for (size_t i = 1; i < points.size(); ++i)
        sum += (points[i] - points[i - 1]) * 0.5 * (tent(points[i]) + tent(points[i - 1]));
    return sum;
}

// Weight of source j in destination t: the tent averaged over the source
// interval that destination pixel t covers.
std::vector<std::vector<double>> ReferenceWeights(uint32_t s, uint32_t d, bool wrap) {
    std::vector<std::vector<double>> w(d, std::vector<double>(s));
    const double width = double(s) / d;
    for (uint32_t t = 0; t < d; ++t)
        for (uint32_t j = 0; j < s; ++j)
            w[t][j] = TentIntegral(j, s, wrap, t * width, (t + 1) * width) / width;
    return w;
}

struct TriangleCase {
    uint32_t sw, sh, sd, dw, dh, dd;
    bool clamp;
};

class TriangleAgainstIntegral : public ::testing::TestWithParam<TriangleCase> {};

TEST_P(TriangleAgainstIntegral, MatchesTheReference) {
    const TriangleCase c = GetParam();
    const uint32_t clampBits = c.clamp ? FilterClampU | FilterClampV | FilterClampW : 0;
    FakeJob f(c.sw, c.sh, c.sd, c.dw, c.dh, c.dd, FilterTriangle | clampBits);
    FillRandom(f.src(), c.sw, c.sh, c.sd, 11);
    const HRESULT hr = c.sd == 1 && c.dd == 1 ? ScaleTriangle2D(f.job) : ScaleTriangle3D(f.job);
    ASSERT_EQ(hr, S_OK);

    const auto wx = ReferenceWeights(c.sw, c.dw, !c.clamp);
    const auto wy = ReferenceWeights(c.sh, c.dh, !c.clamp);
    const auto wz = ReferenceWeights(c.sd, c.dd, !c.clamp);
    for (uint32_t z = 0; z < c.dd; ++z)
        for (uint32_t y = 0; y < c.dh; ++y)
            for (uint32_t x = 0; x < c.dw; ++x) {
                double expected = 0;
                for (uint32_t k = 0; k < c.sd; ++k)
                    for (uint32_t j = 0; j < c.sh; ++j)
                        for (uint32_t i = 0; i < c.sw; ++i)
                            expected += f.src().At(i, j, k).b * wx[x][i] * wy[y][j] * wz[z][k];
                ASSERT_NEAR(f.dst().At(x, y, z).b, expected, 2e-4) << x << "," << y << "," << z;
                ASSERT_EQ(f.dst().written[f.dst().Index(x, y, z)], 1);
            }
    // Every source row is read exactly once.
    EXPECT_EQ(f.src().reads.size(), size_t(c.sh) * c.sd);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TriangleAgainstIntegral,
    ::testing::Values(TriangleCase{9, 7, 1, 4, 3, 1, true}, TriangleCase{9, 7, 1, 4, 3, 1, false},
                      TriangleCase{3, 4, 1, 8, 7, 1, true}, TriangleCase{3, 4, 1, 8, 7, 1, false},
                      TriangleCase{10, 10, 1, 7, 3, 1, false}, TriangleCase{1, 5, 1, 6, 2, 1, true},
                      TriangleCase{4, 3, 5, 2, 2, 3, true}, TriangleCase{4, 3, 5, 2, 2, 3, false},
                      TriangleCase{2, 2, 2, 3, 1, 5, false}));

// The sums in the order the filter forms them, in 32-bit floats: source
// slice by slice, row by row, column by column, and for every destination
// value a source value reaches, value times (wx times wz times wy) (2D: wx
// times wy) added to it. Filtering a row along x first and weighting that by
// wy gives other roundings.
std::vector<ColorF> TriangleInSourceOrder(RowCodecFake& source, uint32_t dw, uint32_t dh,
                                          uint32_t dd, uint32_t filter) {
    const uint32_t sw = source.width, sh = source.height, sd = source.depth;
    const bool volume = sd != 1 || dd != 1;
    TriangleWeightTable* tx = BuildTriangleWeights(sw, dw, !(filter & FilterClampU));
    TriangleWeightTable* ty = BuildTriangleWeights(sh, dh, !(filter & FilterClampV));
    TriangleWeightTable* tz = BuildTriangleWeights(sd, dd, !(filter & FilterClampW));
    const auto rx = Records(*tx, sw), ry = Records(*ty, sh), rz = Records(*tz, sd);
    Free(tx);
    Free(ty);
    Free(tz);
    std::vector<ColorF> sum(size_t(dw) * dh * dd, ColorF{0, 0, 0, 0});
    for (uint32_t k = 0; k < sd; ++k)
        for (uint32_t j = 0; j < sh; ++j)
            for (uint32_t i = 0; i < sw; ++i) {
                const ColorF v = source.At(i, j, k);
                for (const TrianglePair& pz : rz[k])
                    for (const TrianglePair& py : ry[j])
                        for (const TrianglePair& px : rx[i]) {
                            const float w = volume ? px.weight * pz.weight * py.weight
                                                   : px.weight * py.weight;
                            ColorF& o = sum[(size_t(pz.index) * dh + py.index) * dw + px.index];
                            o.r += v.r * w;
                            o.g += v.g * w;
                            o.b += v.b * w;
                            o.a += v.a * w;
                        }
            }
    return sum;
}

TEST_P(TriangleAgainstIntegral, SumsInSourceOrder) {
    const TriangleCase c = GetParam();
    const uint32_t filter =
        FilterTriangle | (c.clamp ? FilterClampU | FilterClampV | FilterClampW : 0);
    FakeJob f(c.sw, c.sh, c.sd, c.dw, c.dh, c.dd, filter);
    FillRandom(f.src(), c.sw, c.sh, c.sd, 23);
    const bool volume = c.sd != 1 || c.dd != 1;
    ASSERT_EQ(volume ? ScaleTriangle3D(f.job) : ScaleTriangle2D(f.job), S_OK);
    const std::vector<ColorF> want = TriangleInSourceOrder(f.src(), c.dw, c.dh, c.dd, filter);
    for (uint32_t z = 0; z < c.dd; ++z)
        for (uint32_t y = 0; y < c.dh; ++y)
            for (uint32_t x = 0; x < c.dw; ++x) {
                const ColorF& w = want[(size_t(z) * c.dh + y) * c.dw + x];
                const ColorF& got = f.dst().At(x, y, z);
                ASSERT_EQ(got.r, w.r) << x << "," << y << "," << z;
                ASSERT_EQ(got.g, w.g) << x << "," << y << "," << z;
                ASSERT_EQ(got.b, w.b) << x << "," << y << "," << z;
                ASSERT_EQ(got.a, w.a) << x << "," << y << "," << z;
            }
}

// Axes so short that one source tent reaches round the whole wrapping axis:
// a record names the same destination index twice.
INSTANTIATE_TEST_SUITE_P(
    ShortWrappingAxes, TriangleAgainstIntegral,
    ::testing::Values(TriangleCase{1, 1, 1, 3, 4, 1, false}, TriangleCase{2, 2, 1, 3, 5, 1, false},
                      TriangleCase{7, 1, 1, 3, 3, 1, false}, TriangleCase{5, 2, 1, 2, 3, 1, false},
                      TriangleCase{3, 2, 1, 5, 3, 3, false}, TriangleCase{3, 4, 2, 2, 3, 5, false}));

TEST(ScaleTriangle, OneSourcePixelFillsTheDestination) {
    for (uint32_t clamp : {0u, FilterClampU | FilterClampV}) {
        FakeJob f(1, 1, 1, 5, 3, 1, FilterTriangle | clamp);
        f.src().At(0, 0) = ColorF{0.2f, 0.4f, 0.6f, 0.8f};
        ASSERT_EQ(ScaleTriangle2D(f.job), S_OK);
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x) {
                EXPECT_NEAR(f.dst().At(x, y).r, 0.2f, 1e-6f);
                EXPECT_NEAR(f.dst().At(x, y).a, 0.8f, 1e-6f);
            }
    }
}

// The first sizes of a list whose triangle weights add up to more than 1
// for some destination pixel.
bool WeightsExceedOne(uint32_t s, uint32_t d) {
    TriangleWeightTable* t = BuildTriangleWeights(s, d, true);
    std::vector<float> sum(d, 0.0f);
    for (const auto& record : Records(*t, s))
        for (const TrianglePair& p : record) sum[p.index] += p.weight;
    Free(t);
    for (float v : sum)
        if (v > 1.0f) return true;
    return false;
}

TEST(ScaleTriangle, UnsignedSourceNeverExceedsOne) {
    uint32_t s = 0, d = 0;
    for (uint32_t a = 2; a < 40 && !s; ++a)
        for (uint32_t b = 2; b < 40 && !s; ++b)
            if (a != b && WeightsExceedOne(a, b)) s = a, d = b;
    ASSERT_NE(s, 0u) << "no size with weights above 1 to show the clamp";

    for (ValueRange range : {RangeUnsigned, RangeFloat}) {
        FakeJob f(s, s, 1, d, d, 1, FilterTriangle, range);
        for (ColorF& p : f.src().pixels) p = ColorF{1, 1, 1, 1};
        ASSERT_EQ(ScaleTriangle2D(f.job), S_OK);
        float largest = 0;
        for (const ColorF& p : f.dst().pixels) largest = std::max({largest, p.r, p.g, p.b, p.a});
        if (range == RangeUnsigned) EXPECT_EQ(largest, 1.0f);
        else EXPECT_GT(largest, 1.0f);  // a float source is not clamped
    }
}

TEST(ScaleTriangle, SignedRangesClampBelow) {
    FakeJob f(4, 1, 1, 3, 1, 1, FilterTriangle, RangeSignedRgb);
    for (ColorF& p : f.src().pixels) p = ColorF{-1, -1, -1, 0};
    ASSERT_EQ(ScaleTriangle2D(f.job), S_OK);
    for (const ColorF& p : f.dst().pixels) {
        EXPECT_GE(p.r, -1.0f);
        EXPECT_GE(p.a, 0.0f);
        EXPECT_NEAR(p.r, -1.0f, 1e-4f);
    }
}

TEST(ScaleTriangle, ReleasedBuffersAreReused) {
    // 4 x 1000 to 4 x 500: only a few destination rows are ever active, so
    // the path allocates a handful of buffers, not one per row.
    FakeJob f(4, 1000, 1, 4, 500, 1, FilterTriangle | FilterClampV);
    FillRandom(f.src(), 4, 1000, 1, 3);
    ResetAllocationCount();
    ASSERT_EQ(ScaleTriangle2D(f.job), S_OK);
    EXPECT_LT(AllocationCount(), 12u);
    // Without wrapping, rows are completed and written in order, each once.
    ASSERT_EQ(f.dst().writes.size(), 500u);
    for (uint32_t r = 0; r < 500; ++r) ASSERT_EQ(f.dst().writes[r].first, r);

    // With wrapping the first row also takes the last source rows, so it is
    // completed last.
    FakeJob g(4, 1000, 1, 4, 500, 1, FilterTriangle);
    ASSERT_EQ(ScaleTriangle2D(g.job), S_OK);
    ASSERT_EQ(g.dst().writes.size(), 500u);
    EXPECT_EQ(g.dst().writes.back().first, 0u);
    EXPECT_EQ(g.dst().writes.front().first, 1u);
}

TEST(ScaleTriangle, LackOfMemoryFailsCleanly) {
    // The weight tables come first: without one the path refuses; any later
    // allocation is reported as lack of memory.
    auto make3 = [] { return FakeJob(6, 6, 3, 4, 4, 2, FilterTriangle); };
    FailEachAllocation(make3, ScaleTriangle3D,
                       [](unsigned long n) { return n <= 3 ? E_FAIL : E_OUTOFMEMORY; });
    auto make2 = [] { return FakeJob(6, 9, 1, 4, 4, 1, FilterTriangle); };
    FailEachAllocation(make2, ScaleTriangle2D,
                       [](unsigned long n) { return n <= 2 ? E_FAIL : E_OUTOFMEMORY; });
}

TEST(ScaleTriangle, AFailingReadFailsThePath) {
    FakeJob f(4, 4, 1, 2, 2, 1, FilterTriangle);
    f.src().failReads = true;
    EXPECT_LT(ScaleTriangle2D(f.job), 0);
    EXPECT_LT(ScaleTriangle3D(f.job), 0);
}

// ---------------------------------------------------------------------------
// Through ConvertRegion
// ---------------------------------------------------------------------------

// Packed pixels of one format, rows and slices without padding.
struct Image {
    Image(uint32_t format, uint32_t bytes, uint32_t w, uint32_t h, uint32_t d = 1)
        : bytes(bytes), w(w), h(h), data(size_t(bytes) * w * h * d) {
        region.format = format;
        region.rowPitch = bytes * w;
        region.slicePitch = bytes * w * h;
        region.bounds = region.box = ImageBox{0, 0, w, h, 0, d};
    }
    BlitRegion& Region() {
        region.bits = data.data();
        return region;
    }
    void Set(uint32_t x, uint32_t y, uint32_t v) {
        std::memcpy(&data[(size_t(y) * w + x) * bytes], &v, bytes);
    }
    uint32_t Get(uint32_t x, uint32_t y) const {
        uint32_t v = 0;
        std::memcpy(&v, &data[(size_t(y) * w + x) * bytes], bytes);
        return v;
    }
    uint32_t bytes, w, h;
    std::vector<uint8_t> data;
    BlitRegion region{};
};

HRESULT Convert(Image& destination, Image& source, uint32_t filter) {
    ConversionJob job;
    return job.ConvertRegion(destination.Region(), source.Region(), filter);
}

TEST(ConvertRegionResize, PointSamplesPixels) {
    Image source(D3DFMT_A8R8G8B8, 4, 4, 3);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x) source.Set(x, y, 0xFF000000u | (y << 8) | x);
    Image destination(D3DFMT_A8R8G8B8, 4, 3, 6);
    ASSERT_EQ(Convert(destination, source, FilterPoint), S_OK);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            EXPECT_EQ(destination.Get(x, y), 0xFF000000u | ((y / 2) << 8) | x) << x << "," << y;
}

TEST(ConvertRegionResize, PointOnRowsWiderThanSixteenBits) {
    Image source(D3DFMT_L8, 1, 70000, 1);
    for (uint32_t x = 0; x < 70000; ++x) source.Set(x, 0, x % 251);
    Image destination(D3DFMT_L8, 1, 3, 1);
    ASSERT_EQ(Convert(destination, source, FilterPoint), S_OK);
    EXPECT_EQ(destination.data, (std::vector<uint8_t>{0, 23333 % 251, 46666 % 251}));
}

TEST(ConvertRegionResize, LinearTwoToFour) {
    Image source(D3DFMT_L8, 1, 2, 1);
    source.Set(1, 0, 255);
    Image clamped(D3DFMT_L8, 1, 4, 1);
    ASSERT_EQ(Convert(clamped, source, FilterLinear | FilterClampU), S_OK);
    EXPECT_EQ(clamped.data, (std::vector<uint8_t>{0, 64, 191, 255}));
    Image wrapped(D3DFMT_L8, 1, 4, 1);
    ASSERT_EQ(Convert(wrapped, source, FilterLinear), S_OK);
    EXPECT_EQ(wrapped.data, (std::vector<uint8_t>{64, 64, 191, 191}));
}

TEST(ConvertRegionResize, BoxFiveToThreeIsTheTriangleFilter) {
    Image source(D3DFMT_L8, 1, 5, 5);
    std::mt19937 rng(8);
    for (uint8_t& v : source.data) v = uint8_t(rng());
    Image box(D3DFMT_L8, 1, 3, 3);
    Image triangle(D3DFMT_L8, 1, 3, 3);
    ASSERT_EQ(Convert(box, source, FilterBox), S_OK);
    ASSERT_EQ(Convert(triangle, source, FilterTriangle), S_OK);
    EXPECT_EQ(box.data, triangle.data);

    // And the triangle filter is the integral of the tents.
    const auto w = ReferenceWeights(5, 3, true);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 3; ++x) {
            double v = 0;
            for (uint32_t j = 0; j < 5; ++j)
                for (uint32_t i = 0; i < 5; ++i) v += source.Get(i, j) * w[x][i] * w[y][j];
            EXPECT_NEAR(double(triangle.Get(x, y)), std::floor(v + 0.5), 1.0) << x << "," << y;
        }
}

TEST(ConvertRegionResize, TriangleVolumesAndConstantImages) {
    Image source(D3DFMT_X8R8G8B8, 4, 4, 4, 4);
    for (size_t i = 0; i < source.data.size(); i += 4) {
        const uint32_t v = 0x00806040u;
        std::memcpy(&source.data[i], &v, 4);
    }
    Image destination(D3DFMT_X8R8G8B8, 4, 3, 2, 5);
    ASSERT_EQ(Convert(destination, source, FilterTriangle), S_OK);
    for (size_t i = 0; i < destination.data.size(); i += 4) {
        uint32_t v;
        std::memcpy(&v, &destination.data[i], 4);
        ASSERT_EQ(v & 0x00FFFFFFu, 0x00806040u) << i / 4;
    }
}

TEST(ConvertRegionResize, TriangleReductionFarBeyondTheDropLimit) {
    // 200000 pixels into one: every single pair weighs less than 0.00001,
    // and the destination must still be written with the average (to float
    // rounding of positions near 1 in steps of 0.000005).
    Image source(D3DFMT_L8, 1, 200000, 1);
    std::fill(source.data.begin(), source.data.end(), uint8_t(200));
    Image destination(D3DFMT_L8, 1, 1, 1);
    ASSERT_EQ(Convert(destination, source, FilterTriangle | FilterClampU), S_OK);
    EXPECT_NEAR(destination.data[0], 200, 1);
}

}  // namespace
}  // namespace z3az
