// The adjustment matrices of a ColorPipeline and their Q6 product. Every matrix is row-major
// 4 x 4 and acts on the row vector (R, G, B, 1). Constants are single-precision values widened
// to double, and the contrast, saturation and hue steps compute in single precision where the
// pipeline always has, so the fixed-point result is reproducible to the last unit.
#include "driver/streaming/color_pipeline.h"
#include "driver/streaming/single_math.h"

namespace {

// Luminance weights of saturation and hue.
const double kWeightRed = (double)0.3086f;
const double kWeightGreen = (double)0.6094f;
const double kWeightBlue = (double)0.082f;

// Colour correction, rows = input R, G, B; every column sums to 1 so grey stays grey.
const double kCorrection[9] = {
    (double)1.36f,  (double)-0.25f, (double)-0.1f,   //
    (double)-0.22f, (double)1.4f,   (double)-0.32f,  //
    (double)-0.14f, (double)-0.15f, (double)1.42f,   //
};

void SetIdentity(double* m) {
    for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0 : 0.0;
}

// Contrast and saturation factor: 10 is neutral, 0 gives 0, 20 gives 2.
double AdjustmentFactor(LONG value) {
    const LONG limited = value < 20 ? value : 20;
    const float k = ((float)limited - 10.0f) * 0.1f + 1.0f;
    return (double)k;
}

LONG RoundQ6(double x) {
    double y = x * 64.0;
    // Keeps the conversion defined even for a nonsensical matrix.
    if (y > 2147483647.0) y = 2147483647.0;
    if (y < -2147483647.0) y = -2147483647.0;
    return y >= 0.0 ? (LONG)(y + 0.5) : (LONG)(y - 0.5);
}

// Caller holds matrixLock.
void CombineLocked(ColorPipeline* p) {
    MultiplyMatrix(p->baseMatrix, p->correctionMatrix, p->combinedMatrix);
    MultiplyMatrix(p->combinedMatrix, p->contrastMatrix, p->combinedMatrix);
    MultiplyMatrix(p->combinedMatrix, p->brightnessMatrix, p->combinedMatrix);
    MultiplyMatrix(p->combinedMatrix, p->saturationMatrix, p->combinedMatrix);
    MultiplyMatrix(p->combinedMatrix, p->hueMatrix, p->combinedMatrix);
    for (int i = 0; i < 16; ++i) p->matrixFixed[i] = RoundQ6(p->combinedMatrix[i]);
}

void SetCorrection(double* m, LONG enabled) {
    SetIdentity(m);
    if (enabled == 0) return;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) m[4 * row + col] = kCorrection[3 * row + col];
    }
}

// M = M x T for the rotation about the red axis: rows (1 0 0), (0 c s), (0 -s c).
void RotateRed(double* m, double s, double c) {
    double t[16];
    SetIdentity(t);
    t[5] = c;
    t[6] = s;
    t[9] = -s;
    t[10] = c;
    MultiplyMatrix(t, m, m);
}

// M = M x T for the rotation about the green axis: rows (c 0 -s), (0 1 0), (s 0 c).
void RotateGreen(double* m, double s, double c) {
    double t[16];
    SetIdentity(t);
    t[0] = c;
    t[2] = -s;
    t[8] = s;
    t[10] = c;
    MultiplyMatrix(t, m, m);
}

// M = M x T for the rotation about the blue axis: rows (c s 0), (-s c 0), (0 0 1).
void RotateBlue(double* m, double s, double c) {
    double t[16];
    SetIdentity(t);
    t[0] = c;
    t[1] = s;
    t[4] = -s;
    t[5] = c;
    MultiplyMatrix(t, m, m);
}

// M = M x T for the shear of the blue axis: rows (1 0 dx), (0 1 dy), (0 0 1).
void ShearBlue(double* m, double dx, double dy) {
    double t[16];
    SetIdentity(t);
    t[2] = dx;
    t[6] = dy;
    MultiplyMatrix(t, m, m);
}

