#include "editor/Document.h"
#include "platform/posix/Cp932Codec.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace tarvex;
using Outcome = FileChooser::Outcome;

namespace {

struct SpyHost final : DocumentHost {
    std::string caption = "(none)";
    std::string path;
    std::vector<std::string> loaded;
    bool graphics = true;
    int plotted = 0, cleared = 0;
    bool appendLoad = false;
    void setCaption(const std::string& c) override { caption = c; }
    void LoadSub(const std::string& p, std::string_view) override
    {
        loaded.push_back(p);
        path = p;
    }
    const std::string& documentPath() const override { return path; }
    bool graphicsMode() const override { return graphics; }
    void expandAndPlot() override { ++plotted; }
    void setAppendLoadEnabled(bool e) override { appendLoad = e; }
    void clearViews() override { ++cleared; }
};

struct DocumentTest : testing::Test, fakes::FakeUi {
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    fakes::FakeEditor editor;
    SpyHost host;
    Document doc{editor, fs, codec, ui, "/home/", host};

    DocumentTest()
    {
        fs.folders.insert("/home");
        fs.folders.insert("/data");
    }
    void choose(const std::string& path) { chooser.answers.push_back({Outcome::Chosen, path}); }
};

} // namespace

TEST_F(DocumentTest, OpenReplacesTheTextAndHandsThePathOn)
{
    fs.files["/data/a.nc"] = "O1(\x83\x65\x83\x58\x83\x67)\r\nG00X0\r\n";
    editor.content = "old";
    choose("/data/a.nc");
    doc.fileload_Click();
    EXPECT_EQ(editor.content, "O1(テスト)\r\nG00X0\r\n");
    EXPECT_EQ(host.caption, " Tarvex　[ a.nc ]");
    EXPECT_EQ(host.loaded, std::vector<std::string>{"/data/a.nc"});
    EXPECT_EQ(host.plotted, 1);
    EXPECT_TRUE(host.appendLoad);
    ASSERT_EQ(chooser.asked.size(), 1u);
    EXPECT_EQ(chooser.asked[0].title, "加工プログラムの読み込み");
    EXPECT_EQ(chooser.asked[0].filter, "全てのﾌｧｲﾙ(*.*)|*.*");
    EXPECT_EQ(chooser.asked[0].proposed, "");
    EXPECT_TRUE(box.shown.empty());
}

TEST_F(DocumentTest, OpenWithGraphicsOffDoesNotPlot)
{
    fs.files["/data/a.nc"] = "G00X0\r\n";
    host.graphics = false;
    choose("/data/a.nc");
    doc.fileload_Click();
    EXPECT_EQ(host.plotted, 0);
    EXPECT_EQ(editor.content, "G00X0\r\n");
}

TEST_F(DocumentTest, CancelledOpenChangesNothing)
{
    editor.content = "keep";
    chooser.answers.push_back({Outcome::Cancelled, {}});
    doc.fileload_Click();
    EXPECT_EQ(editor.content, "keep");
    EXPECT_EQ(host.caption, "(none)");
    EXPECT_TRUE(box.shown.empty());
}

TEST_F(DocumentTest, OpenOfAMissingFileKeepsTheDocumentAndSaysWhy)
{
    // A file not there, and one larger than the memory the editor can have.
    fs.files["/data/huge.nc"] = "G01X1.Y2.\r\n";
    editor.memory = 5;
    for (auto [path, text] : {std::pair{"/data/missing.nc", "エラー番号 : 53\nファイルが見つかりません。"},
                              {"/data/huge.nc", "エラー番号 : 7\nメモリが不足しています。"}}) {
        editor.content = "old";
        host.caption = "before";
        box.shown.clear();
        choose(path);
        doc.fileload_Click();
        EXPECT_EQ(editor.content, "old");
        EXPECT_EQ(host.caption, "before");
        EXPECT_EQ(host.cleared, 0);
        ASSERT_EQ(box.shown.size(), 1u);
        EXPECT_EQ(box.shown[0].text, text);
        EXPECT_EQ(box.shown[0].title, "");
        EXPECT_EQ(box.shown[0].icon, MsgIcon::Exclamation);
        EXPECT_FALSE(host.appendLoad);
    }
}

TEST_F(DocumentTest, AppendJoinsTheFileToTheLastLine)
{
    editor.content = "A\r\nB";
    fs.files["/data/b.nc"] = "C\r\nD\r\n";
    choose("/data/b.nc");
    doc.MnuAppendLoad_Click();
    EXPECT_EQ(editor.content, "A\r\nBC\r\nD\r\n");
    EXPECT_FALSE(fs.files.count("/home/BAK.DAT")); // joined in memory
    // Saving in place would write the joined text over b.nc: the document
    // keeps its own name (none here), changed.
    EXPECT_EQ(host.caption, " Tarvex *");
    EXPECT_EQ(host.path, "/data/b.nc");
    EXPECT_EQ(chooser.asked[0].title, "プログラムの追加読み込み");
}

