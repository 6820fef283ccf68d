// A test with a directory of its own in the temporary folder, open to every user (for the unprivileged cases) and
// removed with all it holds afterwards.
#pragma once

#include <gtest/gtest.h>

#include "tests/scratch_dir.h"

#include <filesystem>
#include <string>

class ScratchTest : public ::testing::Test {
protected:
    std::filesystem::path dir;

    void SetUp() override
    {
        dir = MakeScratchDir("dpc-test-");
        std::filesystem::permissions(dir, std::filesystem::perms::all);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string File(const std::string& name) const { return (dir / name).string(); }
};