// Rotation about the grey axis that keeps luminance: turn grey onto blue, shear so the
// luminance vector stays put, rotate about blue, undo the first two steps.
void SetHue(double* m, LONG degrees) {
    SetIdentity(m);
    const double mag = 1.0 / (double)SquareRootSingle(2.0f);
    RotateRed(m, mag, mag);
    const double q2 = (double)SquareRootSingle(2.0f);
    const double q3 = (double)SquareRootSingle(3.0f);
    const double ys = -1.0 / q3;
    const double yc = q2 / q3;
    RotateGreen(m, ys, yc);

    double lum[3];
    for (int j = 0; j < 3; ++j) {
        lum[j] = kWeightRed * m[j] + kWeightGreen * m[4 + j] + kWeightBlue * m[8 + j] + m[12 + j];
    }
    const double zx = lum[0] / lum[2];
    const double zy = lum[1] / lum[2];
    ShearBlue(m, zx, zy);

    const float angle = (float)degrees * 3.1415927f / 180.0f;
    RotateBlue(m, (double)SineSingle(angle), (double)CosineSingle(angle));
    ShearBlue(m, -zx, -zy);
    RotateGreen(m, -ys, yc);
    RotateRed(m, -mag, mag);
}

void SetSaturation(double* m, LONG value) {
    const double k = AdjustmentFactor(value);
    const double weights[3] = {(1.0 - k) * kWeightRed, (1.0 - k) * kWeightGreen,
                               (1.0 - k) * kWeightBlue};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            m[4 * row + col] = weights[row] + (row == col ? k : 0.0);
        }
    }
}

// Runs one builder step and the combination under the matrix lock.
template <class Step>
void Rebuild(ColorPipeline* p, Step step) {
    const KIRQL oldIrql = KeAcquireSpinLockRaiseToDpc(&p->matrixLock);
    step();
    CombineLocked(p);
    KeReleaseSpinLock(&p->matrixLock, oldIrql);
}

}  // namespace

VOID MultiplyMatrix(const double* a, const double* b, double* out) {
    double product[16];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += b[4 * i + k] * a[4 * k + j];
            product[4 * i + j] = sum;
        }
    }
    memcpy(out, product, sizeof(product));
}

VOID CombineMatrices(ColorPipeline* pipeline) {
    Rebuild(pipeline, [] {});
}

VOID InitMatrices(ColorPipeline* pipeline) {
    Rebuild(pipeline, [pipeline] {
        SetIdentity(pipeline->baseMatrix);
        SetIdentity(pipeline->brightnessMatrix);
        SetIdentity(pipeline->contrastMatrix);
        SetIdentity(pipeline->saturationMatrix);
        SetIdentity(pipeline->hueMatrix);
        SetIdentity(pipeline->combinedMatrix);
        SetCorrection(pipeline->correctionMatrix, 1);
    });
}

VOID BuildCorrectionMatrix(ColorPipeline* pipeline, LONG enabled) {
    Rebuild(pipeline, [pipeline, enabled] { SetCorrection(pipeline->correctionMatrix, enabled); });
}

VOID BuildBrightnessMatrix(ColorPipeline* pipeline, LONG value) {
    Rebuild(pipeline, [pipeline, value] {
        const double d = (double)((value < 510 ? value : 510) - 255);
        double* m = pipeline->brightnessMatrix;
        SetIdentity(m);
        m[12] = d;
        m[13] = d;
        m[14] = d;
    });
}

VOID BuildContrastMatrix(ColorPipeline* pipeline, LONG value) {
    Rebuild(pipeline, [pipeline, value] {
        const double k = AdjustmentFactor(value);
        const double t = k * -128.0 + 128.0;
        double* m = pipeline->contrastMatrix;
        SetIdentity(m);
        for (int i = 0; i < 3; ++i) {
            m[5 * i] = k;
            m[12 + i] = t;
        }
    });
}

VOID BuildSaturationMatrix(ColorPipeline* pipeline, LONG value) {
    Rebuild(pipeline, [pipeline, value] { SetSaturation(pipeline->saturationMatrix, value); });
}

VOID BuildHueMatrix(ColorPipeline* pipeline, LONG value) {
    Rebuild(pipeline, [pipeline, value] { SetHue(pipeline->hueMatrix, value); });
}
