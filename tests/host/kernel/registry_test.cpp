// The registry calls over the persistent store: values, the ZwQueryValueKey buffer rules, keys,
// device keys, persistence across reopening, and damaged or unusable database files.
#include <fstream>
#include <numeric>

#include "tests/host/kernel/registry_fixture.h"

namespace bayercam::host::testing {
namespace {

constexpr ULONG kPartialHeader = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

// A key below the root that each test starts from.
class RegistryValues : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(createKey(nullptr, L"\\Test", key_), STATUS_SUCCESS);
    }
    void TearDown() override {
        EXPECT_EQ(ZwClose(key_), STATUS_SUCCESS);
        RegistryTest::TearDown();
    }
    HANDLE key_ = nullptr;
};

// ---------------------------------------------------------------- values

TEST_F(RegistryValues, EveryTypeAndSizeRoundTrips) {
    const ULONG types[] = {REG_NONE,  REG_SZ,    REG_EXPAND_SZ, REG_BINARY,
                           REG_DWORD, REG_QWORD, 0x1234};
    const std::size_t sizes[] = {0, 1, 4, 8, 4096};
    for (ULONG type : types) {
        for (std::size_t size : sizes) {
            std::wstring name = L"V" + std::to_wstring(type) + L"_" + std::to_wstring(size);
            auto data = pattern(size, static_cast<std::uint8_t>(type + size));
            ASSERT_EQ(setValue(key_, name, type, data), STATUS_SUCCESS) << "type " << type;
            PartialQuery query = queryPartial(key_, name, kPartialHeader + 4096);
            ASSERT_EQ(query.status, STATUS_SUCCESS) << "type " << type << " size " << size;
            EXPECT_EQ(query.resultLength, kPartialHeader + size);
            EXPECT_EQ(query.info().TitleIndex, 0u);
            EXPECT_EQ(query.info().Type, type);
            EXPECT_EQ(query.data(), data) << "type " << type << " size " << size;
        }
    }
}

TEST_F(RegistryValues, SettingAgainReplacesTypeAndData) {
    ASSERT_EQ(setValue(key_, L"Value", REG_BINARY, pattern(4096, 1)), STATUS_SUCCESS);
    ASSERT_EQ(setDword(key_, L"Value", 42), STATUS_SUCCESS);
    PartialQuery query = queryPartial(key_, L"Value", 64);
    ASSERT_EQ(query.status, STATUS_SUCCESS);
    EXPECT_EQ(query.info().Type, ULONG(REG_DWORD));
    EXPECT_EQ(query.data(), (std::vector<std::uint8_t>{42, 0, 0, 0}));
}

TEST_F(RegistryValues, NamesCompareWithoutCase) {
    ASSERT_EQ(setDword(key_, L"Exposure", 3), STATUS_SUCCESS);
    ASSERT_EQ(setDword(key_, L"EXPOSURE", 7), STATUS_SUCCESS);
    EXPECT_EQ(readValue(key_, L"exposure"), (std::vector<std::uint8_t>{7, 0, 0, 0}));
    EXPECT_NE(readValue(key_, L"Exposur").size(), 4u);
}

