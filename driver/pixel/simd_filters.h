// The demosaicing half of the SIMD members, written once over a vector level V of 16-bit lanes
// (V::kLanes of them): the samples of the work rows around a chunk, the partial sums the four
// filters share, and the filters. Included through simd_kernels.h only.
//
// A chunk is 2 x kLanes pixels of one row, split into the even and the odd columns; every lane
// of a group has the same site type. Two output rows are done in one pass: they read six work
// rows, so the samples of four of the rows are split once for both.
#pragma once

#include "driver/pixel/bayer_sites.h"
#include "driver/streaming/color_pipeline.h"

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

// Each sample comes from its own load at its own byte offset with the high byte of every lane
// masked off, so the split takes no shift; the pieces a row does not use are never computed.
// The reads span columns x - 2 .. x + 2 kLanes + 2.
template <class V>
PIXEL_INLINE RowSamples<V> SplitRow(const UCHAR* at) {
    const auto low = V::Set1(0xFF);
    return {V::And(V::Load(at - 2), low), V::And(V::Load(at - 1), low),
            V::And(V::Load(at), low),     V::And(V::Load(at + 1), low),
            V::And(V::Load(at + 2), low), V::And(V::Load(at + 3), low)};
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

// The even and odd groups of Rows consecutive output rows, [0] the row at `centre`.
template <class V, int Rows>
struct RowGroups {
    Group<V> even[Rows];
    Group<V> odd[Rows];
};

// Work rows -2 .. Rows + 1 around the first output row (r[k] is row k - 2). A diag is the
// vert1 of the other column group plus the same sum one column over (left of an even column,
// right of an odd one): one add fewer than two horizontal pairs.
template <class V, int Rows>
PIXEL_INLINE RowGroups<V, Rows> Neighbourhoods(const UCHAR* centre, ptrdiff_t stride) {
    RowSamples<V> r[Rows + 4];
    for (int k = 0; k < Rows + 4; ++k) r[k] = SplitRow<V>(centre + (k - 2) * stride);
    RowGroups<V, Rows> g;
    for (int t = 0; t < Rows; ++t) {
        const int c = 2 + t;
        const auto evenVert1 = V::Add(r[c - 1].even, r[c + 1].even);
        const auto oddVert1 = V::Add(r[c - 1].odd, r[c + 1].odd);
        g.even[t] = {r[c].even,
                     V::Add(r[c - 2].even, r[c + 2].even),
                     V::Add(r[c].evenLeft, r[c].evenRight),
                     evenVert1,
                     V::Add(r[c].oddLeft, r[c].odd),
                     V::Add(oddVert1, V::Add(r[c - 1].oddLeft, r[c + 1].oddLeft))};
        g.odd[t] = {r[c].odd,
                    V::Add(r[c - 2].odd, r[c + 2].odd),
                    V::Add(r[c].oddLeft, r[c].oddRight),
                    oddVert1,
                    V::Add(r[c].even, r[c].evenRight),
                    V::Add(evenVert1, V::Add(r[c - 1].evenRight, r[c + 1].evenRight))};
    }
    return g;
}

// A filter's positive and negative taps, summed apart (each at most 7140), to a level 0..255:
// the saturating difference is the sum limited below at 0, then divided by 2^Shift with
// rounding and limited to 255, as the definition orders it.
template <class V, int Shift>
PIXEL_INLINE typename V::Reg Level(typename V::Reg plus, typename V::Reg minus) {
    const auto scaled = V::template RoundingShift<Shift>(V::SubsU(plus, minus));
    return V::MinS(scaled, V::Set1(255));
}

template <class V>
PIXEL_INLINE typename V::Reg Twice(typename V::Reg a) {
    return V::Add(a, a);
}

// factor x s for one sample s (0..255) a lane and a factor that fits a signed byte. With
// pmaddubsw this is one multiply, where a 16-bit multiply by a constant is compiled into two
// shifts and an add.
template <class V>
PIXEL_INLINE typename V::Reg TimesSample(typename V::Reg sample, int factor) {
    if constexpr (V::kMultipliesBytes) {
        return V::MaddUbs(sample, V::Set1((SHORT)factor));
    } else {
        return V::MulLo(sample, V::Set1((SHORT)factor));
    }
}

// H: colour of the left and right neighbours.  vert2 + 10 c + 8 horz1 - 2 (diag + horz2)
template <class V>
PIXEL_INLINE typename V::Reg FilterH(const Group<V>& g) {
    const auto plus =
        V::Add(V::Add(g.vert2, TimesSample<V>(g.centre, 10)), V::template Sll<3>(g.horz1));
    return Level<V, 4>(plus, Twice<V>(V::Add(g.diag, g.horz2)));
}

// V: colour of the upper and lower neighbours.  horz2 + 10 c + 8 vert1 - 2 (diag + vert2)
template <class V>
PIXEL_INLINE typename V::Reg FilterV(const Group<V>& g) {
    const auto plus =
        V::Add(V::Add(g.horz2, TimesSample<V>(g.centre, 10)), V::template Sll<3>(g.vert1));
    return Level<V, 4>(plus, Twice<V>(V::Add(g.diag, g.vert2)));
}

// D: colour of the diagonal neighbours.  4 (3 c + diag) - 3 (vert2 + horz2)
template <class V>
PIXEL_INLINE typename V::Reg FilterD(const Group<V>& g) {
    const auto cross = V::Add(g.vert2, g.horz2);
    const auto plus = V::template Sll<2>(V::Add(V::Add(Twice<V>(g.centre), g.centre), g.diag));
    return Level<V, 4>(plus, V::Add(Twice<V>(cross), cross));
}

// X: green at a red or blue site, / 8.  2 (2 c + vert1 + horz1) - (vert2 + horz2)
template <class V>
PIXEL_INLINE typename V::Reg FilterX(const Group<V>& g) {
    const auto half = V::Add(V::Add(Twice<V>(g.centre), g.vert1), g.horz1);
    return Level<V, 3>(Twice<V>(half), V::Add(g.vert2, g.horz2));
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

}  // namespace
