// Conformance of property routing and data intersection: requests reach the item's handler by
// set GUID, id and verb; the class driver refuses unknown items, verbs the item does not offer
// and buffers below the item's minimum sizes before any handler runs, and answers the pin's data
// ranges itself.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "tests/host/ks/ks_fixture.h"

namespace bayercam::host::ks::testing {
namespace {

using namespace testminidriver;

KSPROPERTY request(ULONG id, ULONG verb, const GUID& set = kTestPropertySet) {
    KSPROPERTY property{};
    property.Set = set;
    property.Id = id;
    property.Flags = verb;
    return property;
}

class PropertyRouting : public KsHostTest {
  protected:
    void SetUp() override {
        KsHostTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(attachAndOpen());
    }
    ULONG handlerCalls() { return CountEvents(kGetHandler) + CountEvents(kSetHandler); }
};

TEST_F(PropertyRouting, SetThenGetReachesTheHandlersWithTheFilter) {
    KSPROPERTY set = request(0, KSPROPERTY_TYPE_SET);
    LONG value = 1234;
    ULONG returned = 99;
    ASSERT_EQ(client_->property(filter_, &set, sizeof(set), &value, sizeof(value), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(testDriver.propertyValue, 1234);
    EXPECT_EQ(testDriver.filterSeenByHandler, client_->filterObject(filter_));

    KSPROPERTY get = request(0, KSPROPERTY_TYPE_GET);
    LONG read = 0;
    ASSERT_EQ(client_->property(filter_, &get, sizeof(get), &read, sizeof(read), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(read, 1234);
    EXPECT_EQ(returned, sizeof(LONG));
}

TEST_F(PropertyRouting, AVerbTheItemDoesNotOfferReachesNoHandler) {
    KSPROPERTY setOfGetOnly = request(1, KSPROPERTY_TYPE_SET);
    LONGLONG data = 0;
    char big[32] = {};
    std::memcpy(big, &setOfGetOnly, sizeof(setOfGetOnly));
    EXPECT_EQ(client_->property(filter_, big, sizeof(big), &data, sizeof(data)),
              STATUS_INVALID_DEVICE_REQUEST);
    KSPROPERTY getOfSetOnly = request(2, KSPROPERTY_TYPE_GET);
    EXPECT_EQ(client_->property(filter_, &getOfSetOnly, sizeof(getOfSetOnly), &data, sizeof(data)),
              STATUS_INVALID_DEVICE_REQUEST);
    KSPROPERTY support = request(0, KSPROPERTY_TYPE_BASICSUPPORT);
    EXPECT_EQ(client_->property(filter_, &support, sizeof(support), &data, sizeof(data)),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(handlerCalls(), 0u);
}

TEST_F(PropertyRouting, BuffersBelowTheMinimumSizesReachNoHandler) {
    KSPROPERTY get = request(1, KSPROPERTY_TYPE_GET);  // needs a 32-byte request, 8 data bytes
    LONGLONG data = 0;
    EXPECT_EQ(client_->property(filter_, &get, sizeof(get), &data, sizeof(data)),
              STATUS_INVALID_BUFFER_SIZE);
    char big[32] = {};
    std::memcpy(big, &get, sizeof(get));
    EXPECT_EQ(client_->property(filter_, big, sizeof(big), &data, 4), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(client_->property(filter_, big, 16, &data, sizeof(data)), STATUS_INVALID_BUFFER_SIZE)
        << "a request shorter than KSPROPERTY";
    EXPECT_EQ(handlerCalls(), 0u);
}

TEST_F(PropertyRouting, AZeroLengthDataBufferAsksForTheSize) {
    KSPROPERTY get = request(0, KSPROPERTY_TYPE_GET);
    ULONG returned = 0;
    EXPECT_EQ(client_->property(filter_, &get, sizeof(get), nullptr, 0, &returned),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(returned, sizeof(LONG));
    EXPECT_EQ(handlerCalls(), 0u);
}

TEST_F(PropertyRouting, UnknownSetOrIdIsRefused) {
    LONG data = 0;
    KSPROPERTY unknownId = request(7, KSPROPERTY_TYPE_GET);
    EXPECT_EQ(client_->property(filter_, &unknownId, sizeof(unknownId), &data, sizeof(data)),
              STATUS_NOT_FOUND);
    KSPROPERTY unknownSet = request(0, KSPROPERTY_TYPE_GET, KSCATEGORY_VIDEO);
    EXPECT_EQ(client_->property(filter_, &unknownSet, sizeof(unknownSet), &data, sizeof(data)),
              STATUS_PROPSET_NOT_FOUND);
    EXPECT_EQ(handlerCalls(), 0u);
}

// The class driver answers a pin factory's data ranges itself, from the pin descriptor.
TEST_F(PropertyRouting, ThePinsDataRangesComeFromItsDescriptor) {
    struct Case {
        const char* name;
        ULONG pinId;
        ULONG verb;
        ULONG bufferSize;
        NTSTATUS status;
        ULONG returned;
    };
    constexpr ULONG kAnswer = sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE);
    const Case cases[] = {
        {"size query", 0, KSPROPERTY_TYPE_GET, 0, STATUS_BUFFER_OVERFLOW, kAnswer},
        {"short buffer", 0, KSPROPERTY_TYPE_GET, kAnswer - 1, STATUS_BUFFER_TOO_SMALL, 0},
        {"answer", 0, KSPROPERTY_TYPE_GET, kAnswer + 8, STATUS_SUCCESS, kAnswer},
        {"set", 0, KSPROPERTY_TYPE_SET, kAnswer, STATUS_INVALID_DEVICE_REQUEST, 0},
        {"unknown pin", 1, KSPROPERTY_TYPE_GET, kAnswer, STATUS_INVALID_PARAMETER, 0},
    };
    for (const Case& c : cases) {
        KSP_PIN request{{KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, c.verb}, c.pinId, {0}};
        std::vector<unsigned char> answer(c.bufferSize);
        ULONG returned = 99;
        EXPECT_EQ(client_->property(filter_, &request, sizeof(request), answer.data(), c.bufferSize,
                                    &returned),
                  c.status)
            << c.name;
        EXPECT_EQ(returned, c.returned) << c.name;
        if (c.status != STATUS_SUCCESS) continue;
        KSMULTIPLE_ITEM header;
        KSDATARANGE range;
        std::memcpy(&header, answer.data(), sizeof(header));
        std::memcpy(&range, answer.data() + sizeof(header), sizeof(range));
        EXPECT_EQ(header.Size, kAnswer);
        EXPECT_EQ(header.Count, 1u);
        EXPECT_EQ(
            std::memcmp(&range, TestPinDescriptor()->PinDescriptor.DataRanges[0], sizeof(range)), 0)
            << "the descriptor's range";
    }
}

class DataIntersection : public KsHostTest {
  protected:
    void SetUp() override {
        KsHostTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(attachAndOpen());
        range_ = testFormat(777);
    }
    KSDATARANGE range_{};
};

TEST_F(DataIntersection, FullBufferGetsTheHandlersFormat) {
    std::vector<unsigned char> buffer(kIntersectResultSize + 16, 0);
    ULONG returned = 0;
    ASSERT_EQ(client_->intersect(filter_, 0, &range_, buffer.data(),
                                 static_cast<ULONG>(buffer.size()), &returned),
              STATUS_SUCCESS);
    ASSERT_EQ(returned, kIntersectResultSize);
    KSDATAFORMAT format;
    std::memcpy(&format, buffer.data(), sizeof(format));
    EXPECT_EQ(format.FormatSize, kIntersectResultSize);
    EXPECT_EQ(format.SampleSize, 777u);
    EXPECT_TRUE(IsEqualGUID(format.SubFormat, kTestSubFormat));
    EXPECT_EQ(buffer[sizeof(KSDATAFORMAT)], 0xAB);
    EXPECT_EQ(buffer[kIntersectResultSize], 0) << "nothing written past the result";
}

// The answers short of a result: a size query, a short buffer (which reports no size), a range
// of another subtype, a wildcard subtype that reaches the handler, an unknown pin factory.
TEST_F(DataIntersection, BufferRangeAndPinDecideTheStatus) {
    struct Case {
        const char* name;
        ULONG pinId;
        GUID subFormat;
        ULONG bufferSize;
        NTSTATUS status;
        std::optional<ULONG> returned;
    };
    const Case cases[] = {
        {"size query", 0, kTestSubFormat, 0, STATUS_BUFFER_OVERFLOW, kIntersectResultSize},
        {"short buffer", 0, kTestSubFormat, kIntersectResultSize - 1, STATUS_BUFFER_TOO_SMALL, 0},
        {"other subtype", 0, MEDIASUBTYPE_RGB32, kIntersectResultSize, STATUS_NO_MATCH, {}},
        {"wildcard", 0, KSDATAFORMAT_SUBTYPE_WILDCARD, 0, STATUS_BUFFER_OVERFLOW,
         kIntersectResultSize},
        {"unknown pin", 1, kTestSubFormat, 0, STATUS_INVALID_PARAMETER, {}},
    };
    for (const Case& c : cases) {
        range_.SubFormat = c.subFormat;
        std::vector<unsigned char> buffer(c.bufferSize);
        ULONG returned = 0;
        EXPECT_EQ(
            client_->intersect(filter_, c.pinId, &range_, c.bufferSize ? buffer.data() : nullptr,
                               c.bufferSize, &returned),
            c.status)
            << c.name;
        if (c.returned) {
            EXPECT_EQ(returned, *c.returned) << c.name;
        }
    }
}

}  // namespace
}  // namespace bayercam::host::ks::testing
