#include "app/ExternalApps.h"
#include "platform/posix/Cp932Codec.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace tarvex;

namespace {

struct ExternalAppsTest : ::testing::Test, fakes::FakeUi {
    fakes::MemorySettings settings;
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    ExternalApps apps{{fs, codec, settings, ui, "/home/", "file:///usr/share/doc/tarvex/README.md"}};
    ExternalAppsTest() { fs.folders.insert("/home"); }
};

} // namespace

TEST(HandOver, DxfDetectionAndTheCopy)
{
    struct Row {
        const char* text;
        bool dxf;
    };
    const Row rows[] = {
        {"0\r\nSECTION\r\n2\r\nTABLES\r\n0\r\nLAYER\r\n0\r\nENDSEC\r\n", true},
        {"SECTION LAYER ENDSEC", true},
        {"0\r\nSECTION\r\n0\r\nENDSEC\r\n", false},
        {"section\nLAYER\nENDSEC\n", false}, // case counts
        {"G01X1.\r\n", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(isDxfDrawing(r.text), r.dxf) << r.text;
    EXPECT_EQ(handOverCopy("A\r\n\r\nB\nC\rD\n\n"), "A\r\nB\r\nC\r\nD\r\n");
    EXPECT_EQ(handOverCopy("\r\n\r\n"), "");
}

TEST_F(ExternalAppsTest, AProgramGetsItsCopyInTheHandOverFolder)
{
    settings.write("Tarvex", "0AppTitle", "viewer");
    settings.write("Tarvex", "0AppName", "/opt/my tools/viewer");
    apps.load();
    apps.start(0, "G01X1.\r\n\r\nY1.");
    EXPECT_FALSE(fs.files.count("/home/BAK1.DAT")); // no work file: only the hand-over copy
    EXPECT_EQ(fs.files["/home/handover/BAK.DAT"], "G01X1.\r\nY1.\r\n");
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].program, "/opt/my tools/viewer");
    EXPECT_EQ(launcher.started[0].arguments, std::vector<std::string>{"/home/handover/BAK.DAT"});
    EXPECT_EQ(launcher.started[0].folder, "/home/handover");
    EXPECT_TRUE(box.shown.empty());

    // A drawing goes as BAK.DXF; a program that cannot be started is named.
    launcher.answer = {2, "No such file"};
    apps.start(0, "SECTION\nLAYER\nENDSEC\n");
    EXPECT_EQ(launcher.started.back().arguments, std::vector<std::string>{"/home/handover/BAK.DXF"});
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, "/opt/my tools/viewer" "へ接続出来ませんでした");
}

TEST_F(ExternalAppsTest, SlotsStayPackedAndTenAtMost)
{
    for (const char* p : {"/usr/bin/a", "/usr/bin/b", "/opt/c"})
        EXPECT_TRUE(apps.add(p));
    apps.remove(0);
    EXPECT_EQ(apps.count(), 2);
    EXPECT_EQ(settings.get("0AppTitle"), "b");
    EXPECT_EQ(settings.get("1AppName"), "/opt/c");
    EXPECT_EQ(settings.get("2AppTitle"), "");
    EXPECT_EQ(settings.get("9AppName"), "");
    for (int k = 2; k < 10; ++k)
        EXPECT_TRUE(apps.add("/usr/bin/x" + std::to_string(k)));
    EXPECT_FALSE(apps.add("/usr/bin/eleventh"));
    EXPECT_EQ(box.shown.back().text, "外部アプリケーションは10個まで登録できます。");
    EXPECT_EQ(apps.count(), 10);
}

TEST_F(ExternalAppsTest, ConverterAndBrowser)
{
    // Not set up: said so, nothing written or started.
    apps.startConverter("G01X1.\n");
    EXPECT_EQ(box.shown.back().text, "NCｺﾝﾊﾞｰﾀをセットアップして下さい。");
    EXPECT_EQ(fs.files.size(), 0u);
    EXPECT_TRUE(launcher.started.empty());
    // Set up: BAK.DAT with CR LF in its folder, started there on the bare name;
    // a copy named as on Windows serves too.
    settings.write("Morlex", "Apldir", "/opt/conv/");
    fs.folders.insert("/opt/conv");
    fs.files["/opt/conv/morlex.exe"] = "";
    apps.startConverter("G01X1.\nY1.");
    EXPECT_EQ(fs.files["/opt/conv/BAK.DAT"], "G01X1.\r\nY1.");
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].program, "/opt/conv/morlex.exe");
    EXPECT_EQ(launcher.started[0].arguments, std::vector<std::string>{"BAK.DAT"});
    EXPECT_EQ(launcher.started[0].folder, "/opt/conv/");
    launcher.answer = {2, "No such file"};
    apps.startConverter("X");
    EXPECT_EQ(box.shown.back().text, "NCｺﾝﾊﾞｰﾀへ接続出来ませんでした。");

    // The browser: a cancel keeps it; a choice is stored and confirmed.
    apps.load();
    const std::string before = apps.browserPath();
    box.shown.clear();
    apps.chooseBrowser();
    EXPECT_EQ(apps.browserPath(), before);
    EXPECT_TRUE(box.shown.empty());
    chooser.answers.push_back({FileChooser::Outcome::Chosen, "/usr/bin/firefox-esr"});
    apps.chooseBrowser();
    EXPECT_EQ(settings.get("WebApl"), "/usr/bin/firefox-esr");
    EXPECT_EQ(box.shown.back().text, "ブラウザを[ firefox-esr ]に設定しました。");
    // A browser that cannot start gives way to the desktop's; when neither starts, it is said.
    launcher.started.clear();
    apps.openHomePage();
    ASSERT_EQ(launcher.started.size(), 2u);
    EXPECT_EQ(launcher.started[1].program, "xdg-open");
    EXPECT_EQ(launcher.started[1].arguments, std::vector<std::string>{"file:///usr/share/doc/tarvex/README.md"});
    EXPECT_EQ(box.shown.back().text, "ブラウザを起動出来ませんでした。\n/usr/bin/firefox-esr");
}
