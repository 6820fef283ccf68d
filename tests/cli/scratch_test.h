// A test with a directory of its own under /tmp, open to every user (for the unprivileged cases) and
// removed with all it holds afterwards.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

class ScratchTest : public ::testing::Test {
protected:
    std::filesystem::path dir;

    void SetUp() override
    {
        char pattern[] = "/tmp/dpc-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::filesystem::permissions(dir, std::filesystem::perms::all);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string File(const std::string& name) const { return (dir / name).string(); }
};
