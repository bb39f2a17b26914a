// The SIMD members of the pixel kernels, written once over a vector level V of 16-bit lanes
// (V::kLanes of them). Included only by the per-level sources (kernels_sse2.cpp, ...), each
// compiled with the instructions of its level; everything here has internal linkage so no
// level's code can stand in for another's at link time.
//
// A chunk is 2 x kLanes pixels of one row, split into the even and the odd columns; every lane
// of a group has the same site type, so each Bayer phase and row parity has its own code and
// no test is made per pixel. Each work row is split into even and odd samples once per chunk,
// and the partial sums below are shared by the filters of a site pair.
#pragma once

#include "pixel/bayer_sites.h"
#include "pixel/pixel_levels.h"
#include "streaming/color_pipeline.h"

// The chunk code must be one straight block per row loop: a call between its pieces would
// pass every register through memory.
#define PIXEL_INLINE inline __attribute__((always_inline))

namespace {

// The samples of one work row around a chunk, as 16-bit lanes: lane i of `even` is column
// x + 2i, of `odd` column x + 2i + 1; Left and Right are the same two columns further.
template <class V>
struct RowSamples {
    typename V::Reg evenLeft, oddLeft, even, odd, evenRight, oddRight;
};

template <class V>
inline RowSamples<V> SplitRow(const UCHAR* at) {
    using R = typename V::Reg;
    const R low = V::Set1(0xFF);
    const R left = V::Load(at - 2);
    const R centre = V::Load(at);
    const R right = V::Load(at + 2);
    return {V::And(left, low),          V::template Srl<8>(left), V::And(centre, low),
            V::template Srl<8>(centre), V::And(right, low),       V::template Srl<8>(right)};
}

// Partial sums around the centres of one column group, shared by the four filters:
//
//                  vert2
//           diag   vert1   diag
//   horz2   horz1  centre  horz1   horz2
//           diag   vert1   diag
//                  vert2
template <class V>
struct Group {
    typename V::Reg centre;  // S(0, 0)
    typename V::Reg vert2;   // S(-2, 0) + S(2, 0)
    typename V::Reg horz2;   // S(0, -2) + S(0, 2)
    typename V::Reg vert1;   // S(-1, 0) + S(1, 0)
    typename V::Reg horz1;   // S(0, -1) + S(0, 1)
    typename V::Reg diag;    // S(-1, -1) + S(-1, 1) + S(1, -1) + S(1, 1)
};

template <class V>
PIXEL_INLINE void Neighbourhoods(const UCHAR* centre, ptrdiff_t stride, Group<V>& even,
                                 Group<V>& odd) {
    const RowSamples<V> m2 = SplitRow<V>(centre - 2 * stride);
    const RowSamples<V> m1 = SplitRow<V>(centre - stride);
    const RowSamples<V> z = SplitRow<V>(centre);
    const RowSamples<V> p1 = SplitRow<V>(centre + stride);
    const RowSamples<V> p2 = SplitRow<V>(centre + 2 * stride);
    even.centre = z.even;
    even.vert2 = V::Add(m2.even, p2.even);
    even.horz2 = V::Add(z.evenLeft, z.evenRight);
    even.vert1 = V::Add(m1.even, p1.even);
    even.horz1 = V::Add(z.oddLeft, z.odd);
    even.diag = V::Add(V::Add(m1.oddLeft, m1.odd), V::Add(p1.oddLeft, p1.odd));
    odd.centre = z.odd;
    odd.vert2 = V::Add(m2.odd, p2.odd);
    odd.horz2 = V::Add(z.oddLeft, z.oddRight);
    odd.vert1 = V::Add(m1.odd, p1.odd);
    odd.horz1 = V::Add(z.even, z.evenRight);
    odd.diag = V::Add(V::Add(m1.even, m1.evenRight), V::Add(p1.even, p1.evenRight));
}

// A filter sum to a level 0..255: negative sums are 0, divide by 2^Shift with rounding.
// Rounding before the lower limit gives the same levels: a sum s <= 0 rounds to at most 0.
template <class V, int Shift>
inline typename V::Reg Level(typename V::Reg sum) {
    const auto scaled = V::template RoundingShift<Shift>(sum);
    return V::MinS(V::MaxS(scaled, V::Zero()), V::Set1(255));
}

template <class V>
inline typename V::Reg Times(typename V::Reg a, int factor) {
    return V::MulLo(a, V::Set1((SHORT)factor));
}

// H: colour of the left and right neighbours.  vert2 + 10 c + 8 horz1 - 2 (diag + horz2)
template <class V>
inline typename V::Reg FilterH(const Group<V>& g) {
    const auto plus = V::Add(V::Add(g.vert2, Times<V>(g.centre, 10)), V::template Sll<3>(g.horz1));
    return Level<V, 4>(V::Sub(plus, V::template Sll<1>(V::Add(g.diag, g.horz2))));
}

// V: colour of the upper and lower neighbours.  horz2 + 10 c + 8 vert1 - 2 (diag + vert2)
template <class V>
inline typename V::Reg FilterV(const Group<V>& g) {
    const auto plus = V::Add(V::Add(g.horz2, Times<V>(g.centre, 10)), V::template Sll<3>(g.vert1));
    return Level<V, 4>(V::Sub(plus, V::template Sll<1>(V::Add(g.diag, g.vert2))));
}

// D: colour of the diagonal neighbours.  12 c + 4 diag - 3 (vert2 + horz2)
template <class V>
inline typename V::Reg FilterD(const Group<V>& g) {
    const auto plus = V::Add(Times<V>(g.centre, 12), V::template Sll<2>(g.diag));
    return Level<V, 4>(V::Sub(plus, Times<V>(V::Add(g.vert2, g.horz2), 3)));
}

// X: green at a red or blue site, / 8.  4 c + 2 (vert1 + horz1) - (vert2 + horz2)
template <class V>
inline typename V::Reg FilterX(const Group<V>& g) {
    const auto plus =
        V::Add(V::template Sll<2>(g.centre), V::template Sll<1>(V::Add(g.vert1, g.horz1)));
    return Level<V, 3>(V::Sub(plus, V::Add(g.vert2, g.horz2)));
}

template <class V>
struct Rgb16 {
    typename V::Reg red, green, blue;
};

template <class V, BayerSite Site>
PIXEL_INLINE Rgb16<V> SiteColours(const Group<V>& g) {
    if constexpr (Site == SiteGreenInRedRow) return {FilterH(g), g.centre, FilterV(g)};
    if constexpr (Site == SiteGreenInBlueRow) return {FilterV(g), g.centre, FilterH(g)};
    if constexpr (Site == SiteRed) return {g.centre, FilterX(g), FilterD(g)};
    if constexpr (Site == SiteBlue) return {FilterD(g), FilterX(g), g.centre};
}

// min(255, (v x gain) >> 7) with gain the low 16 bits of the field, as one pmulhuw:
// (v << 8) x 2 gain >> 16; a gain of 32768 or more saturates every v > 0 anyway.
inline SHORT GainMultiplier(ULONG gain) {
    const ULONG low = gain & 0xFFFF;
    return (SHORT)(USHORT)(low < 32768 ? 2 * low : 65535);
}

inline bool HasUnityGains(const ColorPipeline* p) {
    return (p->kernelRedGain & 0xFFFF) == 128 && (p->kernelGreenGain & 0xFFFF) == 128 &&
           (p->kernelBlueGain & 0xFFFF) == 128;
}

// Unity: every gain is 128 (the frame's gains were checked once), the step changes nothing.
template <class V, bool Unity>
struct Gains {
    typename V::Reg red, green, blue;

