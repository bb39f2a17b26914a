// The stored video data range and each device's copy of the descriptors that offer it.
#include "driver/streaming/capture_data_range.h"

#include "driver/device/camera_device.h"
#include "driver/entry/filter.h"
#include "driver/streaming/capture_pin.h"

namespace {

// Frame interval the region's range advertises, in 100-ns units.
constexpr LONGLONG REGION_FRAME_INTERVAL = 333333;

// The full sensor's sizes as the stored range gives them.
constexpr ULONG FULL_IMAGE_BYTES = SENSOR_WIDTH * SENSOR_HEIGHT * 4;
constexpr LONG FULL_BITS_PER_SECOND = SENSOR_WIDTH * SENSOR_HEIGHT * 960;
constexpr ULONG FULL_BIT_RATE = SENSOR_WIDTH * SENSOR_HEIGHT * 120;

}  // namespace

const KS_DATARANGE_VIDEO CaptureDataRange = {
    {{
        sizeof(KS_DATARANGE_VIDEO),        // FormatSize
        0,                                 // Flags
        FULL_IMAGE_BYTES,                  // SampleSize
        0,                                 // Reserved
        KSDATAFORMAT_TYPE_VIDEO,           // MajorFormat
        MEDIASUBTYPE_RGB32,                // SubFormat
        KSDATAFORMAT_SPECIFIER_VIDEOINFO,  // Specifier
    }},
    1,  // bFixedSizeSamples
    1,  // bTemporalCompression
    0,  // StreamDescriptionFlags
    0,  // MemoryAllocationFlags
    {
        KSDATAFORMAT_SPECIFIER_VIDEOINFO,  // guid
        KS_AnalogVideo_None,               // VideoStandard
        {SENSOR_WIDTH, SENSOR_HEIGHT},     // InputSize
        {SENSOR_WIDTH, SENSOR_HEIGHT},     // MinCroppingSize
        {SENSOR_WIDTH, SENSOR_HEIGHT},     // MaxCroppingSize
        8,                                 // CropGranularityX
        1,                                 // CropGranularityY
        8,                                 // CropAlignX
        1,                                 // CropAlignY
        {SENSOR_WIDTH, SENSOR_HEIGHT},     // MinOutputSize
        {SENSOR_WIDTH, SENSOR_HEIGHT},     // MaxOutputSize
        8,                                 // OutputGranularityX
        1,                                 // OutputGranularityY
        0,                                 // StretchTapsX
        0,                                 // StretchTapsY
        0,                                 // ShrinkTapsX
        0,                                 // ShrinkTapsY
        333667,                            // MinFrameInterval
        640000000,                         // MaxFrameInterval
        FULL_BITS_PER_SECOND,              // MinBitsPerSecond
        FULL_BITS_PER_SECOND,              // MaxBitsPerSecond
    },
    {
        {0, 0, SENSOR_WIDTH, SENSOR_HEIGHT},  // rcSource
        {0, 0, 0, 0},                         // rcTarget
        FULL_BIT_RATE,                        // dwBitRate
        0,                                    // dwBitErrorRate
        333667,                               // AvgTimePerFrame
        {
            sizeof(KS_BITMAPINFOHEADER),  // biSize
            SENSOR_WIDTH,                 // biWidth
            SENSOR_HEIGHT,                // biHeight: bottom-up
            1,                            // biPlanes
            32,                           // biBitCount
            KS_BI_RGB,                    // biCompression
            FULL_IMAGE_BYTES,             // biSizeImage
            0,                            // biXPelsPerMeter
            0,                            // biYPelsPerMeter
            0,                            // biClrUsed
            0,                            // biClrImportant
        },
    },
};

VOID InitCaptureDescriptors(CameraDevice* device) {
    CaptureDescriptors* d = &device->captureDescriptors;
    d->dataRange = CaptureDataRange;
    d->dataRanges[0] = &d->dataRange.DataRange;
    d->pin = CapturePinDescriptor;
    d->pin.PinDescriptor.DataRanges = d->dataRanges;
    d->filter = CameraFilterDescriptor;
    d->filter.PinDescriptors = &d->pin;
}

// All products fit 32 bits: SetRoi keeps the region inside the sensor.
VOID UpdateCaptureDataRange(CameraDevice* device) {
    KS_DATARANGE_VIDEO* range = &device->captureDescriptors.dataRange;
    const LONG width = device->outputWidth;
    const LONG height = device->roiH;
    const ULONG pixels = static_cast<ULONG>(width) * static_cast<ULONG>(height);
    range->DataRange.SampleSize = pixels * 4;
    KS_VIDEO_STREAM_CONFIG_CAPS* caps = &range->ConfigCaps;
    caps->InputSize = {width, height};
    caps->MinCroppingSize = {width, height};
    caps->MaxCroppingSize = {width, height};
    caps->MinOutputSize = {width, height};
    caps->MaxOutputSize = {width, height};
    caps->MinFrameInterval = REGION_FRAME_INTERVAL;
    caps->MaxFrameInterval = REGION_FRAME_INTERVAL;
    caps->MinBitsPerSecond = static_cast<LONG>(pixels * 960);
    caps->MaxBitsPerSecond = static_cast<LONG>(pixels * 960);
    KS_VIDEOINFOHEADER* header = &range->VideoInfoHeader;
    header->rcSource.right = width;
    header->rcSource.bottom = height;
    header->dwBitRate = pixels * 120;
    header->AvgTimePerFrame = REGION_FRAME_INTERVAL;
    header->bmiHeader.biWidth = width;
    header->bmiHeader.biHeight = height;
    header->bmiHeader.biSizeImage = pixels * 4;
}
