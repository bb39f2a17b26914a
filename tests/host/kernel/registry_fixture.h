// A registry in a fresh temporary folder for each test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "host/kernel/registry_config.h"
#include "tests/app/scratch_dir.h"
#include "tests/host/kernel/registry_helpers.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::testing {

class RegistryTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        setRegistryPath(databaseFile());
    }
    void TearDown() override {
        KernelTest::TearDown();
        closeRegistry();
    }

    std::filesystem::path folder() const { return dir_.path(); }
    std::filesystem::path databaseFile() const { return dir_ / "state" / "registry.sqlite"; }

  private:
    app::testing::ScratchDir dir_;
};

}  // namespace bayercam::host::testing
