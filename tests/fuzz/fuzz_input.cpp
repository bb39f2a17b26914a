#include "tests/fuzz/fuzz_input.h"

#include <algorithm>

namespace bayercam::fuzz {

std::span<const std::uint8_t> FuzzInput::take(std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size());
    std::span<const std::uint8_t> taken = bytes_.first(n);
    bytes_ = bytes_.subspan(n);
    return taken;
}

std::uint8_t FuzzInput::u8() {
    std::span<const std::uint8_t> b = take(1);
    return b.empty() ? 0 : b[0];
}

std::uint16_t FuzzInput::u16() {
    const std::uint16_t low = u8();
    return static_cast<std::uint16_t>(low | u8() << 8);
}

std::uint32_t FuzzInput::u32() {
    const std::uint32_t low = u16();
    return low | static_cast<std::uint32_t>(u16()) << 16;
}

std::span<const std::uint8_t> FuzzInput::block() { return take(u16()); }

std::span<const std::uint8_t> FuzzInput::rest() { return take(bytes_.size()); }

std::vector<std::uint8_t> FuzzInput::bytesOrPatched(std::vector<std::uint8_t> base) {
    if (u8() % 2 == 0) {
        const auto raw = block();
        return {raw.begin(), raw.end()};
    }
    for (std::uint8_t patches = u8() % 8; patches > 0 && !base.empty(); --patches) {
        const std::size_t at = u16() % base.size();
        const auto given = take(u8() % 9);
        std::copy_n(given.begin(), std::min(given.size(), base.size() - at),
                    base.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return base;
}

}  // namespace bayercam::fuzz
