// The AVX-512BW level: thirty-two 16-bit lanes, 64 pixels a chunk. Compiled with -mavx512bw
// and reached only through the table after the CPU check.
// GCC 12's AVX-512 intrinsics start results from a self-initialised "undefined" register and
// then warn about it where they are inlined (GCC bug 105593); the warning is about the header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "driver/pixel/simd_kernels.h"

namespace {

struct Avx512 {
    using Reg = __m512i;
    static const int kLanes = 32;
    static const bool kMultipliesBytes = true;  // pmaddubsw

    static const PixelKernelTable* Narrower() { return &kAvx2Kernels; }

    static Reg Load(const UCHAR* p) { return _mm512_loadu_si512((const void*)p); }
    static Reg Zero() { return _mm512_setzero_si512(); }
    static Reg Set1(SHORT v) { return _mm512_set1_epi16(v); }
    static Reg Set1x32(LONG v) { return _mm512_set1_epi32(v); }
    static Reg EvenLaneColumns() {
        return _mm512_set_epi16(62, 60, 58, 56, 54, 52, 50, 48, 46, 44, 42, 40, 38, 36, 34, 32, 30,
                                28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
    }
    static Reg Add(Reg a, Reg b) { return _mm512_add_epi16(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm512_sub_epi16(a, b); }
    static Reg Add32(Reg a, Reg b) { return _mm512_add_epi32(a, b); }
    static Reg Sub32(Reg a, Reg b) { return _mm512_sub_epi32(a, b); }
    static Reg And(Reg a, Reg b) { return _mm512_and_si512(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm512_or_si512(a, b); }
    static Reg SubsU(Reg a, Reg b) { return _mm512_subs_epu16(a, b); }
    static Reg MinS(Reg a, Reg b) { return _mm512_min_epi16(a, b); }
    static Reg MinU(Reg a, Reg b) { return _mm512_min_epu16(a, b); }
    static Reg MulLo(Reg a, Reg b) { return _mm512_mullo_epi16(a, b); }
    static Reg MulHiU(Reg a, Reg b) { return _mm512_mulhi_epu16(a, b); }
    static Reg MaddUbs(Reg bytes, Reg weights) { return _mm512_maddubs_epi16(bytes, weights); }
    static Reg Madd(Reg a, Reg b) { return _mm512_madd_epi16(a, b); }
    static Reg CmpGt(Reg a, Reg b) { return _mm512_movm_epi16(_mm512_cmpgt_epi16_mask(a, b)); }
    static Reg UnpackLo16(Reg a, Reg b) { return _mm512_unpacklo_epi16(a, b); }
    static Reg UnpackHi16(Reg a, Reg b) { return _mm512_unpackhi_epi16(a, b); }
    static Reg PackS32(Reg a, Reg b) { return _mm512_packs_epi32(a, b); }
    template <int N>
    static Reg Srl(Reg a) {
        return _mm512_srli_epi16(a, N);
    }
    template <int N>
    static Reg Sll(Reg a) {
        return _mm512_slli_epi16(a, N);
    }
    template <int N>
    static Reg Srl32(Reg a) {
        return _mm512_srli_epi32(a, N);
    }
    // floor((a + 2^(N-1)) / 2^N) for signed lanes, as one pmulhrsw by 2^(15-N).
    template <int N>
    static Reg RoundingShift(Reg a) {
        return _mm512_mulhrs_epi16(a, _mm512_set1_epi16(1 << (15 - N)));
    }

    static ULONG64 Sum32(Reg v) { return (ULONG)_mm512_reduce_add_epi32(v); }

    // Per 128-bit quarter: even and odd column levels to 16 pixel bytes in column order.
    static Reg Interleave(Reg even, Reg odd) {
        const Reg bytes = _mm512_packus_epi16(even, odd);
        return _mm512_unpacklo_epi8(bytes, _mm512_unpackhi_epi64(bytes, bytes));
    }

    // 64 pixels of blue, green, red, 255. The unpacks work within 128-bit quarters, so q0 holds
    // pixels (0-3 | 16-19 | 32-35 | 48-51), q1 the next four of each quarter, and so on; two
    // rounds of quarter permutes put them in column order.
    static void StorePixels(PUCHAR out, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        const Reg b = Interleave(be, bo);
        const Reg g = Interleave(ge, go);
        const Reg r = Interleave(re, ro);
        const Reg alpha = _mm512_set1_epi8((char)0xFF);
        const Reg bgLow = _mm512_unpacklo_epi8(b, g);
        const Reg bgHigh = _mm512_unpackhi_epi8(b, g);
        const Reg raLow = _mm512_unpacklo_epi8(r, alpha);
        const Reg raHigh = _mm512_unpackhi_epi8(r, alpha);
        const Reg q0 = _mm512_unpacklo_epi16(bgLow, raLow);
        const Reg q1 = _mm512_unpackhi_epi16(bgLow, raLow);
        const Reg q2 = _mm512_unpacklo_epi16(bgHigh, raHigh);
        const Reg q3 = _mm512_unpackhi_epi16(bgHigh, raHigh);
        // 128-bit quarters 0 and 2 of each source (kEven), or 1 and 3 (kOdd), as 64-bit pairs.
        const Reg kEven = _mm512_setr_epi64(0, 1, 4, 5, 8, 9, 12, 13);
        const Reg kOdd = _mm512_setr_epi64(2, 3, 6, 7, 10, 11, 14, 15);
        const Reg t0 = _mm512_permutex2var_epi64(q0, kEven, q1);  // 0-3 32-35 4-7 36-39
        const Reg t1 = _mm512_permutex2var_epi64(q0, kOdd, q1);   // 16-19 48-51 20-23 52-55
        const Reg t2 = _mm512_permutex2var_epi64(q2, kEven, q3);  // 8-11 40-43 12-15 44-47
        const Reg t3 = _mm512_permutex2var_epi64(q2, kOdd, q3);   // 24-27 56-59 28-31 60-63
        _mm512_storeu_si512((void*)out, _mm512_permutex2var_epi64(t0, kEven, t2));
        _mm512_storeu_si512((void*)(out + 64), _mm512_permutex2var_epi64(t1, kEven, t3));
        _mm512_storeu_si512((void*)(out + 128), _mm512_permutex2var_epi64(t0, kOdd, t2));
        _mm512_storeu_si512((void*)(out + 192), _mm512_permutex2var_epi64(t1, kOdd, t3));
    }
};

}  // namespace

extern const PixelKernelTable kAvx512Kernels = LevelTable<Avx512>();
