// Grey-world gains from the channel sums of one frame.
#include "driver/pixel/pixel_levels.h"

namespace {

// Truncates toward zero and keeps the gain inside the 16 bits the conversions use, never 0.
ULONG LimitGain(double gain) {
    if (!(gain >= 1.0)) return 1;
    if (gain >= 65535.0) return 65535;
    return (ULONG)gain;
}

}  // namespace

VOID WhiteBalanceGains(ULONG64 sumRed, ULONG64 sumGreen, ULONG64 sumBlue, ULONG* red, ULONG* green,
                       ULONG* blue) {
    // A channel with no light at all (a black frame) gives no ratio to go by.
    if (sumRed == 0 || sumGreen == 0 || sumBlue == 0) return;
    const double sr = (double)sumRed;
    const double sg = (double)sumGreen;
    const double sb = (double)sumBlue;
    // The order of operations is part of the result: it decides the last unit.
    const double t = (sg + sr) + sb;
    const double k = (t / sg) / 3.0;
    const double redGain = ((t / sr) / 3.0) * 128.0 / k;
    const double blueGain = ((t / sb) / 3.0) * 128.0 / k;
    *red = LimitGain(redGain);
    *green = 128;
    *blue = LimitGain(blueGain);
}
