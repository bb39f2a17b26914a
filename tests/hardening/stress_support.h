// What the stress and fault-schedule tests share: a seed that a failure prints, threads that
// run an activity until told to stop, a consumer that checks every frame it takes back, the
// frame number a delivered picture carries, deadlines on every wait, and the check that capture
// still works after.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/chaos/chaos_rng.h"
#include "tests/driver/streaming/capture_fixture.h"
#include "tests/support/deadline.h"

namespace bayercam::testing {

constexpr LONG kSensorStep = SENSOR_WIDTH * 4;
constexpr ULONG kFullPicture = ULONG(kSensorStep) * SENSOR_HEIGHT;

// The seed of a stress run: BAYERCAM_STRESS_SEED when set, else the test's own.
std::uint64_t StressSeed(std::uint64_t fallback);

// The frame number the frame-numbered scene drew into a full-sensor picture delivered without
// flips; none when the code does not read back (settings that wash the picture out).
std::optional<std::uint32_t> PictureFrameNumber(const StreamFrame& frame);

// What is wrong with the header of a frame handed back, or empty: a picture carries exactly the
// image size, the format's frame duration and, with frame information, its size and no drops;
// a frame without a picture was not written to.
std::string FrameProblem(const StreamFrame& frame, ULONG imageBytes, LONGLONG frameDuration);

// Threads that each run one step function over and over until stop() or destruction.
class ActivityThreads {
  public:
    ActivityThreads() = default;
    ~ActivityThreads() { stop(); }
    ActivityThreads(const ActivityThreads&) = delete;
    ActivityThreads& operator=(const ActivityThreads&) = delete;

    // step gets its round number; each thread gets a generator of its own, drawn from seed.
    void add(std::uint64_t seed, std::function<void(chaos::ChaosRng&, std::uint64_t)> step);
    void stop();

  private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Queues full-size frames on a pin and takes them back, each wait bounded; checks every frame
// and keeps the last `keep` pictures for the test to compare.
class CheckingConsumer {
  public:
    CheckingConsumer(host::ks::KsClient& client, host::ks::KsPinHandle pin, ULONG imageBytes,
                     LONGLONG frameDuration, std::size_t keep);
    ~CheckingConsumer() { stop(); }
    void stop();

    int pictures() const { return pictures_; }
    std::vector<std::string> problems() const;
    std::vector<StreamFrame> keptPictures() const;

  private:
    void takeOne();

    host::ks::KsClient& client_;
    host::ks::KsPinHandle pin_;
    const ULONG imageBytes_;
    const LONGLONG frameDuration_;
    const std::size_t keep_;
    std::atomic<int> pictures_{0};
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::vector<std::string> problems_;  // guarded by lock_
    std::deque<StreamFrame> kept_;       // guarded by lock_
    std::thread thread_;
};

// What a seeded step names in a hang report.
std::string WithSeed(const char* what, std::uint64_t seed);

// What activity threads did, and what went wrong, shared by them.
struct ActivityLog {
    std::atomic<std::uint64_t> requests{0};
    void problem(std::string text);
    std::vector<std::string> problems() const;

  private:
    mutable std::mutex lock_;
    std::vector<std::string> problems_;  // guarded by lock_
};

class StressTest : public CaptureTest {
  protected:
    // The pin's frame duration and image size, for the consumer's checks.
    LONGLONG frameDuration() const;
    ULONG imageBytes() const;

    // The client frame the driver makes of a raw camera frame with these settings.
    static std::vector<std::uint8_t> referenceFrame(const std::vector<std::uint8_t>& raw,
                                                    const PictureSettings& settings = {});
    // Expects the picture to be whole: it carries a frame number and equals that camera frame's
    // reference, so it is neither torn nor mixed from two frames.
    void expectWholePicture(const StreamFrame& frame, const PictureSettings& settings = {});

    // A new pin on the open filter (in place of the stopped one) runs and delivers a whole
    // picture with the default settings.
    void expectCaptureWorks(std::uint64_t seed);
};

}  // namespace bayercam::testing
