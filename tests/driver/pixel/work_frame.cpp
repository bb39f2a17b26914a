#include "tests/driver/pixel/work_frame.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace bayercam::testing {

namespace {

std::size_t pageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

int paddedStride(int width) { return (width & ~15) + 27; }

int paddedRows(int height) { return height + (height & 1) + 4; }

}  // namespace

GuardedBlock::GuardedBlock(std::size_t bytes) : bytes_(bytes) {
    const std::size_t page = pageSize();
    const std::size_t dataPages = (bytes + page - 1) / page;
    mappingBytes_ = (dataPages + 1) * page;
    mapping_ =
        mmap(nullptr, mappingBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping_ == MAP_FAILED) throw std::runtime_error("mmap failed");
    auto* base = static_cast<std::uint8_t*>(mapping_);
    mprotect(base + dataPages * page, page, PROT_NONE);
    data_ = base + dataPages * page - bytes;
}

GuardedBlock::~GuardedBlock() { munmap(mapping_, mappingBytes_); }

WorkFrame::WorkFrame(int width, int height)
    : width_(width),
      height_(height),
      stride_(paddedStride(width)),
      buffer_(static_cast<std::size_t>(paddedStride(width)) * paddedRows(height)) {
    pipeline_.workOrigin = buffer_.data() + 2 * stride_ + 5;
    pipeline_.workStride = stride_;
    pipeline_.kernelWidth = width;
    pipeline_.kernelHeight = height;
    setGains(128, 128, 128);
    setIdentityMatrix();
}

std::uint8_t& WorkFrame::at(int y, int x) {
    return pipeline_.workOrigin[static_cast<std::ptrdiff_t>(y) * stride_ + x];
}

void WorkFrame::fill(std::uint8_t value) { std::memset(buffer_.data(), value, buffer_.size()); }

void WorkFrame::fillRandom(std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < buffer_.size(); ++i) {
        buffer_.data()[i] = static_cast<std::uint8_t>(byte(rng));
    }
}

void WorkFrame::setGains(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    pipeline_.kernelRedGain = red;
    pipeline_.kernelGreenGain = green;
    pipeline_.kernelBlueGain = blue;
}

void WorkFrame::setMatrix(const std::array<std::int32_t, 16>& matrix) {
    for (int i = 0; i < 16; ++i) {
        pipeline_.kernelMatrix[i] = matrix[i];
        pipeline_.matrixPositive[i] = matrix[i] > 0 ? 1 : 0;
    }
}

void WorkFrame::setIdentityMatrix() {
    setMatrix({64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64});
}

std::vector<std::uint8_t> WorkFrame::convert(ConvertKernel kernel) {
    const std::size_t bytes = static_cast<std::size_t>(width_) * height_ * 4;
    GuardedBlock out(bytes);
    std::memset(out.data(), 0x5A, bytes);
    pipeline_.output = out.data();
    kernel(&pipeline_);
    pipeline_.output = nullptr;
    return {out.data(), out.data() + bytes};
}

std::array<std::uint32_t, 3> WorkFrame::measure(MeasureKernel kernel,
                                                std::array<std::uint32_t, 3> initial) {
    ULONG red = initial[0];
    ULONG green = initial[1];
    ULONG blue = initial[2];
    kernel(&pipeline_, &red, &green, &blue);
    return {red, green, blue};
}

Pixel WorkFrame::pixel(const std::vector<std::uint8_t>& frame, int y, int x) const {
    const std::size_t at = (static_cast<std::size_t>(y) * width_ + x) * 4;
    return {frame.at(at), frame.at(at + 1), frame.at(at + 2), frame.at(at + 3)};
}

}  // namespace bayercam::testing
