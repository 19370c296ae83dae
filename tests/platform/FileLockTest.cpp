// The data folder's lock: one holder at a time, in this process as in another, free again when
// the holder goes; a file that cannot be made is not taken for another holder.

#include "platform/FileLock.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace vorlen::platform {
namespace {

namespace fs = std::filesystem;

TEST(FileLock, OneHolderAtATimeAndABadPathIsNotBusy) {
    const fs::path dir =
        fs::temp_directory_path() /
        ("vorlen_filelock_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(dir);
    {
        auto first = std::make_unique<TFileLock>(dir / "vorlen.lock");
        EXPECT_TRUE(first->Held());
        EXPECT_FALSE(first->Busy());
        const TFileLock second(dir / "vorlen.lock");
        EXPECT_FALSE(second.Held());
        EXPECT_TRUE(second.Busy());
        first.reset();
        const TFileLock third(dir / "vorlen.lock");
        EXPECT_TRUE(third.Held());
    }
    // A folder that cannot be made: below a plain file.
    std::ofstream(dir / "plain") << "x";
    const TFileLock nowhere(dir / "plain" / "vorlen.lock");
    EXPECT_FALSE(nowhere.Held());
    EXPECT_FALSE(nowhere.Busy());
    std::error_code ec;
    fs::remove_all(dir, ec);
}

} // namespace
} // namespace vorlen::platform
