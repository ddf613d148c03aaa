#include "platform/posix/Cp932Codec.h"
#include "tests/fakes/Fakes.h"
#include "toolpath/SubprogramStore.h"

#include <gtest/gtest.h>

using namespace tarvex;

namespace {
struct StoreTest : ::testing::Test {
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    SubprogramStore store{fs, codec, "/home/"};
    StoreTest()
    {
        fs.folders.insert("/home");
        fs.folders.insert("/data");
    }
    std::optional<std::string> load(const std::string& text)
    {
        fs.files["/data/p.nc"] = text;
        return store.LoadSub("/data/p.nc");
    }
};
} // namespace

TEST_F(StoreTest, EachProgramGoesToItsOwnFileUpToItsEndLine)
{
    EXPECT_FALSE(load("%\r\nO0100(MAIN)\r\nG01X1.\r\n\r\nM98P25\r\nM30\r\nG01X9.\r\nL25\r\nG01Y1.\r\nRTS\r\n"
                      "O2\r\nG23\r\n:5\r\nG00X0\r\nM99\r\nO3\r\nM02\r\nO4\r\nG01X1.\r\n"));
    EXPECT_EQ(fs.files["/home/SUBPRO/O100"], "O0100(MAIN)\r\nG01X1.\r\nM98P25\r\nM30\r\n"); // the empty line is dropped
    EXPECT_EQ(fs.files["/home/SUBPRO/L25"], "L25\r\nG01Y1.\r\nRTS\r\n");
    EXPECT_EQ(fs.files["/home/SUBPRO/O2"], "O2\r\nG23\r\n");
    EXPECT_EQ(fs.files["/home/SUBPRO/:5"], ":5\r\nG00X0\r\nM99\r\n");
    EXPECT_EQ(fs.files["/home/SUBPRO/O3"], "O3\r\nM02\r\n");
    EXPECT_EQ(fs.files["/home/SUBPRO/O4"], "O4\r\nG01X1.\r\n"); // the file ended
    EXPECT_EQ(store.documentPath(), "/data/p.nc");
}

TEST_F(StoreTest, EndCodesAreReadAsNumbers)
{
    // M8 and M030 (30), M99.0 (99): the value after the first M decides.
    EXPECT_FALSE(load("O1\r\nM8\r\nM030\r\nX1.\r\nO2\r\nM99.0\r\nX2.\r\nO3\r\n(MACHINE)M30\r\nX3.\r\n"));
    EXPECT_EQ(fs.files["/home/SUBPRO/O1"], "O1\r\nM8\r\nM030\r\n");
    EXPECT_EQ(fs.files["/home/SUBPRO/O2"], "O2\r\nM99.0\r\n");
    EXPECT_EQ(fs.files["/home/SUBPRO/O3"], "O3\r\n(MACHINE)M30\r\nX3.\r\n"); // "ACHINE)M30" reads 0
}

TEST_F(StoreTest, JapaneseTextIsCopiedByteForByte)
{
    // "O1(ギア)": the trail byte of ギ is 'M' (0x4D), which must not end the program.
    const std::string header = "O1(\x83\x4D\x83\x41)\r\n";
    EXPECT_FALSE(load(header + "X\xFF\x81\r\nM30\r\n"));
    EXPECT_EQ(fs.files["/home/SUBPRO/O1"], header + "X\xFF\x81\r\nM30\r\n");
}

TEST_F(StoreTest, FailuresComeBackAsTheWarningTextWithTheLineBuffer)
{
    auto overflow = load("O1\r\nM30\r\nO99999\r\nX1.\r\n");
    ASSERT_TRUE(overflow);
    EXPECT_EQ(*overflow, "エラー番号 : 6\nオーバーフローしました。O99999");
    EXPECT_TRUE(fs.files.count("/home/SUBPRO/O1")); // stored before the error

    // A program that fails part-way leaves no older stored version behind,
    // which a later call would run without a hint.
    fs.folders.insert("/home/SUBPRO");
    fs.files["/home/SUBPRO/O7"] = "O7\r\nG01X1.\r\nM99\r\n";
    auto endOverflow = load("O7\r\nM99999\r\n");
    ASSERT_TRUE(endOverflow);
    EXPECT_EQ(*endOverflow, "エラー番号 : 6\nオーバーフローしました。M99999");
    EXPECT_FALSE(fs.files.count("/home/SUBPRO/O7"));
    fs.files["/home/SUBPRO/O8"] = "O8\r\nM99\r\n";
    fs.failWrite.insert("/home/SUBPRO/O8");
    auto full = load("O8\r\nG01X2.\r\nM99\r\n");
    ASSERT_TRUE(full);
    EXPECT_EQ(*full, "エラー番号 : 61\nディスクの空き容量が不足しています。M99");
    EXPECT_FALSE(fs.files.count("/home/SUBPRO/O8"));

    auto missing = store.LoadSub("/data/none.nc");
    ASSERT_TRUE(missing);
    EXPECT_EQ(*missing, "エラー番号 : 53\nファイルが見つかりません。/data/none.nc");
    EXPECT_EQ(store.documentPath(), "/data/none.nc");
}

TEST_F(StoreTest, MissingStoreFolderIsCreated)
{
    EXPECT_FALSE(fs.isFolder("/home/SUBPRO"));
    EXPECT_FALSE(load("O5\r\nM30\r\n"));
    EXPECT_TRUE(fs.isFolder("/home/SUBPRO"));
    EXPECT_TRUE(fs.files.count("/home/SUBPRO/O5"));
}
