// Faults a test switches on. The one-shot ones act once, on the next occasion, and switch off;
// swallowCommands holds until the test switches it off.
#pragma once

#include <atomic>
#include <cstddef>

namespace bayercam::sim {

struct FaultKnobs {
    std::atomic<bool> stallFramePipe{false};      // next frame-pipe read halts the endpoint
    std::atomic<bool> neverAnswer{false};         // the next frame asked for is never sent
    std::atomic<std::size_t> shortChunkBytes{0};  // next frame-pipe read ends after this many
    std::atomic<bool> failChunk{false};           // next frame-pipe read fails; its data is lost
    std::atomic<bool> failReply{false};           // next reply read fails
    std::atomic<std::size_t> shortReplyBytes{0};  // next reply carries only this many bytes
    std::atomic<bool> neverReply{false};          // the replies to the next query are never sent
    std::atomic<bool> swallowCommands{false};     // OUT transfers are never taken while set
};

// Consumes a one-shot switch: true once after it was set.
inline bool takeFault(std::atomic<bool>& knob) { return knob.exchange(false); }
inline std::size_t takeFault(std::atomic<std::size_t>& knob) { return knob.exchange(0); }

}  // namespace bayercam::sim
