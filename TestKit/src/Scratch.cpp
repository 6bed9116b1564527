#include "TestKit/Scratch.h"

#include "TestKit/Bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace testkit {

ScratchFolder::ScratchFolder(const std::string& tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("qw-" + tag + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a folder like " << pattern;
        return;
    }
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    if (path_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchFolder::Put(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    EXPECT_TRUE(WriteText(file, bytes)) << file;
    return file;
}

} // namespace testkit
