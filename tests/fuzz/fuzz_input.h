// The bytes of one fuzz input read as a sequence of fields, and the writer that lays out
// inputs the same way. Reading past the end gives zeros and empty spans, so every input, however
// short, decodes to something.
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
    // A block written by FuzzSeed::block: a 16-bit length, then that many bytes.
    std::span<const std::uint8_t> block();
    std::span<const std::uint8_t> rest();
    // Raw bytes (a block), or the base with up to seven patches of up to eight bytes each.
    std::vector<std::uint8_t> bytesOrPatched(std::vector<std::uint8_t> base);
    bool empty() const { return bytes_.empty(); }

  private:
    std::span<const std::uint8_t> bytes_;
};

// Lays out a seed input field by field, in the order a target reads them.
class FuzzSeed {
  public:
    FuzzSeed& u8(std::uint8_t value);
    FuzzSeed& u16(std::uint16_t value);
    FuzzSeed& u32(std::uint32_t value);
    FuzzSeed& bytes(std::span<const std::uint8_t> values);
    FuzzSeed& block(std::span<const std::uint8_t> values);
    const std::vector<std::uint8_t>& data() const { return data_; }

  private:
    std::vector<std::uint8_t> data_;
};

}  // namespace bayercam::fuzz
