#include "tests/host/ks/ks_fixture.h"

namespace bayercam::host::ks::testing {

using namespace testminidriver;

void KsHostTest::SetUp() {
    KernelTest::SetUp();
    ResetTestDriver();
    ASSERT_EQ(IoCreateDevice(&busDriver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lowerDevice_),
              STATUS_SUCCESS);
    client_ = std::make_unique<KsClient>();
    ASSERT_EQ(client_->loadDriver(TestDriverEntry), STATUS_SUCCESS);
}

void KsHostTest::TearDown() {
    client_.reset();
    if (lowerDevice_ != nullptr) IoDeleteDevice(lowerDevice_);
    KernelTest::TearDown();
}

void KsHostTest::attachAndOpen() {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    ASSERT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_SUCCESS);
}

void KsHostTest::connectPin() {
    ASSERT_NO_FATAL_FAILURE(attachAndOpen());
    KSDATAFORMAT format = testFormat();
    ASSERT_EQ(client_->createPin(filter_, 0, &format, &pin_), STATUS_SUCCESS);
}

KSDATAFORMAT KsHostTest::testFormat(ULONG sampleSize) {
    KSDATAFORMAT format{};
    format.FormatSize = sizeof(KSDATAFORMAT);
    format.SampleSize = sampleSize;
    format.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    format.SubFormat = kTestSubFormat;
    format.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    return format;
}

}  // namespace bayercam::host::ks::testing
