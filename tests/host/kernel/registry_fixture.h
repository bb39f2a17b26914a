// A registry in a fresh temporary folder for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/kernel/registry_config.h"
#include "tests/host/kernel/registry_helpers.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::testing {

class RegistryTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        std::string pattern = (std::filesystem::temp_directory_path() / "registry-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        setRegistryPath(databaseFile());
    }

    void TearDown() override {
        KernelTest::TearDown();
        closeRegistry();
        std::filesystem::remove_all(folder_);
    }

    std::filesystem::path folder() const { return folder_; }
    std::filesystem::path databaseFile() const { return folder_ / "state" / "registry.sqlite"; }

  private:
    std::filesystem::path folder_;
};

}  // namespace bayercam::host::testing
