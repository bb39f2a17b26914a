// A small minidriver written against platform/ alone, to exercise what the real driver would not
// show of the class driver: one filter factory "GLOBAL" made under the device mutex, one pin
// whose passes tests count, hold and slow through `testDriver`.
#pragma once

#include "platform/ks.h"

namespace testminidriver {

struct TestDriver {
    // Knobs.
    LONG passDelayUs;          // each pass waits this long
    PKEVENT passGate;          // when set, each pass first waits for this event
    BOOLEAN leaveFrameLocked;  // passes lock the leading frame and keep it locked
    // Set by passes.
    LONG volatile passes;
    LONG volatile activePasses;
    LONG volatile mostActivePasses;
    LONG volatile passesOutsideRun;
};

extern TestDriver testDriver;

NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// The pin's single data range: major format video, this subtype, the video-info specifier.
inline constexpr GUID kTestSubFormat = {
    0x7c4f0a32, 0x1e55, 0x4b67, {0x8d, 0x21, 0x3a, 0x90, 0x5e, 0x12, 0x6b, 0x77}};

}  // namespace testminidriver
