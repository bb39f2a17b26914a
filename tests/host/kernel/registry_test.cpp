// What the driver's settings would not show of the registry calls over the persistent store: the
// ZwQueryValueKey buffer rules, device keys by instance path, and damaged or unusable files.
#include <fstream>
#include <functional>
#include <numeric>

#include "tests/host/kernel/registry_fixture.h"

namespace bayercam::host::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr ULONG kHeader = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

// A buffer too small for the header gets nothing; one too small for the data gets the header and
// what fits, and the call fails; either way the length needed comes back.
TEST_F(RegistryTest, BufferRulesOfTheQuery) {
    const Bytes data = pattern(8, 1);
    HANDLE key = nullptr;
    ASSERT_EQ(createKey(nullptr, L"\\Test", key), STATUS_SUCCESS);
    ASSERT_EQ(setValue(key, L"Eight", REG_QWORD, data), STATUS_SUCCESS);
    struct Case {
        ULONG length;
        NTSTATUS status;
        ULONG written;
    };
    for (const Case& c : {Case{kHeader - 1, STATUS_BUFFER_TOO_SMALL, 0},
                          Case{kHeader, STATUS_BUFFER_OVERFLOW, kHeader},
                          Case{kHeader + 7, STATUS_BUFFER_OVERFLOW, kHeader + 7},
                          Case{kHeader + 8, STATUS_SUCCESS, kHeader + 8},
                          Case{kHeader + 20, STATUS_SUCCESS, kHeader + 8}}) {
        PartialQuery query = queryPartial(key, L"Eight", c.length);
        EXPECT_EQ(query.status, c.status) << "length " << c.length;
        EXPECT_EQ(query.resultLength, kHeader + 8) << "length " << c.length;
        Bytes expected(c.length, 0xCC);
        if (c.written > 0) {
            KEY_VALUE_PARTIAL_INFORMATION header{0, REG_QWORD, 8, {}};
            std::memcpy(expected.data(), &header, kHeader);
            std::copy_n(data.begin(), c.written - kHeader, expected.begin() + kHeader);
        }
        EXPECT_EQ(query.buffer, expected) << "length " << c.length;
    }
    EXPECT_EQ(queryPartial(key, L"Missing", 20).status, STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, DeviceKeysFollowTheInstancePathAndOutliveTheStore) {
    DEVICE_OBJECT first{};
    DEVICE_OBJECT sameInstance{};
    DEVICE_OBJECT otherInstance{};
    HANDLE key = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(IoOpenDeviceRegistryKey(&first, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &key),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(key, nullptr) << "an unbound device has no key";
    bindDeviceRegistryKey(&first, "USB\\VID_1234&PID_5678\\1");
    bindDeviceRegistryKey(&sameInstance, "usb\\vid_1234&pid_5678\\1");
    bindDeviceRegistryKey(&otherInstance, "USB\\VID_1234&PID_5678\\2");
    HANDLE driverKey = nullptr;
    HANDLE settings = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(&first, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey),
              STATUS_SUCCESS);
    ASSERT_EQ(createKey(driverKey, L"Settings", settings), STATUS_SUCCESS);
    ASSERT_EQ(setDword(settings, L"Exposure", 1070), STATUS_SUCCESS);
    for (HANDLE k : {settings, driverKey}) EXPECT_EQ(ZwClose(k), STATUS_SUCCESS);
    closeRegistry();

    for (DEVICE_OBJECT* pdo : {&sameInstance, &otherInstance}) {
        ASSERT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey),
                  STATUS_SUCCESS);
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        ASSERT_EQ(createKey(driverKey, L"SETTINGS", settings), STATUS_SUCCESS);
        const Bytes value = readValue(settings, L"exposure", &status);
        EXPECT_EQ(value, (pdo == &sameInstance ? Bytes{0x2E, 0x04, 0, 0} : Bytes{}));
        EXPECT_EQ(ZwClose(settings), STATUS_SUCCESS);
        EXPECT_EQ(ZwClose(driverKey), STATUS_SUCCESS);
    }
    for (DEVICE_OBJECT* pdo : {&first, &sameInstance, &otherInstance}) unbindDeviceRegistryKey(pdo);
}

// Every way in reports the status, hands out no handle and leaves nothing open.
TEST_F(RegistryTest, DamagedOrUnusableFilesFailEveryCall) {
    auto garble = [this](std::streamoff offset) {
        std::fstream file(databaseFile(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(offset);
        file << std::string(4 * 4096, 'x');
    };
    struct Case {
        const char* name;
        bool filled;  // a store spanning many pages is written first
        std::function<void()> damage;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"garbled pages", true, [&] { garble(4096); }, STATUS_REGISTRY_CORRUPT},
        {"truncated", true,
         [this] {
             std::filesystem::resize_file(databaseFile(),
                                          std::filesystem::file_size(databaseFile()) / 2);
         },
         STATUS_REGISTRY_CORRUPT},
        {"garbage file", false,
         [this] {
             std::filesystem::create_directories(databaseFile().parent_path());
             std::ofstream(databaseFile()) << std::string(8192, 'x');
         },
         STATUS_REGISTRY_CORRUPT},
        {"folder is a file", false,
         [this] {
             std::ofstream(folder() / "plain-file") << "not a folder";
             setRegistryPath(folder() / "plain-file" / "registry.sqlite");
         },
         STATUS_REGISTRY_IO_FAILED},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(folder() / "state");
        setRegistryPath(databaseFile());
        HANDLE key = nullptr;
        if (c.filled) {
            ASSERT_EQ(createKey(nullptr, L"\\Filled", key), STATUS_SUCCESS);
            for (int i = 0; i < 64; ++i) {
                ASSERT_EQ(setValue(key, L"V" + std::to_wstring(i), REG_BINARY, pattern(1000, i)),
                          STATUS_SUCCESS);
            }
            ASSERT_EQ(ZwClose(key), STATUS_SUCCESS);
        }
        closeRegistry();
        c.damage();
        key = reinterpret_cast<HANDLE>(1);
        EXPECT_EQ(createKey(nullptr, L"\\Filled", key), c.status) << c.name;
        EXPECT_EQ(key, nullptr) << c.name;
        DEVICE_OBJECT pdo{};
        bindDeviceRegistryKey(&pdo, "USB\\VID_1234&PID_5678\\1");
        EXPECT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &key),
                  c.status)
            << c.name;
        unbindDeviceRegistryKey(&pdo);
        closeRegistry();
    }
}

}  // namespace
}  // namespace bayercam::host::testing
