// Settings saved by a process that is killed at a random moment: the store it leaves opens
// intact, every value in it is either the one it held before or one the saves wrote (never
// anything else), the saves' order shows (a save cut short leaves its first values new and the
// rest old), and the next start of the driver loads it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "driver/control/settings_store.h"
#include "driver/entry/driver_entry.h"
#include "host/kernel/registry_config.h"
#include "tests/support/camera_fixture.h"
#include "tests/hardening/settings_generations.h"

extern char** environ;

namespace bayercam::testing {
namespace {

using namespace std::chrono_literals;
using Values = std::array<ULONG, kSettingCount>;

// Rounds go on while the test is younger than this, and at least kMinimumRounds are done.
constexpr auto kTestBudget = 4s;
constexpr int kMinimumRounds = 8;
// The longest a writer saves before it is killed.
constexpr int kLongestLifeMs = 40;

// A settings_saver process whose "saving" line has been read.
class Saver {
  public:
    Saver(const std::string& registryFile, const std::string& instance, ULONG firstGeneration) {
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string generation = std::to_string(firstGeneration);
        std::string program = SETTINGS_SAVER;
        std::string file = registryFile;
        std::string path = instance;
        char* argv[] = {program.data(), file.data(), path.data(), generation.data(), nullptr};
        if (posix_spawn(&pid_, SETTINGS_SAVER, &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = out[0];
    }
    ~Saver() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) close(output_);
    }

    // True once the writer said it is saving; false when it ended or said nothing in time.
    bool waitUntilSaving(std::chrono::milliseconds limit) {
        if (pid_ <= 0) return false;
        std::string said;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (said.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{output_, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, int(left.count())) != 1) return false;
            char text[64];
            const ssize_t n = read(output_, text, sizeof text);
            if (n <= 0) return false;
            said.append(text, std::size_t(n));
        }
        return said.rfind("saving", 0) == 0;
    }

    // Kills the writer; true when the kill is what ended it.
    bool killNow() {
        kill(pid_, SIGKILL);
        int status = 0;
        const bool ended = waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
};

class SettingsDurability : public CameraTest {
  protected:
    void SetUp() override {
        CameraTest::SetUp();
        const std::wstring& path = bus->instancePath();
        instance_.assign(path.begin(), path.end());
    }

    // Every stored value, read as the platform reads it; fails the test for one that is
    // missing or not a REG_DWORD of four bytes.
    Values storedValues(const std::string& round) {
        Values values{};
        for (std::size_t i = 0; i < kSettingCount; ++i) {
            std::optional<ULONG> value = storedSetting(kSettingNames[i]);
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

    std::string instance_;
};

// A save cut short leaves values 0 .. k of generation G and the rest of generation G - 1
// (or the old values when G is the writer's first); a finished save leaves all of G.
// Returns how many values the last save had written; kSettingCount when it finished.
std::size_t CheckOldOrNew(const Values& old, const Values& now, ULONG first,
                          const std::string& round) {
    const ULONG newest = now[0] / 32;
    if (now[0] == old[0] || now[0] % 32 != 0 || newest < first) {
        for (std::size_t i = 0; i < kSettingCount; ++i) {
            EXPECT_EQ(now[i], old[i]) << round << "value " << i << " changed with no save begun";
        }
        return 0;
    }
    std::size_t written = kSettingCount;
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        const ULONG previous = newest > first ? GenerationValue(newest - 1, i) : old[i];
        if (now[i] == GenerationValue(newest, i) && written == kSettingCount) continue;
        if (written == kSettingCount) written = i;
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
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        storeSetting(kSettingNames[i], GenerationValue(0, i));
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
            Saver saver(file, instance_, first);
            ASSERT_TRUE(saver.waitUntilSaving(20s)) << name << "the writer did not start";
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
        if (written != 0 && written != kSettingCount) ++cutShort;
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