    explicit Gains(const ColorPipeline* p)
        : red(V::Set1(GainMultiplier(p->kernelRedGain))),
          green(V::Set1(GainMultiplier(p->kernelGreenGain))),
          blue(V::Set1(GainMultiplier(p->kernelBlueGain))) {}

    static typename V::Reg Apply(typename V::Reg level, typename V::Reg multiplier) {
        return V::MinU(V::MulHiU(V::template Sll<8>(level), multiplier), V::Set1(255));
    }
    PIXEL_INLINE Rgb16<V> Apply(const Rgb16<V>& c) const {
        if constexpr (Unity) return c;
        return {Apply(c.red, red), Apply(c.green, green), Apply(c.blue, blue)};
    }
};

// True when, for every output channel, only the entry of its own input can be positive and
// the entries of the other two inputs only negative (the correction matrix and all settings
// that keep its shape): then each product is known to join P or N, and none is zero-padded.
inline bool HasDiagonalSigns(const SplitMatrix& m) {
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            if ((i == j ? m.negative[i][j] : m.positive[i][j]) != 0) return false;
        }
    }
    return true;
}

inline bool HasConstantTerms(const SplitMatrix& m) {
    for (int j = 0; j < 3; ++j) {
        if (m.positive[3][j] != 0 || m.negative[3][j] != 0) return true;
    }
    return false;
}

