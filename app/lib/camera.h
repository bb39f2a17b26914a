// libbayercam: a camera opened through the class driver's client side, its settings by name,
// its region of interest, its video format and its frames. One Camera owns the whole stack
// beneath it (the simulated camera on its USB bus, the driver, the class driver); its settings
// are kept in the registry file, so they persist from one Camera (or process) to the next.
// A Camera is used from one thread at a time, with one exception: while one thread streams
// (negotiateFormat, roi, setRoi, start, pause, stop, nextFrame, recycle), another may read and
// set properties (property, get, set, range). Those go to the class driver's client, which takes
// requests from any thread, and touch nothing the streaming calls change.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/lib/camera_options.h"
#include "app/lib/property_catalog.h"
#include "app/lib/result.h"

namespace bayercam {

struct Range {
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t defaultValue = 0;
};

struct Region {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The video format in use: 32-bit BGRA pixels, rows rowStep bytes apart.
struct VideoFormat {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::size_t rowStep = 0;
    std::size_t frameBytes = 0;
    std::int64_t frameInterval = 0;  // 100-ns units, as advertised
};

struct Frame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::size_t rowStep = 0;
    std::vector<std::uint8_t> pixels;   // as delivered: the bottom image row first
    std::int64_t presentationTime = 0;  // 100-ns units of the stream's clock
    std::int64_t pictureNumber = 0;     // frames the driver read from the camera in this run

    // Image row y (0 at the top), width x 4 bytes of blue, green, red, 255.
    const std::uint8_t* row(std::int32_t y) const {
        return pixels.data() + std::size_t(height - 1 - y) * rowStep;
    }
    // The picture with rows packed and row 0 at the top.
    std::vector<std::uint8_t> upright() const;
};

// What `info` shows: the camera's USB identity, the pipes the driver opened, the format range the
// capture pin offers, and the settings store.
struct DeviceDescription {
    struct Pipe {
        std::uint8_t endpoint = 0;  // bit 7 set: in
        std::string type;           // control, isochronous, bulk, interrupt
        std::uint16_t maxPacketSize = 0;
    };
    struct Size {
        std::int32_t width = 0;
        std::int32_t height = 0;
    };
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t release = 0;  // binary-coded decimal: 0x0100 is 1.00
    int configurations = 0;
    int configurationValue = 0;
    int interfaces = 0;
    std::size_t descriptorBytes = 0;
    std::string instancePath;
    std::optional<int> interfaceNumber;  // nothing while no pipes are open
    std::vector<Pipe> pipes;
    VideoFormat offered;  // rowStep 0: not negotiated, as offered
    Size input;
    Size smallestOutput;
    Size largestOutput;
    std::int64_t shortestFrameInterval = 0;  // 100-ns units
    std::int64_t longestFrameInterval = 0;
    std::filesystem::path store;
    bool storeWritable = true;
};

// What the simulated camera counted of its frames since it was opened.
struct CameraFrameCounts {
    std::uint64_t sent = 0;      // frames sent whole
    std::uint64_t notAsked = 0;  // frame slots that passed with no frame asked for
    std::uint64_t cutShort = 0;  // frames cut off by a new frame request
};

// The default settings store: $BAYERCAM_REGISTRY, else $XDG_STATE_HOME/bayercam/registry.db,
// else ~/.local/state/bayercam/registry.db.
std::filesystem::path defaultRegistryPath();

class Camera {
  public:
    // Opens the camera with the settings store at registry (the default one when empty); it
    // is created on first use.
    static Result<std::unique_ptr<Camera>> open(const CameraOptions& options,
                                                const std::filesystem::path& registry = {});
    // Stops streaming and closes the camera; the driver stores the settings as it closes.
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    const std::filesystem::path& registryPath() const;

    // Properties by name (any case) or id. check() tells whether set() would take the value:
    // a switch takes 0 or 1, a setting a value within its published range or its limits, and a
    // property whose writes the driver ignores none; a stored setting needs a store that can be
    // written. set() checks, writes, and returns the value read back (a write-only property
    // gives back the value written).
    Result<PropertyInfo> property(std::string_view nameOrId) const;
    Result<std::int32_t> get(std::string_view nameOrId);
    Status check(std::string_view nameOrId, std::int64_t value);
    Result<std::int32_t> set(std::string_view nameOrId, std::int64_t value);
    Result<Range> range(std::string_view nameOrId);

    // Sensor register n (0 to 1023): write one, or read back the last value written.
    Status writeRegister(std::uint32_t n, std::uint32_t value);
    Result<std::uint32_t> readRegister(std::uint32_t n);
    // One byte of camera memory.
    Result<std::uint8_t> readMemory(std::uint16_t address);

    // The region of interest; it cannot change while streaming. checkRoi() tells whether
    // setRoi() would take a region: one on the sensor whose picture is at least 8 pixels wide.
    Result<Region> roi() const;
    Status checkRoi(const Region& region) const;
    Status setRoi(const Region& region);

    // How often the camera sends a frame; nothing when it sends them as fast as asked.
    std::optional<std::chrono::microseconds> frameInterval() const;

    // The format offered for the current region, agreed with the driver.
    Result<VideoFormat> negotiateFormat();
    // Streaming: start (negotiating when needed), pause (frames stop, the pin stays), stop.
    Status start();
    Status pause();
    Status stop();
    bool streaming() const;
    // The next frame, waiting at most timeout. An error with timedOut when none came in time.
    // A buffer the driver hands back without a picture (no camera frame was ready for it) is
    // queued again and the wait goes on.
    Result<Frame> nextFrame(std::chrono::milliseconds timeout);
    // Buffers handed back without a picture since the camera was opened.
    std::uint64_t framesWithoutPicture() const;
    // Gives a frame's pixel memory back: the buffer queued after the next frame reuses it
    // instead of fresh memory, which saves clearing a whole frame per frame.
    void recycle(Frame&& frame);

    // The simulated camera's own count of its frames; zeros for a camera that keeps none.
    CameraFrameCounts cameraFrameCounts() const;

    // For `info`: the USB descriptors, the driver's pipes, the offered range and the store.
    DeviceDescription describeDevice() const;

    struct Impl;

  private:
    explicit Camera(std::unique_ptr<Impl> impl);
    Status checkStoreWritable(std::string_view what) const;
    void queueReplacement();
    std::unique_ptr<Impl> impl_;
};

}  // namespace bayercam
