// The SIMD members of the pixel kernels, written once over a vector level V of 16-bit lanes
// (V::kLanes of them): the row loops of the colour, grey and white-balance members and the
// table of one level. Included only by the per-level sources (kernels_sse2.cpp, ...), each
// compiled with the instructions of its level; everything here has internal linkage so no
// level's code can stand in for another's at link time.
//
// Every lane of a column group has the same site type, so each Bayer phase and row parity has
// one straight block per chunk and no test is made per pixel. The measurement takes rows in
// pairs (an even and an odd row); the work buffer holds a spare row below an odd height, so the
// pair that ends such a frame reads inside it, and that pair's second row is not counted.
#pragma once

#include "driver/pixel/pixel_kernels.h"
#include "driver/pixel/simd_filters.h"
#include "driver/pixel/simd_pixel_ops.h"

namespace {

// First even column of the chunk that ends a row of `width` pixels (width >= one chunk): it
// overlaps the chunk before and, for an odd remainder, takes in column W as well; its reads end
// at column W+3, inside the padded row.
template <class V>
inline LONG LastChunkStart(LONG width) {
    return (width - 2 * V::kLanes + 1) & ~1;
}

// Rows (one or two) output rows of one chunk, the first at `centre` on an even frame row.
template <class V, int Phase, int Rows, class Op>
PIXEL_INLINE void ConvertChunk(const UCHAR* centre, ptrdiff_t stride, const Op& op, PUCHAR out,
                               size_t outStride) {
    const RowGroups<V, Rows> g = Neighbourhoods<V, Rows>(centre, stride);
    op.Store(out, SiteColours<V, kPhaseSites[Phase][0][0]>(g.even[0]),
             SiteColours<V, kPhaseSites[Phase][0][1]>(g.odd[0]));
    if constexpr (Rows == 2) {
        op.Store(out + outStride, SiteColours<V, kPhaseSites[Phase][1][0]>(g.even[1]),
                 SiteColours<V, kPhaseSites[Phase][1][1]>(g.odd[1]));
    }
}

// Rows output rows. Whole chunks first, then one chunk that ends the rows (see
// LastChunkStart), staged so that only the pixels x .. W-1 are stored. Rows narrower than a
// chunk (only the narrowest level sees them) are one staged chunk. Given `image` (the rows in
// place, or null), a whole chunk whose reads, columns x-2 .. x+chunk+2, are all image columns
// reads there; the others lie within kWorkEdgeColumns of a row end.
template <class V, int Phase, int Rows, class Op>
void ConvertRowGroup(const UCHAR* row, ptrdiff_t stride, const UCHAR* image, ptrdiff_t pitch,
                     LONG width, const Op& op, PUCHAR out) {
    const LONG chunk = 2 * V::kLanes;
    static_assert(2 * V::kLanes + 4 <= kWorkEdgeColumns);
    const size_t outStride = 4 * (size_t)width;
    // The first chunk from the work rows, then those that end by column W-3 in place, then the
    // rest from the work rows.
    const struct {
        const UCHAR* source;
        ptrdiff_t step;
        LONG until;
    } parts[3] = {{row, stride, image != nullptr ? (chunk < width ? chunk : width) : 0},
                  {image, pitch, image != nullptr ? width - 3 : 0},
                  {row, stride, width}};
    LONG x = 0;
    for (const auto& part : parts) {
        for (; x + chunk <= part.until; x += chunk) {
            ConvertChunk<V, Phase, Rows>(part.source + x, part.step, op, out + 4 * (size_t)x,
                                         outStride);
        }
    }
    if (x == width) return;
    const LONG last = width < chunk ? 0 : LastChunkStart<V>(width);
    UCHAR staging[Rows][4 * 2 * V::kLanes];
    ConvertChunk<V, Phase, Rows>(row + last, stride, op, staging[0], sizeof staging[0]);
    for (int t = 0; t < Rows; ++t) {
        memcpy(out + t * outStride + 4 * (size_t)x, staging[t] + 4 * (x - last),
               4 * (size_t)(width - x));
    }
}

inline const UCHAR* ImageRow(const ColorPipeline* p, LONG y) {
    return p->imageRows != nullptr ? p->imageRows + (ptrdiff_t)y * p->imagePitch : nullptr;
}

// Two rows a pass: the six work rows they read are split once for both. An odd height ends
// with one row, on an even frame row.
template <class V, int Phase, class Op>
void ConvertRows(const ColorPipeline* p, const Op& op) {
    const ptrdiff_t stride = p->workStride;
    const ptrdiff_t pitch = p->imagePitch;
    const LONG width = p->kernelWidth;
    LONG y = 0;
    for (; y + 1 < p->kernelHeight; y += 2) {
        ConvertRowGroup<V, Phase, 2>(p->workOrigin + y * stride, stride, ImageRow(p, y), pitch,
                                     width, op, p->output + 4 * (size_t)y * (size_t)width);
    }
    if (y < p->kernelHeight) {
        ConvertRowGroup<V, Phase, 1>(p->workOrigin + y * stride, stride, ImageRow(p, y), pitch,
                                     width, op, p->output + 4 * (size_t)y * (size_t)width);
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
    if constexpr (V::kMultipliesBytes) {
        if (HasByteWeights(m) && HasUnityGains(p)) {
            ConvertRows<V, Phase>(p, ColorOpBytes<V, true>(p, m));
            return;
        }
        if (HasByteWeights(m)) {
            ConvertRows<V, Phase>(p, ColorOpBytes<V, false>(p, m));
            return;
        }
    }
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

template <class V>
inline Rgb16<V> Masked(const Rgb16<V>& c, typename V::Reg mask) {
    return {V::And(c.red, mask), V::And(c.green, mask), V::And(c.blue, mask)};
}

// Channel sums of one row pair in unsigned 16-bit lanes, widened to 32 bits before a lane can
// pass 65535, and added up at the end of the pair.
template <class V>
struct RowSums {
    static const int kChunksPerFlush = 64;  // each chunk adds at most 4 x 255 to a lane
    typename V::Reg narrow[3];
    typename V::Reg wide[3];
    int pending = 0;

    RowSums() {
        for (int c = 0; c < 3; ++c) narrow[c] = wide[c] = V::Zero();
    }
    template <bool Mask>
    PIXEL_INLINE void Add(Rgb16<V> e, Rgb16<V> o, typename V::Reg evenMask,
                          typename V::Reg oddMask) {
        if constexpr (Mask) {
            e = Masked<V>(e, evenMask);
            o = Masked<V>(o, oddMask);
        }
        narrow[0] = V::Add(narrow[0], V::Add(e.red, o.red));
        narrow[1] = V::Add(narrow[1], V::Add(e.green, o.green));
        narrow[2] = V::Add(narrow[2], V::Add(e.blue, o.blue));
    }
    PIXEL_INLINE void EndChunk() {
        if (++pending == kChunksPerFlush) Flush();
    }
    void Flush() {
        const auto low = V::Set1x32(0xFFFF);
        for (int c = 0; c < 3; ++c) {
            const auto halves = V::Add32(V::And(narrow[c], low), V::template Srl32<16>(narrow[c]));
            wide[c] = V::Add32(wide[c], halves);
            narrow[c] = V::Zero();
        }
        pending = 0;
    }
};

// Lanes whose column, counted from the chunk start, lies in [from, to).
template <class V>
inline typename V::Reg ColumnMask(typename V::Reg columns, LONG from, LONG to) {
    return V::And(V::CmpGt(columns, V::Set1((SHORT)(from - 1))),
                  V::CmpGt(V::Set1((SHORT)to), columns));
}

// Adds the pixels of one chunk of a row pair, of the lanes in the masks only when Mask; the
// second row only when `both`.
template <class V, int Phase, bool Mask>
PIXEL_INLINE void AddChunkPair(const RowGroups<V, 2>& g, bool both, RowSums<V>& sums,
                               typename V::Reg evenMask, typename V::Reg oddMask) {
    sums.template Add<Mask>(SiteColours<V, kPhaseSites[Phase][0][0]>(g.even[0]),
                            SiteColours<V, kPhaseSites[Phase][0][1]>(g.odd[0]), evenMask, oddMask);
    if (both) {
        sums.template Add<Mask>(SiteColours<V, kPhaseSites[Phase][1][0]>(g.even[1]),
                                SiteColours<V, kPhaseSites[Phase][1][1]>(g.odd[1]), evenMask,
                                oddMask);
    }
}

// Sums the image pixels of one row pair (columns 0 .. W-1). The last, overlapping or narrow,
// chunk counts only the columns not counted yet.
template <class V, int Phase>
void MeasureRowPair(const UCHAR* row, ptrdiff_t stride, LONG width, bool both, ULONG64 (&sums)[3]) {
    const LONG chunk = 2 * V::kLanes;
    RowSums<V> rowSums;
    const auto none = V::Zero();
    LONG x = 0;
    for (; x + chunk <= width; x += chunk) {
        AddChunkPair<V, Phase, false>(Neighbourhoods<V, 2>(row + x, stride), both, rowSums, none,
                                      none);
        rowSums.EndChunk();
    }
    if (x < width) {
        const LONG last = width < chunk ? 0 : LastChunkStart<V>(width);
        const auto evenColumns = V::EvenLaneColumns();
        const auto oddColumns = V::Add(evenColumns, V::Set1(1));
        AddChunkPair<V, Phase, true>(Neighbourhoods<V, 2>(row + last, stride), both, rowSums,
                                     ColumnMask<V>(evenColumns, x - last, width - last),
                                     ColumnMask<V>(oddColumns, x - last, width - last));
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
    for (LONG y = 0; y < p->kernelHeight && p->kernelWidth > 0; y += 2) {
        MeasureRowPair<V, Phase>(p->workOrigin + y * stride, stride, p->kernelWidth,
                                 y + 1 < p->kernelHeight, sums);
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