// What the frame's matrix lets the 16-bit path leave out.
enum MatrixShape {
    ShapeGeneral,       // every entry may join P or N
    ShapeDiagonal,      // diagonal signs (HasDiagonalSigns)
    ShapeDiagonalPure,  // diagonal signs and no constant term
};

// Colour matrix with 16-bit accumulators: used only when no sum can pass 65535, so every
// product and sum is exact. Output channel = (P >> 6) - (N >> 6), limited when packed.
template <class V, bool UnityGains, MatrixShape Shape>
struct ColorOp16 {
    Gains<V, UnityGains> gains;
    typename V::Reg positive[4][3];
    typename V::Reg negative[4][3];

    ColorOp16(const ColorPipeline* p, const SplitMatrix& m) : gains(p) {
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 3; ++j) {
                positive[i][j] = V::Set1((SHORT)m.positive[i][j]);
                negative[i][j] = V::Set1((SHORT)m.negative[i][j]);
            }
        }
    }

    static typename V::Reg Accumulate(const Rgb16<V>& c, const typename V::Reg (&w)[4][3], int j) {
        const auto rg = V::Add(V::MulLo(c.red, w[0][j]), V::MulLo(c.green, w[1][j]));
        return V::Add(rg, V::Add(V::MulLo(c.blue, w[2][j]), w[3][j]));
    }
    PIXEL_INLINE typename V::Reg Channel(const Rgb16<V>& c, int j) const {
        if constexpr (Shape != ShapeGeneral) {
            const typename V::Reg in[3] = {c.red, c.green, c.blue};
            const int k = (j + 1) % 3;
            const int l = (j + 2) % 3;
            auto p = V::MulLo(in[j], positive[j][j]);
            auto n = V::Add(V::MulLo(in[k], negative[k][j]), V::MulLo(in[l], negative[l][j]));
            if constexpr (Shape == ShapeDiagonal) {
                p = V::Add(p, positive[3][j]);
                n = V::Add(n, negative[3][j]);
            }
            return V::Sub(V::template Srl<6>(p), V::template Srl<6>(n));
        } else {
            return V::Sub(V::template Srl<6>(Accumulate(c, positive, j)),
                          V::template Srl<6>(Accumulate(c, negative, j)));
        }
    }
    PIXEL_INLINE void Store(PUCHAR out, const Rgb16<V>& evenLevels,
                            const Rgb16<V>& oddLevels) const {
        const Rgb16<V> e = gains.Apply(evenLevels);
        const Rgb16<V> o = gains.Apply(oddLevels);
        V::StorePixels(out, Channel(e, 2), Channel(o, 2), Channel(e, 1), Channel(o, 1),
                       Channel(e, 0), Channel(o, 0));
    }
};

// Colour matrix with 32-bit sums (pmaddwd over (red, green) and (blue, 1) pairs), exact for
// every multiplier up to 32767.
template <class V>
struct ColorOp32 {
    Gains<V, false> gains;
    typename V::Reg positive[3][2];  // [channel]: (row 0, row 1) and (row 2, row 3) pairs
    typename V::Reg negative[3][2];

    static typename V::Reg Pair(LONG first, LONG second) {
        return V::Set1x32((LONG)((ULONG)first | (ULONG)second << 16));
    }
    ColorOp32(const ColorPipeline* p, const SplitMatrix& m) : gains(p) {
        for (int j = 0; j < 3; ++j) {
            positive[j][0] = Pair(m.positive[0][j], m.positive[1][j]);
            positive[j][1] = Pair(m.positive[2][j], m.positive[3][j]);
            negative[j][0] = Pair(m.negative[0][j], m.negative[1][j]);
            negative[j][1] = Pair(m.negative[2][j], m.negative[3][j]);
        }
    }

