#include "tests/hardening/stress_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace bayercam::testing {
namespace {

// The scene draws each bit of the number and its complement as an 8 x 8 cell on the sensor's
// top rows, most significant first; the middle of a cell survives demosaicing unchanged.
constexpr int kCell = 8;
constexpr int kCodeBits = 64;

bool CellIsLight(const StreamFrame& frame, int bit) {
    unsigned sum = 0;
    for (int y = 2; y < kCell - 2; ++y) {
        // Without flipV the client frame starts with the picture's last row.
        const std::size_t row = std::size_t(SENSOR_HEIGHT - 1 - y) * kSensorStep;
        for (int x = bit * kCell + 2; x < bit * kCell + kCell - 2; ++x) {
            for (int c = 0; c < 3; ++c) sum += frame.data[row + std::size_t(x) * 4 + c];
        }
    }
    return sum >= 128u * 4 * 4 * 3;
}

bool AllZero(const std::vector<std::uint8_t>& data) {
    return data.empty() ||
           (data[0] == 0 && std::memcmp(data.data(), data.data() + 1, data.size() - 1) == 0);
}

}  // namespace

std::uint64_t StressSeed(std::uint64_t fallback) {
    const char* text = std::getenv("BAYERCAM_STRESS_SEED");
    return text != nullptr ? std::strtoull(text, nullptr, 0) : fallback;
}

std::optional<std::uint32_t> PictureFrameNumber(const StreamFrame& frame) {
    if (frame.data.size() < kFullPicture) return std::nullopt;
    std::uint64_t code = 0;
    for (int bit = 0; bit < kCodeBits; ++bit)
        code = (code << 1) | (CellIsLight(frame, bit) ? 1 : 0);
    const auto number = std::uint32_t(code >> 32);
    if (std::uint32_t(code) != ~number) return std::nullopt;
    return number;
}

std::string FrameProblem(const StreamFrame& frame, ULONG imageBytes, LONGLONG frameDuration) {
    std::ostringstream problem;
    const KSSTREAM_HEADER& header = frame.header;
    if (header.DataUsed == 0) {
        if (!AllZero(frame.data)) problem << "a frame without a picture was written to";
        return problem.str();
    }
    if (header.DataUsed != imageBytes) {
        problem << "DataUsed " << header.DataUsed << ", expected " << imageBytes;
    } else if (header.Duration != frameDuration) {
        problem << "Duration " << header.Duration << ", expected " << frameDuration;
    } else if (frame.hasFrameInfo &&
               (header.OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID) != 0) {
        const KS_FRAME_INFO& info = frame.frameInfo;
        if (info.ExtendedHeaderSize != sizeof(KS_FRAME_INFO) || info.DropCount != 0 ||
            info.PictureNumber < 1) {
            problem << "frame info: size " << info.ExtendedHeaderSize << ", picture "
                    << info.PictureNumber << ", drops " << info.DropCount;
        }
    }
    return problem.str();
}

void ActivityThreads::add(std::uint64_t seed,
                          std::function<void(chaos::ChaosRng&, std::uint64_t)> step) {
    threads_.emplace_back([this, seed, step = std::move(step)] {
        chaos::ChaosRng random(seed);
        for (std::uint64_t round = 0; !stop_; ++round) step(random, round);
    });
}

void ActivityThreads::stop() {
    stop_ = true;
    for (std::thread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
}

CheckingConsumer::CheckingConsumer(host::ks::KsClient& client, host::ks::KsPinHandle pin,
                                   ULONG imageBytes, LONGLONG frameDuration, std::size_t keep)
    : client_(client),
      pin_(pin),
      imageBytes_(imageBytes),
      frameDuration_(frameDuration),
      keep_(keep),
      thread_([this] {
          while (!stop_) takeOne();
      }) {}

void CheckingConsumer::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

// A frame queued while the pin is stopped waits for the next run, so the wait is short and the
// frame is taken back on a later round.
void CheckingConsumer::takeOne() {
    NTSTATUS status = client_.queueFrame(pin_, kFullPicture);
    if (status != STATUS_SUCCESS) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    StreamFrame frame;
    if (client_.waitFrame(pin_, std::chrono::milliseconds(100), &frame) != STATUS_SUCCESS) return;
    std::string problem = FrameProblem(frame, imageBytes_, frameDuration_);
    std::lock_guard guard(lock_);
    if (!problem.empty()) problems_.push_back(std::move(problem));
    if (frame.header.DataUsed == 0) return;
    ++pictures_;
    kept_.push_back(std::move(frame));
    if (kept_.size() > keep_) kept_.pop_front();
}

std::vector<std::string> CheckingConsumer::problems() const {
    std::lock_guard guard(lock_);
    return problems_;
}

std::vector<StreamFrame> CheckingConsumer::keptPictures() const {
    std::lock_guard guard(lock_);
    return {kept_.begin(), kept_.end()};
}

std::string WithSeed(const char* what, std::uint64_t seed) {
    return std::string(what) + " (seed " + std::to_string(seed) + ")";
}

void ActivityLog::problem(std::string text) {
    std::lock_guard guard(lock_);
    if (problems_.size() < 20) problems_.push_back(std::move(text));
}

std::vector<std::string> ActivityLog::problems() const {
    std::lock_guard guard(lock_);
    return problems_;
}

LONGLONG StressTest::frameDuration() const { return context()->videoInfo.AvgTimePerFrame; }

ULONG StressTest::imageBytes() const { return context()->videoInfo.bmiHeader.biSizeImage; }

std::vector<std::uint8_t> StressTest::referenceFrame(const std::vector<std::uint8_t>& raw,
                                                     const PictureSettings& settings) {
    return ExpectedClientFrame(ReferencePicture(raw, Region{}, settings), Region{}, kFullPicture,
                               kSensorStep, false, false);
}

void StressTest::expectWholePicture(const StreamFrame& frame, const PictureSettings& settings) {
    std::optional<std::uint32_t> number = PictureFrameNumber(frame);
    ASSERT_TRUE(number.has_value()) << "the picture carries no frame number";
    EXPECT_TRUE(referenceFrame(camera->renderFrame(*number), settings) == frame.data)
        << "the picture that carries frame number " << *number
        << " is not that frame's reference: torn or mixed";
}

void StressTest::expectCaptureWorks(std::uint64_t seed) {
    WithDeadline(WithSeed("a capture after the stress", seed), std::chrono::seconds(120), [this] {
        if (pin != nullptr) {
            ASSERT_EQ(client->closePin(pin), STATUS_SUCCESS);
        }
        ASSERT_EQ(createPin(), STATUS_SUCCESS);
        ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
        StreamFrame frame;
        ASSERT_EQ(nextPicture(kFullPicture, &frame), STATUS_SUCCESS);
        EXPECT_EQ(FrameProblem(frame, imageBytes(), frameDuration()), "");
        expectWholePicture(frame);
        ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
        ASSERT_EQ(client->closePin(pin), STATUS_SUCCESS);
        pin = nullptr;
    });
}

}  // namespace bayercam::testing
