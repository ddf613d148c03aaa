#include "platform/posix/PosixFileSystem.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace tarvex;
namespace fsys = std::filesystem;

namespace {
struct TempDir {
    fsys::path path;
    TempDir()
    {
        std::string tmpl = (fsys::temp_directory_path() / "tarvex-test-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir() { fsys::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};
} // namespace

TEST(PosixFiles, ListingIsByteWiseAndFilesOnly)
{
    TempDir dir;
    PosixFileSystem fs;
    for (const char* name : {"b", "B", "a", "_x", "\xE6\x97\xA5"})
        ASSERT_FALSE(fs.writeFile(dir / name, "x"));
    fsys::create_directory(dir.path / "folder");
    auto names = fs.list(dir.path.string());
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{"B", "_x", "a", "b", "\xE6\x97\xA5"}));
    EXPECT_FALSE(fs.list(dir / "missing"));
}

TEST(PosixFiles, WriteReplacesWholeOrNotAtAll)
{
    TempDir dir;
    PosixFileSystem fs;
    const std::string target = dir / "prog.nc";
    ASSERT_FALSE(fs.writeFile(target, "old"));
    ASSERT_FALSE(fs.writeFile(target, std::string("new\0bytes", 9)));
    std::string back;
    ASSERT_FALSE(fs.readFile(target, back));
    EXPECT_EQ(back, std::string("new\0bytes", 9));

    // A target that cannot be replaced: the error comes back and nothing is left behind.
    fsys::create_directory(dir.path / "taken");
    EXPECT_TRUE(fs.writeFile(dir / "taken", "x"));
    EXPECT_TRUE(fs.writeFile(dir / "nofolder/prog.nc", "x"));
    EXPECT_EQ(std::distance(fsys::directory_iterator(dir.path), fsys::directory_iterator()), 2);

    Error missing = fs.readFile(dir / "none", back);
    EXPECT_EQ(missing.number, 53);
}

TEST(PosixFiles, ProgDirHonoursAnExplicitHome)
{
    TempDir dir;
    const std::string home = dir / "a/b/home";
    EXPECT_EQ(resolveProgDir(home), home + "/");
    EXPECT_TRUE(fsys::is_directory(home));
}