    // One output channel of half the lanes: rg and b1 are interleaved (red, green), (blue, 1).
    typename V::Reg Half(typename V::Reg rg, typename V::Reg b1, int j) const {
        const auto p = V::Add32(V::Madd(rg, positive[j][0]), V::Madd(b1, positive[j][1]));
        const auto n = V::Add32(V::Madd(rg, negative[j][0]), V::Madd(b1, negative[j][1]));
        return V::Sub32(V::template Srl32<6>(p), V::template Srl32<6>(n));
    }
    PIXEL_INLINE Rgb16<V> Matrix(const Rgb16<V>& c) const {
        const auto one = V::Set1(1);
        const auto rgLow = V::UnpackLo16(c.red, c.green);
        const auto rgHigh = V::UnpackHi16(c.red, c.green);
        const auto b1Low = V::UnpackLo16(c.blue, one);
        const auto b1High = V::UnpackHi16(c.blue, one);
        typename V::Reg out[3];
        for (int j = 0; j < 3; ++j) {
            out[j] = V::PackS32(Half(rgLow, b1Low, j), Half(rgHigh, b1High, j));
        }
        return {out[0], out[1], out[2]};
    }
    PIXEL_INLINE void Store(PUCHAR out, const Rgb16<V>& evenLevels,
                            const Rgb16<V>& oddLevels) const {
        const Rgb16<V> e = Matrix(gains.Apply(evenLevels));
        const Rgb16<V> o = Matrix(gains.Apply(oddLevels));
        V::StorePixels(out, e.blue, o.blue, e.green, o.green, e.red, o.red);
    }
};

// Luminance ((R 77) >> 8) + ((G 150) >> 8) + ((B 29) >> 8), each term one pmulhuw.
template <class V, bool UnityGains>
struct GrayOp {
    Gains<V, UnityGains> gains;

    explicit GrayOp(const ColorPipeline* p) : gains(p) {}

    static typename V::Reg Luminance(const Rgb16<V>& c) {
        const auto r = V::MulHiU(c.red, V::Set1(77 << 8));
        const auto g = V::MulHiU(c.green, V::Set1((SHORT)(150 << 8)));
        const auto b = V::MulHiU(c.blue, V::Set1(29 << 8));
        return V::Add(V::Add(r, g), b);
    }
    PIXEL_INLINE void Store(PUCHAR out, const Rgb16<V>& evenLevels,
                            const Rgb16<V>& oddLevels) const {
        const auto e = Luminance(gains.Apply(evenLevels));
        const auto o = Luminance(gains.Apply(oddLevels));
        V::StorePixels(out, e, o, e, o, e, o);
    }
};

template <class V, BayerSite EvenSite, BayerSite OddSite, class Op>
PIXEL_INLINE void ConvertChunk(const UCHAR* centre, ptrdiff_t stride, const Op& op, PUCHAR out) {
    Group<V> even, odd;
    Neighbourhoods<V>(centre, stride, even, odd);
    op.Store(out, SiteColours<V, EvenSite>(even), SiteColours<V, OddSite>(odd));
}

// First even column of the chunk that ends a row of `width` pixels (width >= one chunk): it
// overlaps the chunk before and, for an odd remainder, takes in column W as well; its reads end
// at column W+2, inside the padded row.
template <class V>
inline LONG LastChunkStart(LONG width) {
    return (width - 2 * V::kLanes + 1) & ~1;
}

// One output row. Whole chunks first, then one chunk that ends the row (see LastChunkStart),
// staged so that only the pixels x .. W-1 are stored. A row narrower than a chunk (only the
// narrowest level sees one) is one staged chunk.
template <class V, BayerSite EvenSite, BayerSite OddSite, class Op>
void ConvertRow(const UCHAR* row, ptrdiff_t stride, LONG width, const Op& op, PUCHAR out) {
    const LONG chunk = 2 * V::kLanes;
    LONG x = 0;
    for (; x + chunk <= width; x += chunk) {
        ConvertChunk<V, EvenSite, OddSite>(row + x, stride, op, out + 4 * (size_t)x);
    }
    if (x == width) return;
    const LONG last = width < chunk ? 0 : LastChunkStart<V>(width);
    UCHAR staging[4 * 2 * V::kLanes];
    ConvertChunk<V, EvenSite, OddSite>(row + last, stride, op, staging);
    memcpy(out + 4 * (size_t)x, staging + 4 * (x - last), 4 * (size_t)(width - x));
}

