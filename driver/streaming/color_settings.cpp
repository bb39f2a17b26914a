// Creation of a ColorPipeline and its setting stores. Setters run on the caller's thread
// (property handlers, the settings load, the capture start) at PASSIVE_LEVEL, concurrently with
// the conversion, which reads each setting once per frame.
#include "driver/streaming/color_pipeline.h"

namespace {

LONG ReadSetting(volatile LONG* field) { return InterlockedCompareExchange(field, 0, 0); }

// Stores value and rebuilds with it when it differs from the stored one.
void UpdateSetting(ColorPipeline* pipeline, volatile LONG* field, LONG value,
                   VOID (*build)(ColorPipeline*, LONG)) {
    if (ReadSetting(field) == value) return;
    InterlockedExchange(field, value);
    build(pipeline, value);
}

}  // namespace

ColorPipeline* CreateColorPipeline() {
    auto* pipeline = static_cast<ColorPipeline*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ColorPipeline), COLOR_PIPELINE_TAG));
    if (pipeline == nullptr) return nullptr;
    RtlZeroMemory(pipeline, sizeof(ColorPipeline));
    KeInitializeSpinLock(&pipeline->matrixLock);
    pipeline->colorEnable = 1;
    pipeline->redGain = 128;
    pipeline->greenGain = 128;
    pipeline->blueGain = 128;
    pipeline->colorCorrection = 1;
    pipeline->brightness = 255;
    pipeline->contrast = 10;
    pipeline->saturation = 10;
    InitMatrices(pipeline);
    return pipeline;
}

VOID FreeColorPipeline(ColorPipeline* pipeline) {
    if (pipeline == nullptr) return;
    if (pipeline->workBuffer != nullptr) ExFreePoolWithTag(pipeline->workBuffer, FRAME_BUFFER_TAG);
    ExFreePoolWithTag(pipeline, COLOR_PIPELINE_TAG);
}

VOID StoreBayerPhase(ColorPipeline* pipeline, LONG value) {
    InterlockedExchange(&pipeline->bayerPhase, value);
}

VOID StoreColorEnable(ColorPipeline* pipeline, LONG value) {
    InterlockedExchange(&pipeline->colorEnable, value);
}

VOID StoreWhiteBalance(ColorPipeline* pipeline, LONG value) {
    InterlockedExchange(&pipeline->whiteBalance, value);
}

VOID StoreRedGain(ColorPipeline* pipeline, LONG value) {
    InterlockedExchange(&pipeline->redGain, value);
}

VOID StoreGreenGain(ColorPipeline* pipeline, LONG value) {
    InterlockedExchange(&pipeline->greenGain, value);
}

VOID StoreBlueGain(ColorPipeline* pipeline, LONG value) {
    InterlockedExchange(&pipeline->blueGain, value);
}

VOID UpdateColorCorrection(ColorPipeline* pipeline, LONG value) {
    UpdateSetting(pipeline, &pipeline->colorCorrection, value, BuildCorrectionMatrix);
}

VOID UpdateBrightness(ColorPipeline* pipeline, LONG value) {
    UpdateSetting(pipeline, &pipeline->brightness, value, BuildBrightnessMatrix);
}

VOID UpdateContrast(ColorPipeline* pipeline, LONG value) {
    UpdateSetting(pipeline, &pipeline->contrast, value, BuildContrastMatrix);
}

VOID UpdateSaturation(ColorPipeline* pipeline, LONG value) {
    UpdateSetting(pipeline, &pipeline->saturation, value, BuildSaturationMatrix);
}

VOID UpdateHue(ColorPipeline* pipeline, LONG value) {
    UpdateSetting(pipeline, &pipeline->hue, value, BuildHueMatrix);
}
