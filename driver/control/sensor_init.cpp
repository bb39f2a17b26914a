// The sensor's start-up register programming. The values are sent as they stand; their
// meaning inside the sensor is not this driver's concern.
#include "driver/control/sensor.h"

namespace {

struct RegisterRun {
    USHORT first;  // written in ascending order, first to last
    USHORT last;
    ULONG value;
};

struct RegisterWrite {
    USHORT reg;
    ULONG value;
};

constexpr LONG MAX_INIT_RUNS = 2;
constexpr LONGLONG POWER_UP_SETTLE = -8000;  // 0.8 ms

VOID WriteTable(CameraDevice* device, ULONG first, const ULONG* values, ULONG count) {
    for (ULONG i = 0; i < count; ++i) WriteSensorRegister(device, first + i, values[i]);
}

VOID WriteRuns(CameraDevice* device, const RegisterRun* runs, ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
        for (ULONG reg = runs[i].first; reg <= runs[i].last; ++reg) {
            WriteSensorRegister(device, reg, runs[i].value);
        }
    }
}

VOID WriteList(CameraDevice* device, const RegisterWrite* writes, ULONG count) {
    for (ULONG i = 0; i < count; ++i) WriteSensorRegister(device, writes[i].reg, writes[i].value);
}

// Registers 35 to 46.
constexpr ULONG ANALOG_REGISTERS[] = {63, 0, 56, 63, 55, 6, 58, 0, 48, 36, 7, 2};

// Registers 384 to 393 and 400 to 408 (22-bit values).
constexpr ULONG TIMING_REGISTERS_384[] = {0x1B001, 0x220001, 0x260001, 0x00002, 0x3C004,
                                          0x00005, 0x58427,  0x00428,  0x0042D, 0x3E042D};
constexpr ULONG TIMING_REGISTERS_400[] = {0x10E001, 0x220001, 0xD1003, 0x14D006, 0x10E007,
                                          0x19E009, 0x10E00A, 0x9110B, 0x3E010B};

// Registers 512 to 627: four consecutive sequencer tables of 27, 33, 28 and 28 entries.
constexpr ULONG SEQUENCER_REGISTERS[] = {
    // 512 to 538
    0x032014,
    0x072034,
    0x236036,
    0x142037,
    0x004038,
    0x234039,
    0x12203A,
    0x02403B,
    0x166064,
    0x068065,
    0x02A08F,
    0x07C0A2,
    0x0600B9,
    0x1260E2,
    0x0280E3,
    0x16210C,
    0x06410D,
    0x020137,
    0x06A161,
    0x274185,
    0x276186,
    0x102187,
    0x044188,
    0x03018A,
    0x07019C,
    0x13C6FC,
    0x3FE6FD,
    // 539 to 571
    0x032014,
    0x072034,
    0x236036,
    0x142037,
    0x004038,
    0x234039,
    0x12203A,
    0x02403B,
    0x166064,
    0x068065,
    0x02A08F,
    0x07C0A2,
    0x0600B9,
    0x1260E2,
    0x0280E3,
    0x16210C,
    0x06410D,
    0x020137,
    0x274185,
    0x276186,
    0x102187,
    0x044188,
    0x03018A,
    0x07019C,
    0x20831E,
    0x10A31F,
    0x00C320,
    0x06A322,
    0x248382,
    0x14A383,
    0x04C384,
    0x13C6FC,
    0x3FE6FD,
    // 572 to 599
    0x032014,
    0x072034,
    0x236036,
    0x142037,
    0x004038,
    0x234039,
    0x12203A,
    0x02403B,
    0x166064,
    0x068065,
    0x02A08F,
    0x07C0A2,
    0x0600B9,
    0x1260E2,
    0x0280E3,
    0x16210C,
    0x06410D,
    0x020137,
    0x06A161,
    0x274185,
    0x276186,
    0x102187,
    0x044188,
    0x03018A,
    0x07019C,
    0x23C6FB,
    0x17A6FC,
    0x3FE6FD,
    // 600 to 627
    0x032014,
    0x072034,
    0x236036,
    0x142037,
    0x004038,
    0x234039,
    0x12203A,
    0x02403B,
    0x166064,
    0x068065,
    0x02A08F,
    0x07C0A2,
    0x0600B9,
    0x1260E2,
    0x0280E3,
    0x16210C,
    0x06410D,
    0x020137,
    0x06A161,
    0x274185,
    0x276186,
    0x102187,
    0x044188,
    0x03018A,
    0x07019C,
    0x23C6FB,
    0x13A6FC,
    0x3FE6FD,
};
static_assert(sizeof(SEQUENCER_REGISTERS) / sizeof(ULONG) == 628 - 512, "registers 512 to 627");