TEST_F(RegistryValues, NamesBeyondAsciiRoundTrip) {
    const std::wstring name = L"Gr\u00fcn \u20ac \U0001D11E";
    ASSERT_EQ(setDword(key_, name, 5), STATUS_SUCCESS);
    EXPECT_EQ(readValue(key_, name), (std::vector<std::uint8_t>{5, 0, 0, 0}));
    NTSTATUS status = STATUS_SUCCESS;
    readValue(key_, L"Gr\u00fcn", &status);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(RegistryValues, EmptyNameIsAValueOfItsOwn) {
    ASSERT_EQ(setDword(key_, L"", 9), STATUS_SUCCESS);
    EXPECT_EQ(readValue(key_, L""), (std::vector<std::uint8_t>{9, 0, 0, 0}));
}

TEST_F(RegistryValues, MalformedNamesAreRefused) {
    const std::wstring surrogate(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(setDword(key_, surrogate, 1), STATUS_OBJECT_NAME_INVALID);
    UNICODE_STRING odd = unicode(L"Name");
    odd.Length = 3;
    ULONG value = 1;
    EXPECT_EQ(ZwSetValueKey(key_, &odd, 0, REG_DWORD, &value, 4), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(ZwSetValueKey(key_, nullptr, 0, REG_DWORD, &value, 4), STATUS_INVALID_PARAMETER);
    UNICODE_STRING name = unicode(L"Name");
    EXPECT_EQ(ZwSetValueKey(key_, &name, 0, REG_DWORD, nullptr, 4), STATUS_INVALID_PARAMETER);
}

// ---------------------------------------------------------------- ZwQueryValueKey buffer rules

TEST_F(RegistryValues, HeaderThatDoesNotFitGetsNothing) {
    ASSERT_EQ(setDword(key_, L"Gain", 0x11223344), STATUS_SUCCESS);
    PartialQuery query = queryPartial(key_, L"Gain", kPartialHeader - 1);
    EXPECT_EQ(query.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(query.resultLength, kPartialHeader + 4);
    EXPECT_EQ(query.buffer, std::vector<std::uint8_t>(kPartialHeader - 1, 0xCC));

    ULONG needed = 0;
    UNICODE_STRING name = unicode(L"Gain");
    EXPECT_EQ(ZwQueryValueKey(key_, &name, KeyValuePartialInformation, nullptr, 0, &needed),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, kPartialHeader + 4);
}

TEST_F(RegistryValues, DataThatDoesNotFitGetsHeaderAndWhatFits) {
    auto data = pattern(4096, 0);
    ASSERT_EQ(setValue(key_, L"Big", REG_BINARY, data), STATUS_SUCCESS);
    PartialQuery query = queryPartial(key_, L"Big", 20);
    EXPECT_EQ(query.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_FALSE(NT_SUCCESS(query.status)) << "the driver treats an overflow as a failed read";
    EXPECT_EQ(query.resultLength, kPartialHeader + 4096);
    EXPECT_EQ(query.info().Type, ULONG(REG_BINARY));
    EXPECT_EQ(query.info().DataLength, 4096u);
    EXPECT_TRUE(
        std::equal(query.buffer.begin() + kPartialHeader, query.buffer.end(), data.begin()));

    PartialQuery headerOnly = queryPartial(key_, L"Big", kPartialHeader);
    EXPECT_EQ(headerOnly.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(headerOnly.info().DataLength, 4096u);
}

TEST_F(RegistryValues, ExactFitSucceeds) {
    ASSERT_EQ(setValue(key_, L"Eight", REG_QWORD, pattern(8, 1)), STATUS_SUCCESS);
    PartialQuery query = queryPartial(key_, L"Eight", kPartialHeader + 8);
    EXPECT_EQ(query.status, STATUS_SUCCESS);
    EXPECT_EQ(query.resultLength, kPartialHeader + 8);
    EXPECT_EQ(query.data(), pattern(8, 1));

    PartialQuery oneShort = queryPartial(key_, L"Eight", kPartialHeader + 7);
    EXPECT_EQ(oneShort.status, STATUS_BUFFER_OVERFLOW);
}

TEST_F(RegistryValues, MissingValueIsNotFound) {
    PartialQuery query = queryPartial(key_, L"Missing", 20);
    EXPECT_EQ(query.status, STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(query.buffer, std::vector<std::uint8_t>(20, 0xCC));
}

TEST_F(RegistryValues, BasicInformationGivesTheStoredName) {
    ASSERT_EQ(setDword(key_, L"Gain", 1), STATUS_SUCCESS);
    PartialQuery query = queryPartial(key_, L"GAIN", 64, KeyValueBasicInformation);
    ASSERT_EQ(query.status, STATUS_SUCCESS);
    const auto& info = *reinterpret_cast<const KEY_VALUE_BASIC_INFORMATION*>(query.buffer.data());
    EXPECT_EQ(query.resultLength, offsetof(KEY_VALUE_BASIC_INFORMATION, Name) + 4 * sizeof(WCHAR));
    EXPECT_EQ(info.Type, ULONG(REG_DWORD));
    EXPECT_EQ(info.NameLength, 4 * sizeof(WCHAR));
    EXPECT_EQ(std::wstring(info.Name, 4), L"Gain") << "the spelling it was created with";
}

TEST_F(RegistryValues, FullInformationGivesNameAndData) {
    ASSERT_EQ(setValue(key_, L"Gain", REG_BINARY, pattern(6, 1)), STATUS_SUCCESS);
    PartialQuery query = queryPartial(key_, L"Gain", 64, KeyValueFullInformation);
    ASSERT_EQ(query.status, STATUS_SUCCESS);
    const auto& info = *reinterpret_cast<const KEY_VALUE_FULL_INFORMATION*>(query.buffer.data());
    const ULONG nameBytes = 4 * sizeof(WCHAR);
    EXPECT_EQ(info.NameLength, nameBytes);
    EXPECT_EQ(std::wstring(info.Name, 4), L"Gain");
    EXPECT_EQ(info.DataOffset % sizeof(ULONG), 0u);
    EXPECT_GE(info.DataOffset, offsetof(KEY_VALUE_FULL_INFORMATION, Name) + nameBytes);
    EXPECT_EQ(info.DataLength, 6u);
    EXPECT_EQ(query.resultLength, info.DataOffset + 6);
    EXPECT_EQ(std::vector<std::uint8_t>(query.buffer.begin() + info.DataOffset,
                                        query.buffer.begin() + info.DataOffset + 6),
              pattern(6, 1));

    const ULONG header = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
    EXPECT_EQ(queryPartial(key_, L"Gain", header - 1, KeyValueFullInformation).status,
              STATUS_BUFFER_TOO_SMALL);
    PartialQuery headerOnly = queryPartial(key_, L"Gain", header, KeyValueFullInformation);
    EXPECT_EQ(headerOnly.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(headerOnly.resultLength, info.DataOffset + 6);
}

TEST_F(RegistryValues, UndeclaredInformationClassIsRefused) {
    ASSERT_EQ(setDword(key_, L"Gain", 1), STATUS_SUCCESS);
    EXPECT_EQ(queryPartial(key_, L"Gain", 64, static_cast<KEY_VALUE_INFORMATION_CLASS>(3)).status,
              STATUS_INVALID_PARAMETER);
}

// ---------------------------------------------------------------- keys and handles

TEST_F(RegistryTest, CreateReportsNewThenExisting) {
    HANDLE first = nullptr;
    HANDLE second = nullptr;
    ULONG disposition = 0;
    ASSERT_EQ(createKey(nullptr, L"\\Camera", first, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG(REG_CREATED_NEW_KEY));
    ASSERT_EQ(createKey(nullptr, L"\\CAMERA", second, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG(REG_OPENED_EXISTING_KEY));
    ASSERT_EQ(setDword(first, L"Shared", 12), STATUS_SUCCESS);
    EXPECT_EQ(readValue(second, L"shared"), (std::vector<std::uint8_t>{12, 0, 0, 0}));
    EXPECT_EQ(ZwClose(first), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(second), STATUS_SUCCESS);
}

TEST_F(RegistryTest, CreateNeedsTheParentKey) {
    HANDLE key = nullptr;
    EXPECT_EQ(createKey(nullptr, L"\\Missing\\Child", key), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(openKey(nullptr, L"\\Missing", key), STATUS_OBJECT_NAME_NOT_FOUND)
        << "a failed create leaves no ancestor behind";
}

TEST_F(RegistryTest, RelativePathsStartAtTheRootHandle) {
    HANDLE parent = nullptr;
    HANDLE child = nullptr;
    HANDLE grandchild = nullptr;
    ASSERT_EQ(createKey(nullptr, L"\\Parent", parent), STATUS_SUCCESS);
    ASSERT_EQ(createKey(parent, L"Child", child), STATUS_SUCCESS);
    ASSERT_EQ(createKey(parent, L"Child\\Grandchild", grandchild), STATUS_SUCCESS);
    ASSERT_EQ(setDword(parent, L"Level", 0), STATUS_SUCCESS);
    ASSERT_EQ(setDword(grandchild, L"Level", 2), STATUS_SUCCESS);
    NTSTATUS status = STATUS_SUCCESS;
    readValue(child, L"Level", &status);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND) << "values belong to one key only";

    HANDLE reopened = nullptr;
    ASSERT_EQ(openKey(nullptr, L"\\parent\\child\\GRANDCHILD", reopened), STATUS_SUCCESS);
    EXPECT_EQ(readValue(reopened, L"Level"), (std::vector<std::uint8_t>{2, 0, 0, 0}));
    for (HANDLE key : {parent, child, grandchild, reopened})
        EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, MalformedPathsAreRefused) {
    HANDLE root = nullptr;
    HANDLE key = nullptr;
    ASSERT_EQ(createKey(nullptr, L"\\Root", root), STATUS_SUCCESS);
    EXPECT_EQ(createKey(nullptr, L"Relative", key), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(createKey(root, L"\\Absolute", key), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(createKey(root, L"Empty\\\\Component", key), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(createKey(root, L"Trailing\\", key), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(createKey(nullptr, L"\\", key), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(ZwClose(root), STATUS_SUCCESS);
}

TEST_F(RegistryTest, BadHandlesAreRefused) {
    HANDLE key = nullptr;
    ASSERT_EQ(createKey(nullptr, L"\\Closed", key), STATUS_SUCCESS);
    ASSERT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(setDword(key, L"Value", 1), STATUS_INVALID_HANDLE);
    EXPECT_EQ(queryPartial(key, L"Value", 20).status, STATUS_INVALID_HANDLE);
    HANDLE child = nullptr;
    EXPECT_EQ(createKey(key, L"Child", child), STATUS_INVALID_HANDLE);
    EXPECT_EQ(ZwClose(key), STATUS_INVALID_HANDLE);
    EXPECT_EQ(setDword(reinterpret_cast<HANDLE>(0x7FF0), L"Value", 1), STATUS_INVALID_HANDLE);
}

TEST_F(RegistryTest, CallsAbovePassiveLevelAreReported) {
    HANDLE key = nullptr;
    ASSERT_EQ(createKey(nullptr, L"\\Raised", key), STATUS_SUCCESS);
    KIRQL old = 0;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    setDword(key, L"Value", 1);
    KeLowerIrql(old);
    expectVerifierFailure("ZwSetValueKey called at IRQL 2");
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, ValuesNeedTheAccessTheyUse) {
    HANDLE created = nullptr;
    ASSERT_EQ(createKey(nullptr, L"\\Guarded", created), STATUS_SUCCESS);
    ASSERT_EQ(setDword(created, L"Value", 1), STATUS_SUCCESS);
    UNICODE_STRING name = unicode(L"\\Guarded");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE readOnly = nullptr;
    HANDLE controlOnly = nullptr;
    ASSERT_EQ(ZwOpenKey(&readOnly, KEY_READ, &attributes), STATUS_SUCCESS);
    ASSERT_EQ(ZwOpenKey(&controlOnly, READ_CONTROL, &attributes), STATUS_SUCCESS);
    EXPECT_EQ(readValue(readOnly, L"Value"), (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(setDword(readOnly, L"Value", 2), STATUS_ACCESS_DENIED);
    EXPECT_EQ(queryPartial(controlOnly, L"Value", 20).status, STATUS_ACCESS_DENIED);
    for (HANDLE key : {created, readOnly, controlOnly}) EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

// ---------------------------------------------------------------- device keys

TEST_F(RegistryTest, UnboundDeviceAndUnknownKeyTypeHaveNoKeys) {
    DEVICE_OBJECT pdo{};
    HANDLE key = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &key),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(key, nullptr);
    bindDeviceRegistryKey(&pdo, "USB\\VID_1234&PID_5678\\1");
    EXPECT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_CURRENT_HWPROFILE, KEY_READ, &key),
              STATUS_INVALID_PARAMETER)
        << "a bound device has no key of an unknown type";
    unbindDeviceRegistryKey(&pdo);
    EXPECT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &key),
              STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(RegistryTest, DriverSettingsKeyWorksAsTheDriverUsesIt) {
    DEVICE_OBJECT pdo{};
    bindDeviceRegistryKey(&pdo, "USB\\VID_1234&PID_5678\\1");
    HANDLE driverKey = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey),
              STATUS_SUCCESS);
    HANDLE settings = nullptr;
    ULONG disposition = 0;
    ASSERT_EQ(createKey(driverKey, L"Settings", settings, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG(REG_CREATED_NEW_KEY));
    ASSERT_EQ(setDword(settings, L"Exposure", 1070), STATUS_SUCCESS);
    PartialQuery query = queryPartial(settings, L"Exposure", 20);
    ASSERT_EQ(query.status, STATUS_SUCCESS);
    EXPECT_EQ(query.info().DataLength, 4u);
    EXPECT_EQ(query.data(), (std::vector<std::uint8_t>{0x2E, 0x04, 0, 0}));
    EXPECT_EQ(ZwClose(settings), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(driverKey), STATUS_SUCCESS);
    unbindDeviceRegistryKey(&pdo);
}

TEST_F(RegistryTest, DeviceKeysFollowTheInstancePath) {
    DEVICE_OBJECT first{};
    DEVICE_OBJECT sameInstance{};
    DEVICE_OBJECT otherInstance{};
    bindDeviceRegistryKey(&first, "USB\\VID_1234&PID_5678\\1");
    bindDeviceRegistryKey(&sameInstance, "usb\\vid_1234&pid_5678\\1");
    bindDeviceRegistryKey(&otherInstance, "USB\\VID_1234&PID_5678\\2");
    HANDLE driverKey = nullptr;
    HANDLE deviceKey = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(&first, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &driverKey),
              STATUS_SUCCESS);
    ASSERT_EQ(IoOpenDeviceRegistryKey(&first, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &deviceKey),
              STATUS_SUCCESS);
    ASSERT_EQ(setDword(driverKey, L"Where", 1), STATUS_SUCCESS);
    ASSERT_EQ(setDword(deviceKey, L"Where", 2), STATUS_SUCCESS);

    HANDLE again = nullptr;
    HANDLE other = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(&sameInstance, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &again),
              STATUS_SUCCESS);
    ASSERT_EQ(IoOpenDeviceRegistryKey(&otherInstance, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &other),
              STATUS_SUCCESS);
    EXPECT_EQ(readValue(again, L"Where"), (std::vector<std::uint8_t>{1, 0, 0, 0}));
    NTSTATUS status = STATUS_SUCCESS;
    readValue(other, L"Where", &status);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
    for (HANDLE key : {driverKey, deviceKey, again, other}) EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    for (DEVICE_OBJECT* pdo : {&first, &sameInstance, &otherInstance}) unbindDeviceRegistryKey(pdo);
}

// ---------------------------------------------------------------- persistence

TEST_F(RegistryTest, ValuesSurviveReopeningTheStore) {
    HANDLE key = nullptr;
    ASSERT_EQ(createKey(nullptr, L"\\Kept", key), STATUS_SUCCESS);
    for (std::size_t size : {0, 1, 4, 8, 4096}) {
        ASSERT_EQ(setValue(key, L"Size" + std::to_wstring(size), REG_BINARY, pattern(size, 3)),
                  STATUS_SUCCESS);
    }
    ASSERT_EQ(ZwClose(key), STATUS_SUCCESS);
    closeRegistry();

    setRegistryPath(folder() / "other.sqlite");
    EXPECT_EQ(openKey(nullptr, L"\\Kept", key), STATUS_OBJECT_NAME_NOT_FOUND);
    setRegistryPath(databaseFile());
    ASSERT_EQ(openKey(nullptr, L"\\kept", key), STATUS_SUCCESS);
    for (std::size_t size : {0, 1, 4, 8, 4096}) {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        EXPECT_EQ(readValue(key, L"SIZE" + std::to_wstring(size), &status), pattern(size, 3));
        EXPECT_EQ(status, STATUS_SUCCESS) << "size " << size;
    }
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, OpenKeysKeepTheirStoreWhenThePathChanges) {
    HANDLE key = nullptr;
    ASSERT_EQ(createKey(nullptr, L"\\Before", key), STATUS_SUCCESS);
    setRegistryPath(folder() / "other.sqlite");
    ASSERT_EQ(setDword(key, L"Value", 4), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    setRegistryPath(databaseFile());
    ASSERT_EQ(openKey(nullptr, L"\\Before", key), STATUS_SUCCESS);
    EXPECT_EQ(readValue(key, L"Value"), (std::vector<std::uint8_t>{4, 0, 0, 0}));
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

// ---------------------------------------------------------------- damaged and unusable files

class DamagedRegistry : public RegistryTest {
  protected:
    // Fills a store with enough keys and values to span many pages, then closes it.
    void writeStore() {
        HANDLE key = nullptr;
        ASSERT_EQ(createKey(nullptr, L"\\Filled", key), STATUS_SUCCESS);
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(setValue(key, L"Value" + std::to_wstring(i), REG_BINARY, pattern(1000, i)),
                      STATUS_SUCCESS);
        }
        ASSERT_EQ(ZwClose(key), STATUS_SUCCESS);
        closeRegistry();
    }

    void overwrite(std::streamoff offset, std::size_t count) {
        std::fstream file(databaseFile(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(offset);
        std::vector<char> garbage(count);
        for (std::size_t i = 0; i < count; ++i) garbage[i] = static_cast<char>(i * 37 + 11);
        file.write(garbage.data(), static_cast<std::streamsize>(count));
    }

    // Every way in reports the status, hands out no handle and leaves nothing open.
    void expectEveryCallFails(NTSTATUS expected) {
        HANDLE key = reinterpret_cast<HANDLE>(1);
        EXPECT_EQ(createKey(nullptr, L"\\Filled", key), expected);
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(openKey(nullptr, L"\\Filled", key), expected);
        DEVICE_OBJECT pdo{};
        bindDeviceRegistryKey(&pdo, "USB\\VID_1234&PID_5678\\1");
        EXPECT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &key),
                  expected);
        EXPECT_EQ(key, nullptr);
        unbindDeviceRegistryKey(&pdo);
    }
};

TEST_F(DamagedRegistry, GarbledPagesAreCorrupt) {
    writeStore();
    overwrite(4096, 4 * 4096);
    expectEveryCallFails(STATUS_REGISTRY_CORRUPT);
}

TEST_F(DamagedRegistry, TruncatedFileIsCorrupt) {
    writeStore();
    std::filesystem::resize_file(databaseFile(), std::filesystem::file_size(databaseFile()) / 2);
    expectEveryCallFails(STATUS_REGISTRY_CORRUPT);
}

TEST_F(DamagedRegistry, GarbageFileIsCorruptUntilReplaced) {
    std::filesystem::create_directories(databaseFile().parent_path());
    std::ofstream(databaseFile()) << std::string(8192, 'x');
    expectEveryCallFails(STATUS_REGISTRY_CORRUPT);
    std::filesystem::remove(databaseFile());
    HANDLE key = nullptr;
    EXPECT_EQ(createKey(nullptr, L"\\Fresh", key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(DamagedRegistry, FolderThatCannotBeCreatedFails) {
    std::ofstream(folder() / "plain-file") << "not a folder";
    setRegistryPath(folder() / "plain-file" / "registry.sqlite");
    expectEveryCallFails(STATUS_REGISTRY_IO_FAILED);
}

TEST_F(DamagedRegistry, FileThatIsAFolderFails) {
    std::filesystem::create_directories(databaseFile());
    HANDLE key = reinterpret_cast<HANDLE>(1);
    NTSTATUS status = createKey(nullptr, L"\\Any", key);
    EXPECT_TRUE(status == STATUS_REGISTRY_IO_FAILED || status == STATUS_ACCESS_DENIED)
        << std::hex << "got 0x" << status;
    EXPECT_EQ(key, nullptr);
}

TEST_F(DamagedRegistry, FolderWithoutPermissionIsAccessDenied) {
    // sysfs refuses new folders even to root, so this holds whoever runs the test.
    setRegistryPath("/sys/bayercam-registry/registry.sqlite");
    expectEveryCallFails(STATUS_ACCESS_DENIED);
}

}  // namespace
}  // namespace bayercam::host::testing
