// One registry store shared by several processes at once. A writer killed in the middle of its
// writes is the settings durability test's business, where the driver saves.
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tests/host/kernel/registry_fixture.h"

extern char** environ;

namespace bayercam::host::testing {
namespace {

constexpr const char* kInstance = "USB\\VID_1234&PID_5678\\1";

std::vector<std::uint8_t> dword(ULONG value) {
    std::vector<std::uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

class SharedRegistry : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        bindDeviceRegistryKey(&pdo_, kInstance);
        openSettings();
    }
    void openSettings() {
        ASSERT_EQ(IoOpenDeviceRegistryKey(&pdo_, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey_),
                  STATUS_SUCCESS);
        ASSERT_EQ(createKey(driverKey_, L"Settings", settings_), STATUS_SUCCESS);
    }
    void TearDown() override {
        closeKeys();
        unbindDeviceRegistryKey(&pdo_);
        RegistryTest::TearDown();
    }
    void closeKeys() {
        for (HANDLE* key : {&settings_, &driverKey_}) {
            if (*key) {
                EXPECT_EQ(ZwClose(*key), STATUS_SUCCESS);
            }
            *key = nullptr;
        }
    }

    // Starts registry_writer on a database; -1 when it cannot be started.
    pid_t spawnWriter(std::vector<std::string> args) {
        args.insert(args.begin(), {REGISTRY_WRITER, databaseFile().string(), kInstance});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        int error = posix_spawn(&pid, REGISTRY_WRITER, nullptr, nullptr, argv.data(), environ);
        return error == 0 ? pid : -1;
    }

    // The exit status of a child, or minus the signal that ended it.
    static int waitForExit(pid_t pid) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1000;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    DEVICE_OBJECT pdo_{};
    HANDLE driverKey_ = nullptr;
    HANDLE settings_ = nullptr;
};

TEST_F(SharedRegistry, ProcessesWriteTheSameFileAtOnce) {
    constexpr int kWrites = 2000;
    pid_t first = spawnWriter({"First", std::to_string(kWrites)});
    pid_t second = spawnWriter({"Second", std::to_string(kWrites)});
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    // Start writing once both children are writing, so that all three overlap.
    for (int poll = 0; poll < 10000; ++poll) {
        NTSTATUS firstStarted = STATUS_UNSUCCESSFUL;
        NTSTATUS secondStarted = STATUS_UNSUCCESSFUL;
        readValue(settings_, L"First0", &firstStarted);
        readValue(settings_, L"Second0", &secondStarted);
        if (NT_SUCCESS(firstStarted) && NT_SUCCESS(secondStarted)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < kWrites; ++i) {
        ASSERT_EQ(setDword(settings_, L"Parent" + std::to_wstring(i), i), STATUS_SUCCESS);
    }
    EXPECT_EQ(waitForExit(first), 0);
    EXPECT_EQ(waitForExit(second), 0);

    closeKeys();
    closeRegistry();
    ASSERT_NO_FATAL_FAILURE(openSettings());
    for (const wchar_t* prefix : {L"Parent", L"First", L"Second"}) {
        for (int i = 0; i < kWrites; ++i) {
            std::wstring name = prefix + std::to_wstring(i);
            NTSTATUS status = STATUS_UNSUCCESSFUL;
            std::vector<std::uint8_t> data = readValue(settings_, name, &status);
            ASSERT_EQ(status, STATUS_SUCCESS) << std::string(name.begin(), name.end());
            ASSERT_EQ(data, dword(i)) << std::string(name.begin(), name.end());
        }
    }
}

}  // namespace
}  // namespace bayercam::host::testing