// The base registers, in exactly this order; 31 and 63 are never written, 32 comes last.
constexpr RegisterRun BASE_REGISTERS[] = {
    {0, 0, 0},     {1, 1, 14},     {2, 6, 0},      {7, 7, 3},     {8, 30, 0},     {33, 33, 0},
    {34, 34, 5},   {47, 47, 9},    {48, 48, 0},    {49, 49, 6},   {50, 62, 0},    {64, 75, 0},
    {124, 139, 0}, {140, 140, 36}, {141, 141, 2},  {142, 142, 0}, {143, 143, 34}, {144, 144, 4},
    {145, 145, 2}, {146, 151, 0},  {152, 152, 1},  {153, 153, 0}, {154, 154, 0},  {155, 155, 2},
    {156, 156, 0}, {157, 157, 1},  {158, 158, 36}, {159, 159, 1}, {160, 163, 0},  {158, 158, 36},
    {159, 159, 1}, {76, 123, 0},
};

// Clock-dependent writes, then the closing writes.
constexpr RegisterWrite CLOCK_1_REGISTERS[] = {{25, 24}, {26, 1}};
constexpr RegisterWrite CLOCK_2_REGISTERS[] = {{25, 42}, {26, 1}, {17, 24}, {19, 15}};
constexpr RegisterWrite CLOCK_OTHER_REGISTERS[] = {{25, 32}, {26, 1}};
constexpr RegisterWrite CLOSING_REGISTERS[] = {{32, 11}, {24, 15}};

template <typename T, ULONG N>
constexpr ULONG CountOf(const T (&)[N]) {
    return N;
}

}  // namespace

// Runs at most twice per device: at the first start and at the first sensor start. Every
// write's result is ignored.
bool InitSensor(CameraDevice* device) {
    if (device->sensorInitCount >= MAX_INIT_RUNS) return true;
    device->sensorInitCount += 1;
    DelayThread(POWER_UP_SETTLE);
    WriteTable(device, 35, ANALOG_REGISTERS, CountOf(ANALOG_REGISTERS));
    WriteTable(device, 384, TIMING_REGISTERS_384, CountOf(TIMING_REGISTERS_384));
    WriteTable(device, 400, TIMING_REGISTERS_400, CountOf(TIMING_REGISTERS_400));
    WriteTable(device, 512, SEQUENCER_REGISTERS, CountOf(SEQUENCER_REGISTERS));
    WriteRuns(device, BASE_REGISTERS, CountOf(BASE_REGISTERS));
    switch (QueryClock(device)) {
        case 1:
            WriteList(device, CLOCK_1_REGISTERS, CountOf(CLOCK_1_REGISTERS));
            break;
        case 2:
            WriteList(device, CLOCK_2_REGISTERS, CountOf(CLOCK_2_REGISTERS));
            break;
        default:
            WriteList(device, CLOCK_OTHER_REGISTERS, CountOf(CLOCK_OTHER_REGISTERS));
            break;
    }
    WriteList(device, CLOSING_REGISTERS, CountOf(CLOSING_REGISTERS));
    return true;
}
