// The AVX2 level: sixteen 16-bit lanes, 32 pixels a chunk. Compiled with -mavx2 and reached
// only through the table after the CPU check.
#include <immintrin.h>

#include "driver/pixel/simd_kernels.h"

namespace {

struct Avx2 {
    using Reg = __m256i;
    static const int kLanes = 16;
    static const bool kMultipliesBytes = true;  // pmaddubsw

    static const PixelKernelTable* Narrower() { return &kSse2Kernels; }

    static Reg Load(const UCHAR* p) { return _mm256_loadu_si256((const __m256i*)p); }
    static Reg Zero() { return _mm256_setzero_si256(); }
    static Reg Set1(SHORT v) { return _mm256_set1_epi16(v); }
    static Reg Set1x32(LONG v) { return _mm256_set1_epi32(v); }
    static Reg EvenLaneColumns() {
        return _mm256_setr_epi16(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    }
    static Reg Add(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm256_sub_epi16(a, b); }
    static Reg Add32(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
    static Reg Sub32(Reg a, Reg b) { return _mm256_sub_epi32(a, b); }
    static Reg And(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm256_or_si256(a, b); }
    static Reg SubsU(Reg a, Reg b) { return _mm256_subs_epu16(a, b); }
    static Reg MinS(Reg a, Reg b) { return _mm256_min_epi16(a, b); }
    static Reg MinU(Reg a, Reg b) { return _mm256_min_epu16(a, b); }
    static Reg MulLo(Reg a, Reg b) { return _mm256_mullo_epi16(a, b); }
    static Reg MulHiU(Reg a, Reg b) { return _mm256_mulhi_epu16(a, b); }
    static Reg MaddUbs(Reg bytes, Reg weights) { return _mm256_maddubs_epi16(bytes, weights); }
    static Reg Madd(Reg a, Reg b) { return _mm256_madd_epi16(a, b); }
    static Reg CmpGt(Reg a, Reg b) { return _mm256_cmpgt_epi16(a, b); }
    static Reg UnpackLo16(Reg a, Reg b) { return _mm256_unpacklo_epi16(a, b); }
    static Reg UnpackHi16(Reg a, Reg b) { return _mm256_unpackhi_epi16(a, b); }
    static Reg PackS32(Reg a, Reg b) { return _mm256_packs_epi32(a, b); }
    template <int N>
    static Reg Srl(Reg a) {
        return _mm256_srli_epi16(a, N);
    }
    template <int N>
    static Reg Sll(Reg a) {
        return _mm256_slli_epi16(a, N);
    }
    template <int N>
    static Reg Srl32(Reg a) {
        return _mm256_srli_epi32(a, N);
    }
    // floor((a + 2^(N-1)) / 2^N) for signed lanes, as one pmulhrsw by 2^(15-N).
    template <int N>
    static Reg RoundingShift(Reg a) {
        return _mm256_mulhrs_epi16(a, _mm256_set1_epi16(1 << (15 - N)));
    }

    static ULONG64 Sum32(Reg v) {
        __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        s = _mm_add_epi32(s, _mm_unpackhi_epi64(s, s));
        s = _mm_add_epi32(s, _mm_srli_si128(s, 4));
        return (ULONG)_mm_cvtsi128_si32(s);
    }

    // 32 pixels of blue, green, red, 255 from the even- and odd-column levels (packing limits
    // them to 0..255). Per 128-bit half, packing the blue and green levels of the even and the
    // odd columns together lets one unpack put each channel in column order. One dword permute
    // of each channel then puts the groups of four pixels 0, 2, 4, 6 in the low half and 1, 3,
    // 5, 7 in the high half, so that the two in-lane unpacks leave pixels 0-7, 8-15, 16-23 and
    // 24-31 in one register each.
    static void StorePixels(PUCHAR out, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        const Reg groups = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
        const Reg bgEven = _mm256_packus_epi16(be, ge);
        const Reg bgOdd = _mm256_packus_epi16(bo, go);
        const Reg b = _mm256_permutevar8x32_epi32(_mm256_unpacklo_epi8(bgEven, bgOdd), groups);
        const Reg g = _mm256_permutevar8x32_epi32(_mm256_unpackhi_epi8(bgEven, bgOdd), groups);
        const Reg interleave =
            _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2,
                             10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
        const Reg r = _mm256_permutevar8x32_epi32(
            _mm256_shuffle_epi8(_mm256_packus_epi16(re, ro), interleave), groups);
        const Reg alpha = _mm256_set1_epi8((char)0xFF);
        const Reg bgLow = _mm256_unpacklo_epi8(b, g);
        const Reg bgHigh = _mm256_unpackhi_epi8(b, g);
        const Reg raLow = _mm256_unpacklo_epi8(r, alpha);
        const Reg raHigh = _mm256_unpackhi_epi8(r, alpha);
        _mm256_storeu_si256((__m256i*)out, _mm256_unpacklo_epi16(bgLow, raLow));
        _mm256_storeu_si256((__m256i*)(out + 32), _mm256_unpackhi_epi16(bgLow, raLow));
        _mm256_storeu_si256((__m256i*)(out + 64), _mm256_unpacklo_epi16(bgHigh, raHigh));
        _mm256_storeu_si256((__m256i*)(out + 96), _mm256_unpackhi_epi16(bgHigh, raHigh));
    }
};

}  // namespace

extern const PixelKernelTable kAvx2Kernels = LevelTable<Avx2>();
