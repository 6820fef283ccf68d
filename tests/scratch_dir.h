// A folder of a test's own under the system's temporary folder (/tmp, or %TEMP% on Windows).
#pragma once

#include <filesystem>
#include <random>
#include <string>

inline std::filesystem::path MakeScratchDir(const std::string& prefix)
{
    std::random_device random;
    for (;;) {
        std::filesystem::path dir = std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
        if (std::filesystem::create_directory(dir)) {
            return dir;
        }
    }
}
