// The camera behind bayercamsrc: opened and closed with the element; its settings as the driver
// holds them, or as set on the element for the next opening; the region asked for and the
// negotiated format; the stream.
//
// Two threads use it: the application's (properties, open, close, the stop when a playing
// pipeline pauses) and the streaming thread (frames, a region change). settingsMutex_ guards
// the settings, the region and the format; a property call takes only it and never waits for a
// frame: the library lets property calls run while another thread streams. streamMutex_ orders
// the stream's calls; a frame wait holds it for one short wait only. camera_ changes with both
// held, so either one keeps it alive.
//
// The driver delivers rows bottom-up unless FlipV is set; GStreamer wants them top-down. So
// while the camera is open the driver holds the opposite of the element's flip-v, and frames
// come top-down with no pass over the pixels. FlipV gets the element's value back before the
// camera closes, which is when the driver stores its settings.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/gst/frame_lender.h"
#include "app/lib/camera.h"

namespace bayercam::app {

class CameraSource {
  public:
    // Called with a message for what went wrong but lets the stream go on.
    using Warn = std::function<void(const std::string&)>;

    explicit CameraSource(Warn warn);
    ~CameraSource();

    // Opens the camera, then applies the settings and the region set while it was closed and
    // negotiates the format. A region that does not fit fails the opening.
    Status open(std::string_view camera, const std::filesystem::path& registry);
    void close();

    // Settings by index in settingProperties(); while the camera is open they go to the driver
    // and are read back from it.
    std::int32_t setting(std::size_t index);
    void setSetting(std::size_t index, std::int32_t value);

    Region region() const;
    // One side of the region: applied at the next opening, or before the next frame.
    void setRegionSide(std::int32_t Region::*side, std::int32_t value);
    std::optional<VideoFormat> format() const;

    // Streaming thread. A region asked for since the last frame: the stream stops and the
    // format is negotiated again; true when that happened. A region that does not fit is
    // refused with a warning and the old one stays.
    Result<bool> applyRegionChange();
    // The next frame, waiting at most wait; starts a stream that is not running, and says so
    // in restarted (a new run: picture numbers and stream time start again).
    Result<Frame> nextFrame(std::chrono::milliseconds wait, bool* restarted);
    void stopStreaming();

    std::shared_ptr<FrameLender> lender() const { return lender_; }

  private:
    std::int32_t toDriver(std::size_t index, std::int32_t value) const;
    // Warnings are posted only once settingsMutex_ is free: a handler of the message may read
    // a property.
    Status openLocked(std::unique_ptr<Camera> camera, std::vector<std::string>& warnings);
    // Caller holds both mutexes.
    void closeLocked();
    // Caller holds settingsMutex_ with the camera open. Returns a warning, or nothing.
    std::string writeLocked(std::size_t index, std::int32_t value);

    const Warn warn_;
    const std::shared_ptr<FrameLender> lender_ = std::make_shared<FrameLender>();
    std::mutex streamMutex_;
    mutable std::mutex settingsMutex_;
    std::unique_ptr<Camera> camera_;
    std::vector<std::int32_t> values_;   // guarded by settingsMutex_
    std::vector<bool> pending_;          // set while closed; guarded by settingsMutex_
    Region region_;                      // guarded by settingsMutex_
    bool regionChanged_ = false;         // guarded by settingsMutex_
    std::optional<VideoFormat> format_;  // guarded by settingsMutex_
};

}  // namespace bayercam::app