TEST_F(DocumentTest, AppendKeepsInvalidBytesAtTheJoin)
{
    // The old text ends in a lone lead byte; the appended file starts with a trail byte.
    fs.files["/data/a.nc"] = "X\x81";
    fs.files["/data/b.nc"] = "\x40Y";
    choose("/data/a.nc");
    doc.fileload_Click();
    choose("/data/b.nc");
    doc.MnuAppendLoad_Click();
    EXPECT_EQ(codec.encode(editor.content), "X\x81\x40Y");
}

TEST_F(DocumentTest, FileCommandsDoNotInheritTheDxfExportsChooserSettings)
{
    fs.files["/data/O1000"] = "O1000\r\n";
    const std::pair<const char*, void (Document::*)()> commands[] = {
        {"加工プログラムの読み込み", &Document::fileload_Click},
        {"プログラムの追加読み込み", &Document::MnuAppendLoad_Click},
        {"ファイルの保存", &Document::MnuSave_Click},
    };
    for (auto [title, command] : commands) {
        chooser.filter = "DXF形式(*.dxf)|*.dxf"; // what the DXF export leaves behind
        chooser.defaultExt = ".dxf";
        choose("/data/O1000");
        (doc.*command)();
        EXPECT_EQ(chooser.asked.back().title, title);
        EXPECT_EQ(chooser.asked.back().filter, "全てのﾌｧｲﾙ(*.*)|*.*") << title;
        EXPECT_EQ(chooser.asked.back().defaultExt, "") << title;
        EXPECT_TRUE(box.shown.empty()) << title;
    }
}

TEST_F(DocumentTest, SaveWritesCrLfAndProposesTheDocumentPath)
{
    host.path = "/data/a.nc";
    editor.content = "G00X0\nG01Y1";
    choose("/data/out.nc");
    doc.MnuSave_Click();
    EXPECT_EQ(fs.files["/data/out.nc"], "G00X0\r\nG01Y1");
    EXPECT_EQ(chooser.asked[0].title, "ファイルの保存");
    EXPECT_EQ(chooser.asked[0].proposed, "/data/a.nc");
    EXPECT_EQ(host.path, "/data/a.nc"); // saving does not change the document path
    EXPECT_EQ(events.yields, 1);

    // Unedited text loaded from a file goes back byte for byte.
    const std::string original = "O1(\xFF\x81)\r\n\x82\xA0\r\n";
    fs.files["/data/raw.nc"] = original;
    choose("/data/raw.nc");
    doc.fileload_Click();
    choose("/data/raw-copy.nc");
    doc.MnuSave_Click();
    EXPECT_EQ(fs.files["/data/raw-copy.nc"], original);
}

TEST_F(DocumentTest, FailedSaveKeepsTheOldFileAndShowsTheDescription)
{
    fs.files["/data/out.nc"] = "old program";
    fs.failWrite.insert("/data/out.nc");
    editor.content = "new";
    choose("/data/out.nc");
    doc.MnuSave_Click();
    EXPECT_EQ(fs.files["/data/out.nc"], "old program");
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].title, "TARVEX");
    EXPECT_EQ(box.shown[0].text, "ディスクの空き容量が不足しています。");
}

TEST_F(DocumentTest, AReadOnlyDataFolderStopsNeitherSaveNorAppend)
{
    fs.readOnly.insert("/home");
    editor.content = "G01X1.\r\n";
    choose("/data/out.nc");
    doc.MnuSave_Click();
    EXPECT_EQ(fs.files["/data/out.nc"], "G01X1.\r\n");
    fs.files["/data/b.nc"] = "G01Y2.\r\n";
    choose("/data/b.nc");
    doc.MnuAppendLoad_Click();
    EXPECT_EQ(editor.content, "G01X1.\r\nG01Y2.\r\n");
    EXPECT_TRUE(box.shown.empty());
    EXPECT_FALSE(fs.files.count("/home/BAK.DAT"));
}

TEST_F(DocumentTest, ClearEmptiesTheViewsButKeepsTheDocumentPath)
{
    host.path = "/data/a.nc";
    editor.content = "X";
    doc.clea_Click();
    EXPECT_EQ(editor.content, "");
    EXPECT_EQ(host.caption, " Tarvex ");
    EXPECT_EQ(host.cleared, 1);
    choose("/data/x.nc");
    doc.MnuSave_Click();
    EXPECT_EQ(chooser.asked.back().proposed, "/data/a.nc");
}

TEST_F(DocumentTest, DropOpensTheFirstFileAndAlwaysPlots)
{
    fs.files["/data/d1.nc"] = "G00X5.\r\n";
    fs.files["/data/d2.nc"] = "G00X6.\r\n";
    host.graphics = false;
    doc.dropFiles({"/data/d1.nc", "/data/d2.nc"});
    EXPECT_EQ(editor.content, "G00X5.\r\n");
    EXPECT_EQ(host.caption, " Tarvex　[ d1.nc ]");
    EXPECT_EQ(host.path, "/data/d1.nc");
    EXPECT_EQ(host.plotted, 1);
    EXPECT_TRUE(host.appendLoad);
    EXPECT_EQ(events.yields, 2);
}
