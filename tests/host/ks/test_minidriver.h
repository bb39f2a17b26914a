// A small minidriver written against platform/ alone, to exercise the class driver: one device
// with two bag items, one filter factory "GLOBAL", one pin that takes the reference clock and
// ejects frames when processing. Tests read what it saw in `testDriver` and steer it through the
// knobs there.
#pragma once

#include "platform/ks.h"

namespace testminidriver {

constexpr ULONG kMaxEvents = 64;

enum EventKind : ULONG {
    kAdd = 1,
    kStart,
    kStop,
    kReleaseFirstItem,
    kReleaseSecondItem,
    kFilterCreate,
    kFilterClose,
    kSetDataFormat,
    kPinCreate,
    kPinClose,
    kSetDeviceState,
};

struct Event {
    EventKind kind;
    LONG first;   // a state, a status, a sample size or a property id
    LONG second;  // the old state, or 1 when an old format was given
};

struct TestDriver {
    Event events[kMaxEvents];  // callbacks of client and PnP threads, in order
    ULONG eventCount;
    // Knobs.
    KSSTATE failStepTo;        // the SetDeviceState step into this state fails ...
    NTSTATUS failStepStatus;   // ... with this status (STATUS_SUCCESS: no step fails)
    LONG passDelayUs;          // each pass waits this long before taking a frame
    PKEVENT passGate;          // when set, each pass first waits for this event
    BOOLEAN ejectFrames;       // passes take the leading frame and eject it
    BOOLEAN leaveFrameLocked;  // passes lock the leading frame and keep it locked
    BOOLEAN keepClock;         // the pin keeps its clock reference past STOP
    // Set by callbacks.
    LONG volatile passes;
    LONG volatile activePasses;
    LONG volatile mostActivePasses;
    LONG volatile passesOutsideRun;
    PIKSREFERENCECLOCK clock;  // taken at ACQUIRE, released at STOP
};

extern TestDriver testDriver;

void ResetTestDriver();
ULONG CountEvents(EventKind kind);
NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// The pin's single data range: major format video, this subtype, the video-info specifier.
inline constexpr GUID kTestSubFormat = {
    0x7c4f0a32, 0x1e55, 0x4b67, {0x8d, 0x21, 0x3a, 0x90, 0x5e, 0x12, 0x6b, 0x77}};
// SetDataFormat refuses a format with this sample size.
constexpr ULONG kRefusedSampleSize = 0xBAD;

}  // namespace testminidriver
