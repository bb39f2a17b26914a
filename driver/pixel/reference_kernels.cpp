// The scalar reference of the twelve pixel kernels: one pixel at a time, written to read like
// the definition. The SIMD members are tested against it byte for byte. It reads image columns
// -2 .. W+1 of rows -2 .. H+1 only, and computes no pixel past column W-1.
#include "driver/pixel/bayer_sites.h"
#include "driver/pixel/pixel_levels.h"
#include "driver/streaming/color_pipeline.h"

namespace {

struct Rgb {
    int red;
    int green;
    int blue;
};

// The samples a member reads: the work buffer, or the image columns in place when the
// pipeline gives imageRows.
class WorkBuffer {
  public:
    explicit WorkBuffer(const ColorPipeline* p)
        : origin_(p->workOrigin),
          stride_(p->workStride),
          image_(p->imageRows),
          pitch_(p->imagePitch),
          width_(p->kernelWidth) {}

    int At(int y, int x) const {
        if (image_ != nullptr && x >= 0 && x < width_) return image_[(ptrdiff_t)y * pitch_ + x];
        return origin_[(ptrdiff_t)y * stride_ + x];
    }

  private:
    const UCHAR* origin_;
    ptrdiff_t stride_;
    const UCHAR* image_;
    ptrdiff_t pitch_;
    int width_;
};

// A filter sum s (-3060 .. 7140) to a level: negative sums are 0, then divide with rounding
// and limit to 255.
int FilterLevel(int s, int shift) {
    if (s <= 0) s = 0;
    const int level = (s + (1 << (shift - 1))) >> shift;
    return level < 255 ? level : 255;
}

//        +1
//     -2    -2
//  -2 +8 +10 +8 -2      colour of the left and right neighbours, / 16
//     -2    -2
//        +1
int FilterH(const WorkBuffer& w, int y, int x) {
    const int s =
        w.At(y - 2, x) + w.At(y + 2, x) -
        2 * (w.At(y - 1, x - 1) + w.At(y - 1, x + 1) + w.At(y + 1, x - 1) + w.At(y + 1, x + 1)) -
        2 * (w.At(y, x - 2) + w.At(y, x + 2)) + 8 * (w.At(y, x - 1) + w.At(y, x + 1)) +
        10 * w.At(y, x);
    return FilterLevel(s, 4);
}

//        -2
//     -2 +8 -2
//  +1    +10    +1      colour of the upper and lower neighbours, / 16
//     -2 +8 -2
//        -2
int FilterV(const WorkBuffer& w, int y, int x) {
    const int s =
        -2 * (w.At(y - 2, x) + w.At(y + 2, x)) -
        2 * (w.At(y - 1, x - 1) + w.At(y - 1, x + 1) + w.At(y + 1, x - 1) + w.At(y + 1, x + 1)) +
        8 * (w.At(y - 1, x) + w.At(y + 1, x)) + w.At(y, x - 2) + w.At(y, x + 2) + 10 * w.At(y, x);
    return FilterLevel(s, 4);
}

//        -3
//     +4    +4
//  -3    +12    -3      colour of the diagonal neighbours, / 16
//     +4    +4
//        -3
int FilterD(const WorkBuffer& w, int y, int x) {
    const int s =
        -3 * (w.At(y - 2, x) + w.At(y + 2, x) + w.At(y, x - 2) + w.At(y, x + 2)) +
        4 * (w.At(y - 1, x - 1) + w.At(y - 1, x + 1) + w.At(y + 1, x - 1) + w.At(y + 1, x + 1)) +
        12 * w.At(y, x);
    return FilterLevel(s, 4);
}

//        -1
//        +2
//  -1 +2 +4 +2 -1       green at a red or blue site, / 8
//        +2
//        -1
int FilterX(const WorkBuffer& w, int y, int x) {
    const int s = -(w.At(y - 2, x) + w.At(y + 2, x) + w.At(y, x - 2) + w.At(y, x + 2)) +
                  2 * (w.At(y - 1, x) + w.At(y + 1, x) + w.At(y, x - 1) + w.At(y, x + 1)) +
                  4 * w.At(y, x);
    return FilterLevel(s, 3);
}

Rgb DemosaicPixel(const WorkBuffer& w, BayerSite site, int y, int x) {
    switch (site) {
        case SiteGreenInRedRow:
            return {FilterH(w, y, x), w.At(y, x), FilterV(w, y, x)};
        case SiteGreenInBlueRow:
            return {FilterV(w, y, x), w.At(y, x), FilterH(w, y, x)};
        case SiteRed:
            return {w.At(y, x), FilterX(w, y, x), FilterD(w, y, x)};
        case SiteBlue:
        default:
            return {FilterD(w, y, x), FilterX(w, y, x), w.At(y, x)};
    }
}

// Only the low 16 bits of a gain count; the product is exact and limited to 255.
int ApplyGain(int level, ULONG gain) {
    const LONG64 scaled = ((LONG64)level * (gain & 0xFFFF)) >> 7;
    return scaled < 255 ? (int)scaled : 255;
}

Rgb ApplyGains(const ColorPipeline* p, Rgb c) {
    return {ApplyGain(c.red, p->kernelRedGain), ApplyGain(c.green, p->kernelGreenGain),
            ApplyGain(c.blue, p->kernelBlueGain)};
}

// Output channel j of the colour matrix: positive and negative terms summed apart (exactly,
// they never wrap), each sum shifted down by itself, the difference limited to 0..255.
int MatrixChannel(const ColorPipeline* p, Rgb c, int j) {
    const LONG64 inputs[4] = {c.red, c.green, c.blue, 1};
    LONG64 positive = 0;
    LONG64 negative = 0;
    for (int i = 0; i < 4; ++i) {
        const LONG64 entry = p->kernelMatrix[4 * i + j];
        const LONG64 term = inputs[i] * (entry < 0 ? -entry : entry);
        if (p->matrixPositive[4 * i + j]) {
            positive += term;
        } else {
            negative += term;
        }
    }
    const LONG64 value = (positive >> 6) - (negative >> 6);
    return value < 0 ? 0 : (value > 255 ? 255 : (int)value);
}

void StorePixel(PUCHAR out, int red, int green, int blue) {
    out[0] = (UCHAR)blue;
    out[1] = (UCHAR)green;
    out[2] = (UCHAR)red;
    out[3] = 255;
}

// Luminance, each product shifted on its own: at most 253.
int Luminance(Rgb c) { return ((c.red * 77) >> 8) + ((c.green * 150) >> 8) + ((c.blue * 29) >> 8); }

template <int Phase>
VOID ReferenceColor(ColorPipeline* p) {
    const WorkBuffer w(p);
    PUCHAR out = p->output;
    for (int y = 0; y < p->kernelHeight; ++y) {
        for (int x = 0; x < p->kernelWidth; ++x, out += 4) {
            const Rgb c = ApplyGains(p, DemosaicPixel(w, kPhaseSites[Phase][y & 1][x & 1], y, x));
            StorePixel(out, MatrixChannel(p, c, 0), MatrixChannel(p, c, 1), MatrixChannel(p, c, 2));
        }
    }
}

template <int Phase>
VOID ReferenceGray(ColorPipeline* p) {
    const WorkBuffer w(p);
    PUCHAR out = p->output;
    for (int y = 0; y < p->kernelHeight; ++y) {
        for (int x = 0; x < p->kernelWidth; ++x, out += 4) {
            const Rgb c = ApplyGains(p, DemosaicPixel(w, kPhaseSites[Phase][y & 1][x & 1], y, x));
            const int level = Luminance(c);
            StorePixel(out, level, level, level);
        }
    }
}

// Sums the image pixels only (x < W): columns past the image hold no image data.
template <int Phase>
VOID ReferenceMeasure(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    const WorkBuffer w(p);
    ULONG64 sums[3] = {0, 0, 0};
    for (int y = 0; y < p->kernelHeight; ++y) {
        for (int x = 0; x < p->kernelWidth; ++x) {
            const Rgb c = DemosaicPixel(w, kPhaseSites[Phase][y & 1][x & 1], y, x);
            sums[0] += c.red;
            sums[1] += c.green;
            sums[2] += c.blue;
        }
    }
    WhiteBalanceGains(sums[0], sums[1], sums[2], red, green, blue);
}

}  // namespace

extern const PixelKernelTable kReferenceKernels = {
    {ReferenceColor<0>, ReferenceColor<1>, ReferenceColor<2>, ReferenceColor<3>},
    {ReferenceGray<0>, ReferenceGray<1>, ReferenceGray<2>, ReferenceGray<3>},
    {ReferenceMeasure<0>, ReferenceMeasure<1>, ReferenceMeasure<2>, ReferenceMeasure<3>},
};
