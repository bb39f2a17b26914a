// A registry in a fresh temporary folder for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/kernel/handle_table.h"
#include "host/kernel/registry_config.h"
#include "tests/host/kernel/registry_helpers.h"

namespace bayercam::host::testing {

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "registry-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        setRegistryPath(databaseFile());
        handlesBefore_ = openHandleCount();
    }

    void TearDown() override {
        EXPECT_EQ(openHandleCount(), handlesBefore_) << "registry key handles left open";
        closeRegistry();
        std::filesystem::remove_all(folder_);
    }

    std::filesystem::path folder() const { return folder_; }
    std::filesystem::path databaseFile() const { return folder_ / "state" / "registry.sqlite"; }

  private:
    std::filesystem::path folder_;
    std::size_t handlesBefore_ = 0;
};

}  // namespace bayercam::host::testing
