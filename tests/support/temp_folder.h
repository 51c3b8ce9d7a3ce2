#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace dravo2::testing {

// A folder of its own under the test's temporary directory, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = ::testing::TempDir() + "dravo2_XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        Path = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }

    std::string operator/(const std::string& name) const { return (Path / name).string(); }

    std::filesystem::path Path;
};

} // namespace dravo2::testing
