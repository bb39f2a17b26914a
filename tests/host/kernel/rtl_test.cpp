#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using RtlTest = testing::KernelTest;

TEST_F(RtlTest, InitUnicodeStringCountsBytesWithoutTerminator) {
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, L"Settings");
    // WCHAR is wchar_t on the host, so the byte counts scale with its size.
    EXPECT_EQ(s.Length, 8 * sizeof(WCHAR));
    EXPECT_EQ(s.MaximumLength, 9 * sizeof(WCHAR));
    EXPECT_EQ(s.Buffer[0], L'S');
}

TEST_F(RtlTest, InitUnicodeStringFromNullIsEmpty) {
    UNICODE_STRING s{5, 5, reinterpret_cast<PWSTR>(&s)};
    RtlInitUnicodeString(&s, nullptr);
    EXPECT_EQ(s.Length, 0);
    EXPECT_EQ(s.MaximumLength, 0);
    EXPECT_EQ(s.Buffer, nullptr);
}

TEST_F(RtlTest, CompareMemoryCountsLeadingEqualBytes) {
    const unsigned char a[] = {1, 2, 3, 4, 5};
    const unsigned char b[] = {1, 2, 3, 9, 5};
    EXPECT_EQ(RtlCompareMemory(a, b, 5), 3u);
    EXPECT_EQ(RtlCompareMemory(a, a, 5), 5u);
    EXPECT_EQ(RtlCompareMemory(a, b, 0), 0u);
}

}  // namespace
}  // namespace bayercam::host
