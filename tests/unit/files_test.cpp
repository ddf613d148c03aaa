#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/PosixProcessLauncher.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
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
    // A relative home is named in full before anything changes the current folder.
    const auto was = fsys::current_path();
    fsys::current_path(dir.path);
    const std::string relative = resolveProgDir("data");
    fsys::current_path(was);
    EXPECT_EQ(relative, dir / "data/");

    // The temporaries of killed writes go at start (in the data folder and its
    // subfolders) and at the first save in a folder, once a day old; fresh
    // ones, and names not ours, stay.
    fsys::create_directories(dir.path / "a/b/home/SUBPRO");
    fsys::create_directories(dir.path / "saves");
    const auto old = fsys::file_time_type::clock::now() - std::chrono::hours(25);
    for (const char* name : {"a/b/home/.tarvex-AbC123", "a/b/home/SUBPRO/.tarvex-x1y2z3", "saves/.tarvex-old000",
                             "a/b/home/.tarvex-fresh0", "a/b/home/.tarvex-longer1", "saves/.tarvex-fresh0"}) {
        ASSERT_FALSE(PosixFileSystem().writeFile(dir / name, "x"));
        if (std::string_view(name).find("fresh") == std::string_view::npos)
            fsys::last_write_time(dir / name, old);
    }
    resolveProgDir(home);
    PosixFileSystem fs;
    ASSERT_FALSE(fs.writeFile(dir / "saves/prog.nc", "x"));
    for (const char* name : {"a/b/home/.tarvex-AbC123", "a/b/home/SUBPRO/.tarvex-x1y2z3", "saves/.tarvex-old000"})
        EXPECT_FALSE(fsys::exists(dir / name)) << name;
    for (const char* name : {"a/b/home/.tarvex-fresh0", "a/b/home/.tarvex-longer1", "saves/.tarvex-fresh0"})
        EXPECT_TRUE(fsys::exists(dir / name)) << name;
}

TEST(PosixFiles, OnlyRegularFilesAreReadOrReplaced)
{
    // A FIFO would block the open, /dev/zero would grow memory until the
    // process aborts: each is refused at once, also behind a link. Nor is a
    // FIFO (or a device) replaced by a file when written to.
    TempDir dir;
    PosixFileSystem fs;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fsys::create_symlink("fifo", dir.path / "to-fifo");
    fsys::create_symlink("/dev/zero", dir.path / "zero");
    fsys::create_directory(dir.path / "folder");
    for (const char* name : {"fifo", "to-fifo", "zero", "folder"}) {
        std::string bytes;
        EXPECT_EQ(fs.readFile(dir / name, bytes).number, 75) << name;
        Error e;
        EXPECT_FALSE(fs.openFile(dir / name, e)) << name;
        EXPECT_EQ(e.number, 75) << name;
    }
    for (const char* name : {"fifo", "to-fifo"}) {
        EXPECT_EQ(fs.writeFile(dir / name, "x").number, 75) << name;
        EXPECT_EQ(fs.appendFile(dir / name, "x").number, 75) << name;
    }
    EXPECT_TRUE(fsys::is_fifo(dir.path / "fifo"));
}

TEST(PosixFiles, WritingThroughALinkReplacesTheFileItNames)
{
    TempDir dir;
    PosixFileSystem fs;
    fsys::create_directory(dir.path / "real");
    ASSERT_FALSE(fs.writeFile(dir / "real/prog.nc", "old"));
    ::chmod((dir / "real/prog.nc").c_str(), 0640);
    fsys::create_symlink("real/prog.nc", dir.path / "link.nc");
    fsys::create_symlink("link.nc", dir.path / "link2.nc");
    fsys::create_symlink("real/new.nc", dir.path / "dangling.nc");
    ASSERT_FALSE(fs.writeFile(dir / "link2.nc", "new"));
    ASSERT_FALSE(fs.writeFile(dir / "dangling.nc", "made"));
    EXPECT_TRUE(fsys::is_symlink(dir.path / "link.nc"));
    EXPECT_TRUE(fsys::is_symlink(dir.path / "link2.nc"));
    EXPECT_TRUE(fsys::is_symlink(dir.path / "dangling.nc"));
    std::string back;
    ASSERT_FALSE(fs.readFile(dir / "real/prog.nc", back));
    EXPECT_EQ(back, "new");
    ASSERT_FALSE(fs.readFile(dir / "real/new.nc", back));
    EXPECT_EQ(back, "made");
    EXPECT_EQ(fsys::status(dir.path / "real/prog.nc").permissions(),
              fsys::perms::owner_read | fsys::perms::owner_write | fsys::perms::group_read);
    // Nothing but the targets is left in their folder.
    EXPECT_EQ(std::distance(fsys::directory_iterator(dir.path / "real"), fsys::directory_iterator()), 2);
}

TEST(PosixFiles, TheLongestNameCanBeSaved)
{
    TempDir dir;
    PosixFileSystem fs;
    const std::string name(255, 'n');
    ASSERT_FALSE(fs.writeFile(dir / name, "G00X0\r\n"));
    std::string back;
    ASSERT_FALSE(fs.readFile(dir / name, back));
    EXPECT_EQ(back, "G00X0\r\n");
}

TEST(PosixLauncher, ArgumentsAsTheyAreFailuresSaidAndNoChildLeft)
{
    TempDir dir;
    PosixProcessLauncher launcher;
    const std::string out = (dir.path / "out").string();
    // Shell characters reach the program untouched: no shell sees them.
    const std::string odd = "a b'\"$(touch " + (dir.path / "pwned").string() + ")";
    ASSERT_FALSE(launcher.start("/bin/sh", {"-c", "printf '%s' \"$1\" > \"$2\"", "sh", odd, out}, dir.path.string(), false));
    for (int k = 0; k < 200 && !fsys::exists(out); ++k)
        ::usleep(10000);
    ::usleep(20000);
    std::string got;
    PosixFileSystem().readFile(out, got);
    EXPECT_EQ(got, odd);
    EXPECT_FALSE(fsys::exists(dir.path / "pwned"));
    EXPECT_TRUE(launcher.start((dir.path / "none").string(), {}, {}, false));
    EXPECT_TRUE(launcher.start("/bin/true", {}, (dir.path / "no folder").string(), false));
    // Nothing of them is left for this process to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}
