// The sensor's 1024 registers as the camera stores them from WriteRegister words.
#pragma once

#include <array>
#include <cstdint>

namespace bayercam::sim {

class RegisterFile {
  public:
    static constexpr unsigned kCount = 1024;

    struct Entry {
        std::uint32_t value = 0;     // the value bits of the last word for this register
        std::uint8_t widthCode = 0;  // the serial bit count that came with it
        bool written = false;
    };

    // Stores a serial word: register in bits 0..9, value above, width code = 10 + value bits.
    void write(std::uint8_t widthCode, std::uint32_t word);
    const Entry& at(unsigned index) const { return entries_[index % kCount]; }
    std::uint32_t value(unsigned index) const { return at(index).value; }

    static std::uint8_t expectedWidthCode(unsigned index);

  private:
    std::array<Entry, kCount> entries_{};
};

}  // namespace bayercam::sim
