#include "sim/register_file.h"

namespace bayercam::sim {

void RegisterFile::write(std::uint8_t widthCode, std::uint32_t word) {
    unsigned valueBits = widthCode > 10 ? widthCode - 10u : 0u;
    std::uint32_t mask = valueBits >= 22 ? 0x3FFFFFu : (1u << valueBits) - 1u;
    Entry& entry = entries_[word & 0x3FF];
    entry.value = (word >> 10) & mask;
    entry.widthCode = widthCode;
    entry.written = true;
}

std::uint8_t RegisterFile::expectedWidthCode(unsigned index) {
    if (index < 256) return 16;
    if (index < 384) return 26;
    return 32;
}

}  // namespace bayercam::sim
