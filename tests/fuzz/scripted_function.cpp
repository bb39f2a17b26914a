#include "tests/fuzz/scripted_function.h"

#include <algorithm>

namespace bayercam::fuzz {

void ScriptedFunction::script(std::uint8_t endpoint, ScriptedAnswer answer) {
    std::lock_guard guard(lock_);
    answers_[endpoint].push_back(std::move(answer));
}

std::vector<std::uint8_t> ScriptedFunction::deviceDescriptor() {
    return device_ ? *device_ : behind_.deviceDescriptor();
}

std::vector<std::uint8_t> ScriptedFunction::configurationDescriptor() {
    return configuration_ ? *configuration_ : behind_.configurationDescriptor();
}

host::UsbDataResult ScriptedFunction::dataIn(std::uint8_t endpoint,
                                             std::span<std::uint8_t> buffer) {
    ScriptedAnswer answer;
    {
        std::lock_guard guard(lock_);
        auto it = answers_.find(endpoint);
        if (it == answers_.end() || it->second.empty()) return behind_.dataIn(endpoint, buffer);
        answer = std::move(it->second.front());
        it->second.pop_front();
    }
    switch (answer.handshake) {
        case host::UsbHandshake::Ack:
            if (answer.bytes.size() > buffer.size()) return {host::UsbHandshake::Error};
            std::copy(answer.bytes.begin(), answer.bytes.end(), buffer.begin());
            return {host::UsbHandshake::Ack, answer.bytes.size(), answer.shortPacket};
        case host::UsbHandshake::Nak:
            // Asked again at once: the next answer, or the function behind, decides.
            return {host::UsbHandshake::Nak, 0, false, host::UsbClock::now()};
        default:
            return {answer.handshake};
    }
}

}  // namespace bayercam::fuzz
