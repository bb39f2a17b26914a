// The SSE2 level: eight 16-bit lanes, 16 pixels a chunk. SSE2 is part of the x86-64 baseline,
// so this level runs everywhere and takes the rows narrower than a wider level's chunk.
#include <emmintrin.h>

#include "driver/pixel/simd_kernels.h"

namespace {

struct Sse2 {
    using Reg = __m128i;
    static const int kLanes = 8;
    static const bool kMultipliesBytes = false;  // pmaddubsw

    static const PixelKernelTable* Narrower() { return nullptr; }

    static Reg Load(const UCHAR* p) { return _mm_loadu_si128((const __m128i*)p); }
    static Reg Zero() { return _mm_setzero_si128(); }
    static Reg Set1(SHORT v) { return _mm_set1_epi16(v); }
    static Reg Set1x32(LONG v) { return _mm_set1_epi32(v); }
    static Reg EvenLaneColumns() { return _mm_setr_epi16(0, 2, 4, 6, 8, 10, 12, 14); }
    static Reg Add(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm_sub_epi16(a, b); }
    static Reg Add32(Reg a, Reg b) { return _mm_add_epi32(a, b); }
    static Reg Sub32(Reg a, Reg b) { return _mm_sub_epi32(a, b); }
    static Reg And(Reg a, Reg b) { return _mm_and_si128(a, b); }
    static Reg SubsU(Reg a, Reg b) { return _mm_subs_epu16(a, b); }
    static Reg MinS(Reg a, Reg b) { return _mm_min_epi16(a, b); }
    // No pminuw before SSE4.1: a - (a -sat b) is min(a, b) for unsigned lanes.
    static Reg MinU(Reg a, Reg b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }
    static Reg MulLo(Reg a, Reg b) { return _mm_mullo_epi16(a, b); }
    static Reg MulHiU(Reg a, Reg b) { return _mm_mulhi_epu16(a, b); }
    static Reg Madd(Reg a, Reg b) { return _mm_madd_epi16(a, b); }
    static Reg CmpGt(Reg a, Reg b) { return _mm_cmpgt_epi16(a, b); }
    static Reg UnpackLo16(Reg a, Reg b) { return _mm_unpacklo_epi16(a, b); }
    static Reg UnpackHi16(Reg a, Reg b) { return _mm_unpackhi_epi16(a, b); }
    static Reg PackS32(Reg a, Reg b) { return _mm_packs_epi32(a, b); }
    template <int N>
    static Reg Srl(Reg a) {
        return _mm_srli_epi16(a, N);
    }
    template <int N>
    static Reg Sll(Reg a) {
        return _mm_slli_epi16(a, N);
    }
    template <int N>
    static Reg Srl32(Reg a) {
        return _mm_srli_epi32(a, N);
    }
    // floor((a + 2^(N-1)) / 2^N) for signed lanes.
    template <int N>
    static Reg RoundingShift(Reg a) {
        return _mm_srai_epi16(_mm_add_epi16(a, _mm_set1_epi16(1 << (N - 1))), N);
    }

    static ULONG64 Sum32(Reg v) {
        const Reg pairs = _mm_add_epi32(v, _mm_unpackhi_epi64(v, v));
        const Reg total = _mm_add_epi32(pairs, _mm_srli_si128(pairs, 4));
        return (ULONG)_mm_cvtsi128_si32(total);
    }

    // Even and odd column levels to 16 pixel bytes in column order (packing limits to 0..255).
    static Reg Interleave(Reg even, Reg odd) {
        const Reg bytes = _mm_packus_epi16(even, odd);
        return _mm_unpacklo_epi8(bytes, _mm_unpackhi_epi64(bytes, bytes));
    }

    // 16 pixels of blue, green, red, 255 from the even- and odd-column levels.
    static void StorePixels(PUCHAR out, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        const Reg b = Interleave(be, bo);
        const Reg g = Interleave(ge, go);
        const Reg r = Interleave(re, ro);
        const Reg alpha = _mm_set1_epi8((char)0xFF);
        const Reg bgLow = _mm_unpacklo_epi8(b, g);
        const Reg bgHigh = _mm_unpackhi_epi8(b, g);
        const Reg raLow = _mm_unpacklo_epi8(r, alpha);
        const Reg raHigh = _mm_unpackhi_epi8(r, alpha);
        _mm_storeu_si128((__m128i*)out, _mm_unpacklo_epi16(bgLow, raLow));
        _mm_storeu_si128((__m128i*)(out + 16), _mm_unpackhi_epi16(bgLow, raLow));
        _mm_storeu_si128((__m128i*)(out + 32), _mm_unpacklo_epi16(bgHigh, raHigh));
        _mm_storeu_si128((__m128i*)(out + 48), _mm_unpackhi_epi16(bgHigh, raHigh));
    }
};

}  // namespace

extern const PixelKernelTable kSse2Kernels = LevelTable<Sse2>();
