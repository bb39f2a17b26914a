// The bytes of one fuzz input read as a sequence of fields. Reading past the end gives zeros and
// empty spans, so every input, however short, decodes to something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace bayercam::fuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    std::uint8_t u8();
    std::uint16_t u16();  // little-endian
    std::uint32_t u32();  // little-endian
    // The next `count` bytes, fewer when the input ends first.
    std::span<const std::uint8_t> take(std::size_t count);
    // A block: a 16-bit length, then that many bytes.
    std::span<const std::uint8_t> block();
    std::span<const std::uint8_t> rest();
    // Raw bytes (a block), or the base with up to seven patches of up to eight bytes each.
    std::vector<std::uint8_t> bytesOrPatched(std::vector<std::uint8_t> base);
    bool empty() const { return bytes_.empty(); }

  private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace bayercam::fuzz
