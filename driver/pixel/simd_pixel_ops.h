// The colour half of the SIMD members: the gain step, the colour matrix at the widths the
// frame's snapshot allows, and grey luminance; each op stores one chunk of one row from the
// levels of its even and odd columns. Included through simd_kernels.h only.
#pragma once

#include "driver/pixel/pixel_levels.h"
#include "driver/pixel/simd_filters.h"

namespace {

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

// True for diagonal signs without constant terms whose two negative entries of each channel
// fit a signed byte and whose negative sum N stays below 32768.
inline bool HasByteWeights(const SplitMatrix& m) {
    if (!HasDiagonalSigns(m) || HasConstantTerms(m)) return false;
    for (int j = 0; j < 3; ++j) {
        const LONG k = m.negative[(j + 1) % 3][j];
        const LONG l = m.negative[(j + 2) % 3][j];
        if (k > 127 || l > 127 || 255 * (k + l) > 32767) return false;
    }
    return true;
}

// The colour matrix for HasByteWeights on levels that multiply bytes: N of channel j is one
// pmaddubsw over the byte pair of its two other inputs, and P >> 6 is one pmulhuw of its own
// input moved to the high byte by 4 a (a <= 257 for a 16-bit P), which is a c / 64 rounded
// down exactly. N never reaches the signed limit of pmaddubsw, so every sum is exact.
template <class V, bool UnityGains>
struct ColorOpBytes {
    Gains<V, UnityGains> gains;
    typename V::Reg positive[3];  // 4 a of channel j
    typename V::Reg negative[3];  // the entries of inputs j + 1 and j + 2 as low and high byte

    ColorOpBytes(const ColorPipeline* p, const SplitMatrix& m) : gains(p) {
        for (int j = 0; j < 3; ++j) {
            positive[j] = V::Set1((SHORT)(4 * m.positive[j][j]));
            const LONG k = m.negative[(j + 1) % 3][j];
            const LONG l = m.negative[(j + 2) % 3][j];
            negative[j] = V::Set1((SHORT)(k | l << 8));
        }
    }

    PIXEL_INLINE void Matrix(const Rgb16<V>& c, typename V::Reg (&out)[3]) const {
        const typename V::Reg in[3] = {c.red, c.green, c.blue};
        typename V::Reg high[3];
        for (int j = 0; j < 3; ++j) high[j] = V::template Sll<8>(in[j]);
        for (int j = 0; j < 3; ++j) {
            const auto pair = V::Or(in[(j + 1) % 3], high[(j + 2) % 3]);
            const auto n = V::MaddUbs(pair, negative[j]);
            out[j] = V::Sub(V::MulHiU(high[j], positive[j]), V::template Srl<6>(n));
        }
    }
    PIXEL_INLINE void Store(PUCHAR out, const Rgb16<V>& evenLevels,
                            const Rgb16<V>& oddLevels) const {
        typename V::Reg e[3], o[3];
        Matrix(gains.Apply(evenLevels), e);
        Matrix(gains.Apply(oddLevels), o);
        V::StorePixels(out, e[2], o[2], e[1], o[1], e[0], o[0]);
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

}  // namespace