template <class V, int Phase, class Op>
void ConvertRows(const ColorPipeline* p, const Op& op) {
    const ptrdiff_t stride = p->workStride;
    const LONG width = p->kernelWidth;
    for (LONG y = 0; y < p->kernelHeight; ++y) {
        const UCHAR* row = p->workOrigin + y * stride;
        PUCHAR out = p->output + 4 * (size_t)y * (size_t)width;
        if (y & 1) {
            ConvertRow<V, kPhaseSites[Phase][1][0], kPhaseSites[Phase][1][1]>(row, stride, width,
                                                                              op, out);
        } else {
            ConvertRow<V, kPhaseSites[Phase][0][0], kPhaseSites[Phase][0][1]>(row, stride, width,
                                                                              op, out);
        }
    }
}

template <class V, int Phase, MatrixShape Shape>
void ConvertRows16(const ColorPipeline* p, const SplitMatrix& m) {
    if (HasUnityGains(p)) {
        ConvertRows<V, Phase>(p, ColorOp16<V, true, Shape>(p, m));
    } else {
        ConvertRows<V, Phase>(p, ColorOp16<V, false, Shape>(p, m));
    }
}

// The 16-bit matrix path with the gain and matrix shapes of this frame, chosen once.
template <class V, int Phase>
void ConvertRows16(const ColorPipeline* p, const SplitMatrix& m) {
    if (!HasDiagonalSigns(m)) {
        ConvertRows16<V, Phase, ShapeGeneral>(p, m);
    } else if (HasConstantTerms(m)) {
        ConvertRows16<V, Phase, ShapeDiagonal>(p, m);
    } else {
        ConvertRows16<V, Phase, ShapeDiagonalPure>(p, m);
    }
}

// A frame narrower than one chunk of a wide level goes to the next narrower level, whose
// chunks stay inside the padded rows.
template <class V>
inline const PixelKernelTable* NarrowerFor(const ColorPipeline* p) {
    return p->kernelWidth < 2 * V::kLanes ? V::Narrower() : nullptr;
}

template <class V, int Phase>
VOID ConvertColor(ColorPipeline* p) {
    if (p->kernelWidth <= 0 || p->kernelHeight <= 0) return;
    if (const PixelKernelTable* narrower = NarrowerFor<V>(p)) {
        narrower->convertColor[Phase](p);
        return;
    }
    SplitMatrix matrix;
    SplitKernelMatrix(p, &matrix);
    switch (matrix.width) {
        case MatrixFits16:
            ConvertRows16<V, Phase>(p, matrix);
            break;
        case MatrixFits32:
            ConvertRows<V, Phase>(p, ColorOp32<V>(p, matrix));
            break;
        case MatrixHuge:
            kReferenceKernels.convertColor[Phase](p);
            break;
    }
}

template <class V, int Phase>
VOID ConvertGray(ColorPipeline* p) {
    if (p->kernelWidth <= 0 || p->kernelHeight <= 0) return;
    if (const PixelKernelTable* narrower = NarrowerFor<V>(p)) {
        narrower->convertGray[Phase](p);
        return;
    }
    if (HasUnityGains(p)) {
        ConvertRows<V, Phase>(p, GrayOp<V, true>(p));
    } else {
        ConvertRows<V, Phase>(p, GrayOp<V, false>(p));
    }
}

// Channel sums of one row in 16-bit lanes, widened to 32 bits (pmaddwd by 1) before a lane
// can pass 32767, and added up at the end of the row.
template <class V>
struct RowSums {
    static const int kChunksPerFlush = 64;  // each chunk adds at most 2 x 255 to a lane
    typename V::Reg narrow[3];
    typename V::Reg wide[3];
    int pending = 0;

