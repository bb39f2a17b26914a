// Property requests from several threads at once, while a capture's pipeline comes and goes
// and its white-balance measurement moves the live gains.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "driver/control/image_settings.h"
#include "driver/streaming/color_pipeline.h"
#include "tests/driver/control/property_client.h"

namespace bayercam::testing {
namespace {

using PropertyConcurrencyTest = PropertyTest;

constexpr int ROUNDS = 150;

struct Range {
    ULONG id;
    LONG low;
    LONG high;
};
constexpr Range RANGES[] = {{14, 1, 512}, {15, 1, 512}, {16, 1, 512}, {20, 0, 510},
                            {24, 0, 20},  {28, 0, 20},  {32, 0, 359}};

// The pipeline's fixed-point matrix as a fresh pipeline builds it for the same settings.
void ExpectMatrixMatchesSettings(ColorPipeline* live) {
    ColorPipeline* fresh = CreateColorPipeline();
    ASSERT_NE(fresh, nullptr);
    UpdateColorCorrection(fresh, live->colorCorrection);
    UpdateBrightness(fresh, live->brightness);
    UpdateContrast(fresh, live->contrast);
    UpdateSaturation(fresh, live->saturation);
    UpdateHue(fresh, live->hue);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(live->matrixFixed[i], fresh->matrixFixed[i]) << "matrix entry " << i;
    }
    FreeColorPipeline(fresh);
}

TEST_F(PropertyConcurrencyTest, SettersReadersAndPipelineHandOversKeepRecordAndPipelineAgreed) {
    open();
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 draw(t);
            for (int i = 0; i < ROUNDS; ++i) {
                ULONG id = RANGES[draw() % std::size(RANGES)].id;
                if (set(id, static_cast<LONG>(draw() % 1200) - 100) != STATUS_SUCCESS ||
                    set(10, i) != STATUS_SUCCESS ||
                    setRegion(i * 2, i, 640, 480) != STATUS_SUCCESS) {
                    failed = true;
                }
            }
        });
    }
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < ROUNDS; ++i) {
                for (const Range& range : RANGES) {
                    LONG value = 0;
                    if (get(range.id, &value) != STATUS_SUCCESS || value < range.low ||
                        value > range.high) {
                        failed = true;
                    }
                }
            }
        });
    }
    // A capture's acquisitions: each pipeline is attached, its measurement moves the gains,
    // and it is detached and freed; the last one stays.
    ColorPipeline* last = nullptr;
    threads.emplace_back([&] {
        for (int i = 0; i < ROUNDS / 5; ++i) {
            ColorPipeline* pipeline = CreateColorPipeline();
            if (pipeline == nullptr) {
                failed = true;
                return;
            }
            AttachColorPipeline(device(), pipeline);
            for (LONG gain = 100; gain < 110; ++gain) StoreGreenGain(pipeline, gain);
            if (i + 1 == ROUNDS / 5) {
                last = pipeline;
                return;
            }
            FreeColorPipeline(DetachColorPipeline(device()));
        }
    });
    for (std::thread& thread : threads) thread.join();
    ASSERT_FALSE(failed) << "a request failed or read a value outside its range";
    ASSERT_NE(last, nullptr);

    CameraDevice* camera = device();
    EXPECT_EQ(camera->brightness, ULONG(last->brightness));
    EXPECT_EQ(camera->contrast, ULONG(last->contrast));
    EXPECT_EQ(camera->saturation, ULONG(last->saturation));
    EXPECT_EQ(camera->hue, ULONG(last->hue));
    EXPECT_EQ(camera->redGain, ULONG(last->redGain));
    EXPECT_EQ(camera->blueGain, ULONG(last->blueGain));
    EXPECT_EQ(read(15), last->greenGain) << "a get returns the live gain";
    ExpectMatrixMatchesSettings(last);
    EXPECT_EQ(camera->roiW, 640);
    FreeColorPipeline(DetachColorPipeline(camera));
}

}  // namespace
}  // namespace bayercam::testing
