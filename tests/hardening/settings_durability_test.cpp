// Settings saved by a process that is killed at a random moment: the store it leaves opens
// intact, every value in it is either the one it held before or one the saves wrote (never
// anything else), the saves' order shows (a save cut short leaves its first values new and the
// rest old), and the next start of the driver loads it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "driver/control/settings_store.h"
#include "driver/entry/driver_entry.h"
#include "host/kernel/registry_config.h"
#include "tests/hardening/settings_generations.h"
#include "tests/support/camera_fixture.h"
#include "tests/support/usb_port.h"

namespace bayercam::testing {
namespace {

using namespace std::chrono_literals;

// Rounds go on while the test is younger than this, and at least kMinimumRounds are done.
constexpr auto kTestBudget = 4s;
constexpr int kMinimumRounds = 8;
// The longest a writer saves before it is killed.
constexpr int kLongestLifeMs = 40;

// A settings_saver process that has said it is saving (with its process id); killed when it goes.
class Saver {
  public:
    Saver(const std::string& registryFile, const std::string& instance, ULONG firstGeneration)
        : output_(popen(("exec '" SETTINGS_SAVER "' '" + registryFile + "' '" + instance + "' " +
                         std::to_string(firstGeneration))
                            .c_str(),
                        "r")) {
        if (output_ == nullptr || std::fscanf(output_, "saving %d", &pid_) != 1) pid_ = -1;
    }
    ~Saver() {
        if (pid_ > 0) kill(pid_, SIGKILL);
        if (output_ != nullptr) pclose(output_);
    }
    bool saving() const { return pid_ > 0; }

    // Kills the writer; true when the kill is what ended it.
    bool killNow() {
        kill(pid_, SIGKILL);
        pid_ = -1;
        const int status = pclose(std::exchange(output_, nullptr));
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

  private:
    FILE* output_;
    pid_t pid_ = -1;
};

class SettingsDurability : public CameraTest {
  protected:
    // Every stored value, read as the platform reads it; fails the test for one that is
    // missing or not a REG_DWORD of four bytes.
    Values storedValues(const std::string& round) {
        Values values{};
        for (std::size_t i = 0; i < CAMERA_SETTING_COUNT; ++i) {
            std::optional<ULONG> value = storedSetting(CAMERA_SETTING_NAMES[i]);
            EXPECT_TRUE(value) << round << "value " << i << " is missing or damaged";
            values[i] = value.value_or(0xFFFFFFFF);
        }
        return values;
    }

    // Starts the driver on the store as the next start would, and has it load the settings.
    void startAndLoad(const std::string& round) {
        client = std::make_unique<host::ks::KsClient>();
        ASSERT_EQ(client->loadDriver(DriverEntry), STATUS_SUCCESS) << round;
        ASSERT_EQ(attach(), STATUS_SUCCESS) << round << "the device does not start";
        EXPECT_TRUE(LoadSettings(device())) << round << "the settings do not load";
        EXPECT_EQ(client->detachDevice(handle), STATUS_SUCCESS) << round;
        client.reset();
    }
};

// A save cut short leaves values 0 .. k of generation G and the rest of generation G - 1
// (or the old values when G is the writer's first); a finished save leaves all of G.
// Returns how many values the last save had written; CAMERA_SETTING_COUNT when it finished.
std::size_t CheckOldOrNew(const Values& old, const Values& now, ULONG first,
                          const std::string& round) {
    const ULONG newest = now[0] / 32;
    if (now[0] == old[0] || now[0] % 32 != 0 || newest < first) {
        for (std::size_t i = 0; i < CAMERA_SETTING_COUNT; ++i) {
            EXPECT_EQ(now[i], old[i]) << round << "value " << i << " changed with no save begun";
        }
        return 0;
    }
    std::size_t written = CAMERA_SETTING_COUNT;
    for (std::size_t i = 0; i < CAMERA_SETTING_COUNT; ++i) {
        const ULONG previous = newest > first ? GenerationValue(newest - 1, i) : old[i];
        if (now[i] == GenerationValue(newest, i) && written == CAMERA_SETTING_COUNT) continue;
        if (written == CAMERA_SETTING_COUNT) written = i;
        EXPECT_EQ(now[i], previous) << round << "value " << i << " is neither what generation "
                                    << newest << " wrote nor what it replaced ("
                                    << GenerationValue(newest, i) << " or " << previous << ")";
    }
    return written;
}

TEST_F(SettingsDurability, AWriterKilledWhileSavingLeavesEveryValueOldOrNew) {
    const char* given = std::getenv("BAYERCAM_SEED");
    const std::uint32_t seed =
        given != nullptr ? std::uint32_t(std::strtoul(given, nullptr, 10)) : std::random_device{}();
    std::printf("seed %u (BAYERCAM_SEED=%u repeats the kill times)\n", seed, seed);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> lifeMs(0, kLongestLifeMs);

    client.reset();  // the writer's driver is the only one using the store
    const std::string file = host::registryPath().string();
    for (std::size_t i = 0; i < CAMERA_SETTING_COUNT; ++i) {
        storeSetting(CAMERA_SETTING_NAMES[i], GenerationValue(0, i));
    }
    // Far above any value a load can leave in the record and the next stop store.
    ULONG first = 1 << 16;
    int round = 0;
    int cutShort = 0;
    const auto started = std::chrono::steady_clock::now();
    while (round < kMinimumRounds || std::chrono::steady_clock::now() - started < kTestBudget) {
        const std::string name =
            "round " + std::to_string(round) + ", seed " + std::to_string(seed) + ": ";
        host::closeRegistry();
        const Values old = storedValues(name);
        {
            Saver saver(file, InstancePath(*bus), first);
            ASSERT_TRUE(saver.saving()) << name << "the writer did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(lifeMs(random)));
            ASSERT_TRUE(saver.killNow()) << name;
        }
        // The writer's file as the next process finds it: opened afresh, checked whole.
        host::closeRegistry();
        HANDLE driverKey = nullptr;
        ASSERT_EQ(IoOpenDeviceRegistryKey(bus->physicalDeviceObject(), PLUGPLAY_REGKEY_DRIVER,
                                          KEY_ALL_ACCESS, &driverKey),
                  STATUS_SUCCESS)
            << name << "the store does not open";
        ZwClose(driverKey);
        const Values now = storedValues(name);
        const std::size_t written = CheckOldOrNew(old, now, first, name);
        if (written != 0 && written != CAMERA_SETTING_COUNT) ++cutShort;
        first = std::max(first, now[0] / 32) + 1;
        startAndLoad(name);
        if (HasFatalFailure()) return;
        ++round;
    }
    std::printf("%d rounds, %d killed in the middle of a save\n", round, cutShort);
    EXPECT_GT(cutShort, 0) << "no kill landed inside a save: the test saw nothing it checks";
}

}  // namespace
}  // namespace bayercam::testing