    RowSums() {
        for (int c = 0; c < 3; ++c) narrow[c] = wide[c] = V::Zero();
    }
    PIXEL_INLINE void Add(const Rgb16<V>& e, const Rgb16<V>& o) {
        narrow[0] = V::Add(narrow[0], V::Add(e.red, o.red));
        narrow[1] = V::Add(narrow[1], V::Add(e.green, o.green));
        narrow[2] = V::Add(narrow[2], V::Add(e.blue, o.blue));
        if (++pending == kChunksPerFlush) Flush();
    }
    void Flush() {
        for (int c = 0; c < 3; ++c) {
            wide[c] = V::Add32(wide[c], V::Madd(narrow[c], V::Set1(1)));
            narrow[c] = V::Zero();
        }
        pending = 0;
    }
};

template <class V>
inline Rgb16<V> Masked(const Rgb16<V>& c, typename V::Reg mask) {
    return {V::And(c.red, mask), V::And(c.green, mask), V::And(c.blue, mask)};
}

// Lanes whose column, counted from the chunk start, lies in [from, to).
template <class V>
inline typename V::Reg ColumnMask(typename V::Reg columns, LONG from, LONG to) {
    return V::And(V::CmpGt(columns, V::Set1((SHORT)(from - 1))),
                  V::CmpGt(V::Set1((SHORT)to), columns));
}

// Sums the image pixels of one row (columns 0 .. W-1). The last, overlapping or narrow,
// chunk counts only the columns not counted yet.
template <class V, BayerSite EvenSite, BayerSite OddSite>
void MeasureRow(const UCHAR* row, ptrdiff_t stride, LONG width, ULONG64 (&sums)[3]) {
    const LONG chunk = 2 * V::kLanes;
    RowSums<V> rowSums;
    Group<V> even, odd;
    LONG x = 0;
    for (; x + chunk <= width; x += chunk) {
        Neighbourhoods<V>(row + x, stride, even, odd);
        rowSums.Add(SiteColours<V, EvenSite>(even), SiteColours<V, OddSite>(odd));
    }
    if (x < width) {
        const LONG last = width < chunk ? 0 : LastChunkStart<V>(width);
        Neighbourhoods<V>(row + last, stride, even, odd);
        const auto evenColumns = V::EvenLaneColumns();
        const auto oddColumns = V::Add(evenColumns, V::Set1(1));
        rowSums.Add(Masked<V>(SiteColours<V, EvenSite>(even),
                              ColumnMask<V>(evenColumns, x - last, width - last)),
                    Masked<V>(SiteColours<V, OddSite>(odd),
                              ColumnMask<V>(oddColumns, x - last, width - last)));
    }
    rowSums.Flush();
    for (int c = 0; c < 3; ++c) sums[c] += V::Sum32(rowSums.wide[c]);
}

template <class V, int Phase>
VOID MeasureWhiteBalance(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    if (const PixelKernelTable* narrower = NarrowerFor<V>(p)) {
        narrower->measureWhiteBalance[Phase](p, red, green, blue);
        return;
    }
    const ptrdiff_t stride = p->workStride;
    ULONG64 sums[3] = {0, 0, 0};
    for (LONG y = 0; y < p->kernelHeight && p->kernelWidth > 0; ++y) {
        const UCHAR* row = p->workOrigin + y * stride;
        if (y & 1) {
            MeasureRow<V, kPhaseSites[Phase][1][0], kPhaseSites[Phase][1][1]>(row, stride,
                                                                              p->kernelWidth, sums);
        } else {
            MeasureRow<V, kPhaseSites[Phase][0][0], kPhaseSites[Phase][0][1]>(row, stride,
                                                                              p->kernelWidth, sums);
        }
    }
    WhiteBalanceGains(sums[0], sums[1], sums[2], red, green, blue);
}

template <class V>
constexpr PixelKernelTable LevelTable() {
    return {
        {ConvertColor<V, 0>, ConvertColor<V, 1>, ConvertColor<V, 2>, ConvertColor<V, 3>},
        {ConvertGray<V, 0>, ConvertGray<V, 1>, ConvertGray<V, 2>, ConvertGray<V, 3>},
        {MeasureWhiteBalance<V, 0>, MeasureWhiteBalance<V, 1>, MeasureWhiteBalance<V, 2>,
         MeasureWhiteBalance<V, 3>},
    };
}

}  // namespace
