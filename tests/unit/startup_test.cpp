#include "app/TarvexMain.h"
#include "platform/posix/Cp932Codec.h"
#include "serial/ProfileFolder.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace tarvex;

namespace {

struct StartupTest : testing::Test, fakes::FakeUi {
    fakes::MemorySettings settings;
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    fakes::FakeMainView view;
    fakes::FakeEditor editor;
    fakes::FakeSerialPort port1, port2;
    ProcessState state{"/home/", settings};
    std::unique_ptr<TarvexMain> main;

    StartupTest()
    {
        fs.folders.insert("/home");
        fs.folders.insert("/data");
    }
    void start(const std::string& commandLine = {})
    {
        main = std::make_unique<TarvexMain>(state, fs, codec, ui, SystemFolders{}, view, editor, port1, port2);
        main->startUp(commandLine);
    }
    void set(const std::string& key, const std::string& value) { settings.write("Tarvex", key, value); }
};

} // namespace

TEST_F(StartupTest, FirstStartOnACleanMachine)
{
    start();
    // Four fifths of the screen, centred.
    EXPECT_EQ(view.window, (Rect{view.screenWidth() / 10, view.screenHeight() / 10, view.screenWidth() * 4 / 5,
                                 view.screenHeight() * 4 / 5}));
    EXPECT_TRUE(view.checked[Menu::MnuGrph]);
    EXPECT_TRUE(view.checked[Menu::MnuTusin]);
    EXPECT_FALSE(view.checked[Menu::MnuExitSubDel]);
    EXPECT_TRUE(view.checked[Menu::MnuG90]);
    EXPECT_EQ(view.slider, 50);
    EXPECT_EQ(editor.font, (FontSpec{"ＭＳ 明朝", 12, false, false}));
    EXPECT_TRUE(editor.raised);
    EXPECT_EQ(fs.files["/home/RS232C/FANUC"], sampleProfileText());
    EXPECT_EQ(view.profiles, std::vector<std::string>{"FANUC"});
    EXPECT_EQ(view.profileSelected, 0);
    // Selecting the stored profile loads it and arranges the panel for a controller.
    EXPECT_EQ(state.profile.baud, 4800);
    ASSERT_TRUE(view.arrangement);
    EXPECT_EQ(view.arrangement->output, PanelArrangement::Output::Command1);
    EXPECT_EQ(view.slider1Value, 0);
    EXPECT_TRUE(fs.isFolder("/home/Mcode"));
    EXPECT_EQ(settings.get("Apldir"), "/home/");
    EXPECT_EQ(fs.current, "/home/");
    EXPECT_FALSE(view.enabled[Menu::MnuAppendLoad]);
    EXPECT_TRUE(view.shown);
    EXPECT_EQ(main->frameLeft() > 0, true); // the panel stands in the right column
    EXPECT_EQ(main->browserPath(), "C:\\Program Files\\IntERnet ExplorER\\iexplore.exe");
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(view.captions[appMenu(i)].second);
}

TEST_F(StartupTest, SampleProfileHasEighteenCrLfLines)
{
    const std::string text = sampleProfileText();
    EXPECT_EQ(text, "1\r\n4800\r\nN\r\n8\r\n2\r\n0\r\n2\r\n1\r\n&H12\r\n&H11\r\n&H93\r\n&H14\r\n"
                    "&H11\r\n&H11\r\n&H93\r\n&H14\r\n3\r\n0\r\n");
}

TEST_F(StartupTest, StoredGeometryIsKeptOnTheScreen)
{
    struct Row {
        const char *left, *top, *width, *height;
        Rect expected;
    };
    const Row rows[] = {
        {"-48000", "-48000", "8000", "6000", {0, 0, 8000, 6000}}, // closed while minimised
        {"99999", "99999", "8000", "6000", {0, 0, 8000, 6000}},
        {"1200", "600", "99999", "99999", {1200, 600, 28800, 16200}}, // wider and higher than the screen
        {"1200.5", "abc", "9000", "7000", {1200, 0, 9000, 7000}},
        {"0", "0", "-3000", "0", {0, 0, 8000, 6000}}, // sizes that cannot be meant read as absent
        {"nan", "inf", "1e30", "-inf", {0, 0, 28800, 6000}},
    };
    for (const Row& r : rows) {
        set("Left", r.left);
        set("Top", r.top);
        set("Width", r.width);
        set("Height", r.height);
        start();
        EXPECT_EQ(view.window, r.expected) << r.left << " " << r.top << " " << r.width;
    }
}

TEST_F(StartupTest, ProfileFolderPresentButEmptySelectsNothing)
{
    fs.folders.insert("/home/RS232C");
    start();
    EXPECT_TRUE(view.profiles.empty());
    EXPECT_EQ(view.profileSelected, -1);
    EXPECT_FALSE(fs.files.count("/home/RS232C/FANUC"));
}

TEST_F(StartupTest, StoredProfileIsSelectedByExactName)
{
    fs.folders.insert("/home/RS232C");
    fs.files["/home/RS232C/haas"] = "";
    fs.files["/home/RS232C/HAAS"] = "";
    fs.files["/home/RS232C/FANUC"] = "";
    for (auto [stored, selected] : {std::pair{"HAAS", 1}, {"haas", 2}, {"OKUMA", -1}}) {
        set("FileName", stored);
        start();
        EXPECT_EQ(view.profiles, (std::vector<std::string>{"FANUC", "HAAS", "haas"}));
        EXPECT_EQ(view.profileSelected, selected) << stored;
        EXPECT_EQ(main->currentProfile(), stored);
    }
}

TEST_F(StartupTest, ExternalApplicationSlotsShowTheirTitles)
{
    set("3AppTitle", "電卓");
    set("3AppName", "/usr/bin/galculator");
    start();
    EXPECT_EQ(view.captions[appMenu(3)], (std::pair<std::string, bool>{"電卓", true}));
    EXPECT_FALSE(view.captions[appMenu(2)].second);
    EXPECT_EQ(main->externalApps()[3].path, "/usr/bin/galculator");
}

TEST_F(StartupTest, CommandLineOpensTheFileWithOrWithoutQuotes)
{
    fs.files["/data/my prog.nc"] = "O100\r\nG00X0\r\nG02X10.R1.\r\n";
    for (const char* arg : {"/data/my prog.nc", "\"/data/my prog.nc\""}) {
        view.events.clear();
        start(arg);
        EXPECT_EQ(editor.content, "O100\r\nG00X0\r\nG02X10.R1.\r\n");
        EXPECT_EQ(view.status[1], "展開は 3 行で中止しました（円弧の半径が始点と終点の距離の半分より小さいため）。");
        EXPECT_EQ(view.caption, " Tarvex　[ my prog.nc ]"); // as after opening by the menu
        EXPECT_EQ(view.status[2], "my prog.nc");
        EXPECT_EQ(main->documentPath(), "/data/my prog.nc");
        // The window is up before the append command is enabled and events run.
        auto from = std::find(view.events.begin(), view.events.end(), "appendload off");
        EXPECT_EQ(std::vector<std::string>(from, view.events.end()),
                  (std::vector<std::string>{"appendload off", "caption", "caption", "show", "appendload on", "show"}));
        EXPECT_GE(events.yields, 1);
    }
}

TEST_F(StartupTest, UnreadableCommandLineFileStartsEmptyAndSaysSoOnceTheWindowIsUp)
{
    bool shownWhenAsked = false;
    box.onShow = [&] { shownWhenAsked = view.shown; };
    start("/data/none.nc");
    EXPECT_EQ(editor.content, "");
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, "エラー番号 : 53\nファイルが見つかりません。");
    EXPECT_TRUE(shownWhenAsked);
    EXPECT_FALSE(view.enabled[Menu::MnuAppendLoad]);
    EXPECT_TRUE(main->documentPath().empty());
}

TEST_F(StartupTest, AReadOnlyDataFolderIsNamedOnceAndNotBlamedOnTheProgram)
{
    fs.files["/data/a.nc"] = "O100\r\nG01X1.\r\nM99\r\n";
    fs.readOnly.insert("/home");
    bool shownWhenAsked = false;
    box.onShow = [&] { shownWhenAsked = view.shown; };
    start("/data/a.nc");
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, dataFolderMessage("/home/"));
    EXPECT_NE(box.shown[0].text.find("/home/"), std::string::npos);
    EXPECT_TRUE(shownWhenAsked);
    EXPECT_EQ(editor.content, "O100\r\nG01X1.\r\nM99\r\n");
    EXPECT_EQ(main->documentPath(), "/data/a.nc");
    EXPECT_TRUE(view.enabled[Menu::MnuAppendLoad]);
    // Later opens say nothing more.
    chooser.answers.push_back({FileChooser::Outcome::Chosen, "/data/a.nc"});
    main->document().fileload_Click();
    EXPECT_EQ(box.shown.size(), 1u);

    fs.readOnly.clear();
    box.shown.clear();
    start();
    EXPECT_TRUE(box.shown.empty());
}

TEST_F(StartupTest, ColourFileIsReadAsFarAsItGoes)
{
    fs.files["/home/TARVEX.RGB"] = "\"T1\",255\r\n\"T2\",";
    state.conditions.conditionVisible[5] = false;
    start();
    EXPECT_EQ(state.conditions.conditionName[1], "T1");
    EXPECT_EQ(state.conditions.conditionColour[1], 255u);
    EXPECT_EQ(state.conditions.conditionName[2], "");
    EXPECT_EQ(state.conditions.conditionColour[2], ConditionTable::white);
    EXPECT_TRUE(state.conditions.conditionVisible[5]);
    main->IOEnd(); // an input with no file names none
    EXPECT_EQ(view.caption, " Tarvex ");
}

TEST_F(StartupTest, CloseWritesEveryKeyAndTheColourFile)
{
    set("Cmd", "0");
    start();
    view.window = {1500, 900, 12000, 9000};
    view.slider = 7;
    view.profileTextValue = "MY PROFILE";
    main->closeRequest();
    EXPECT_EQ(settings.get("FileName"), "MY PROFILE");
    EXPECT_EQ(settings.get("Left"), "1500");
    EXPECT_EQ(settings.get("Top"), "900");
    EXPECT_EQ(settings.get("Width"), "12000");
    EXPECT_EQ(settings.get("Height"), "9000");
    EXPECT_EQ(settings.get("GrCheck"), "True");
    EXPECT_EQ(settings.get("TsCheck"), "True");
    EXPECT_EQ(settings.get("Slider2"), "7");
    EXPECT_EQ(settings.get("Cmd"), "0");
    ASSERT_TRUE(fs.files.count("/home/TARVEX.RGB"));
    EXPECT_EQ(fs.files["/home/TARVEX.RGB"].substr(0, 13), "\"\",16777215\r\n");
}

TEST_F(StartupTest, CloseAsksToSaveATextNotInItsFile)
{
    fs.files["/data/a.nc"] = "G00X1.\r\n";
    enum Change { None, Edit, Received, SavedAfterEdit };
    struct Row {
        Change change;
        bool named; // opened from a file: はい saves it in place, without the chooser
        MsgAnswer answer;
        FileChooser::Outcome save;
        bool asked, closes;
        const char* written; // the file the text went to
    };
    using O = FileChooser::Outcome;
    const Row rows[] = {
        {None, true, MsgAnswer::Cancel, O::Chosen, false, true, nullptr},
        {SavedAfterEdit, true, MsgAnswer::Cancel, O::Chosen, false, true, nullptr},
        {Edit, true, MsgAnswer::No, O::Chosen, true, true, nullptr},
        {Edit, true, MsgAnswer::Cancel, O::Chosen, true, false, nullptr},
        {Edit, true, MsgAnswer::Yes, O::Chosen, true, true, "/data/a.nc"},
        {Received, false, MsgAnswer::Yes, O::Chosen, true, true, "/data/b.nc"},
        {Received, false, MsgAnswer::Yes, O::Cancelled, true, false, nullptr},
        {Edit, false, MsgAnswer::Yes, O::Failed, true, false, nullptr},
    };
    for (const Row& r : rows) {
        fs.files["/data/a.nc"] = "G00X1.\r\n";
        start(r.named ? "/data/a.nc" : "");
        box.shown.clear();
        fs.files.erase("/data/b.nc");
        if (r.change == Received)
            main->setEditorText("G01X2.\r\n");
        if (r.change == Edit || r.change == SavedAfterEdit) {
            editor.content = "G01X9.\r\n";
            editor.changed = true;
        }
        if (r.change == SavedAfterEdit) {
            chooser.answers.push_back({O::Chosen, "/data/a.nc"});
            main->document().MnuSave_Click();
        }
        const std::string saved = fs.files["/data/a.nc"];
        box.answer = r.answer;
        chooser.answers.push_back({r.save, "/data/b.nc"});
        EXPECT_EQ(main->mayClose(), r.closes) << r.change << " " << static_cast<int>(r.answer);
        EXPECT_EQ(!box.shown.empty() && box.shown[0].text == "変更を保存しますか？", r.asked) << r.change;
        EXPECT_EQ(fs.files.count("/data/b.nc") == 1, r.written && r.written == std::string("/data/b.nc")) << r.change;
        EXPECT_EQ(fs.files["/data/a.nc"] != saved, r.written && r.written == std::string("/data/a.nc")) << r.change;
        chooser.answers.clear();
    }
}

TEST_F(StartupTest, PanelSideFollowsCmdAndComesBackAtClose)
{
    struct Row {
        const char *grCheck, *tsCheck, *cmd, *savedCmd;
    };
    const Row rows[] = {
        {"True", "True", "1", "1"},
        {"True", "True", "0", "0"},
        {"True", "True", "7", "1"},       // not a side: the default
        {"True", "True", "-5400", "1"},
        {"False", "True", "1", "1"},      // the panel alone stands at the left, its side is kept
        {"False", "True", "0", "0"},
        {"False", "False", "0", "0"},
    };
    for (const Row& r : rows) {
        set("GrCheck", r.grCheck);
        set("TsCheck", r.tsCheck);
        set("Cmd", r.cmd);
        start();
        main->Form_Resize();
        main->closeRequest();
        EXPECT_EQ(settings.get("Cmd"), r.savedCmd) << r.grCheck << r.tsCheck << r.cmd;
        EXPECT_EQ(settings.get("GrCheck"), r.grCheck);
        EXPECT_EQ(settings.get("TsCheck"), r.tsCheck);
    }
    // Graphics switched on later puts the panel back on its stored side.
    set("GrCheck", "False");
    set("TsCheck", "True");
    set("Cmd", "1");
    start();
    EXPECT_EQ(view.placed[Area::Frame1].first.left, 0);
    main->MnuGrph_Click();
    EXPECT_GT(view.placed[Area::Frame1].first.left, 0);
    EXPECT_EQ(view.placed[Area::Frame1].first.left, view.placed[Area::Picture1].first.left);
}

TEST_F(StartupTest, SettingsThatCannotBeMeantReadAsTheirDefaults)
{
    struct Row {
        const char *key, *value;
        float fontSize;
        int slider;
    };
    const Row rows[] = {
        {"FontSize", "1e30", 12, 50}, {"FontSize", "0", 12, 50},   {"FontSize", "201", 12, 50},
        {"FontSize", "200", 200, 50}, {"FontSize", "10.5", 10.5f, 50}, {"Slider2", "500", 12, 50},
        {"Slider2", "-1", 12, 50},    {"Slider2", "100", 12, 100},
    };
    for (const Row& r : rows) {
        settings.values.clear();
        set(r.key, r.value);
        start();
        EXPECT_EQ(editor.font.size, r.fontSize) << r.key << "=" << r.value;
        EXPECT_EQ(view.slider, r.slider) << r.key << "=" << r.value;
    }
}

TEST_F(StartupTest, ClosingWithDelSubEmptiesTheStore)
{
    struct Row {
        bool delSub, storeExists, stuckFile;
        std::size_t filesLeft;
    };
    const Row rows[] = {
        {true, true, false, 0},
        {false, true, false, 3},
        {true, false, false, 0},
        {true, true, true, 2}, // O2 cannot be deleted: deletion stops there, from the last file back
    };
    for (const Row& r : rows) {
        fs.files.clear();
        fs.folders.erase("/home/SUBPRO");
        fs.failRemove.clear();
        if (r.storeExists) {
            fs.folders.insert("/home/SUBPRO");
            for (const char* f : {"O1", "O2", "O3"})
                fs.files[std::string("/home/SUBPRO/") + f] = "G00X0\r\n";
        }
        if (r.stuckFile)
            fs.failRemove.insert("/home/SUBPRO/O2");
        set("DelSub", r.delSub ? "True" : "False");
        start();
        EXPECT_EQ(view.checked[Menu::MnuExitSubDel], r.delSub);
        main->closeRequest();
        EXPECT_EQ(fs.list("/home/SUBPRO/").value_or(std::vector<std::string>{}).size(), r.filesLeft);
        // The colour file is written whatever happened to the store.
        EXPECT_TRUE(fs.files.count("/home/TARVEX.RGB"));
        EXPECT_TRUE(settings.has("Width"));
    }
}

TEST_F(StartupTest, StoreCommands)
{
    start();
    main->MnuExitSubDel_Click();
    EXPECT_EQ(settings.get("DelSub"), "True");
    EXPECT_TRUE(view.checked[Menu::MnuExitSubDel]);
    main->MnuExitSubDel_Click();
    EXPECT_EQ(settings.get("DelSub"), "False");

    fs.folders.insert("/home/SUBPRO");
    main->MnuSubDel_Click();
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, "プログラムは登録されていませんでした。");
    for (const char* f : {"O1", "O2", "O3"})
        fs.files[std::string("/home/SUBPRO/") + f] = "";
    main->MnuSubDel_Click();
    EXPECT_EQ(box.shown.back().text, "3 個のプログラムを削除しました。");
    EXPECT_TRUE(fs.list("/home/SUBPRO/")->empty());
    // A file that cannot be deleted ends it silently: no count, the later files gone.
    for (const char* f : {"O1", "O2", "O3"})
        fs.files[std::string("/home/SUBPRO/") + f] = "";
    fs.failRemove.insert("/home/SUBPRO/O2");
    box.shown.clear();
    main->MnuSubDel_Click();
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(fs.list("/home/SUBPRO/"), (std::optional<std::vector<std::string>>{{"O1", "O2"}}));
}

TEST_F(StartupTest, FontChooserStartsFromTheStoredFontAndSavesTheChoice)
{
    start();
    fonts.answer = FontSpec{"IPAGothic", 10.5f, true, false};
    main->MnuFont_Click();
    ASSERT_EQ(fonts.presets.size(), 1u);
    EXPECT_EQ(fonts.presets[0], (FontSpec{"ＭＳ 明朝", 12, false, false})); // what the editor shows
    EXPECT_EQ(editor.font, *fonts.answer);
    EXPECT_EQ(settings.get("FontName"), "IPAGothic");
    EXPECT_EQ(settings.get("FontSize"), "10.5");
    EXPECT_EQ(settings.get("FontBold"), "True");
    EXPECT_EQ(settings.get("FontItalic"), "False");

    fonts.answer.reset(); // cancel
    main->MnuFont_Click();
    EXPECT_EQ(settings.get("FontName"), "IPAGothic");
    EXPECT_EQ(fonts.presets[1], (FontSpec{"IPAGothic", 10.5f, true, false}));
}

TEST_F(StartupTest, GraphicsToolbarKeys)
{
    fs.files["/data/a.nc"] = "G01X100.Y60.\r\nG00X0Y0\r\n";
    start("/data/a.nc");
    using Cursor = MainView::PlotCursor;
    struct Step {
        ToolKey key;
        bool pressed;
        int toolMode;
        Cursor cursor;
        bool zoomPressed, moovPressed; // the two buttons afterwards
    };
    // Zoom and move exclude each other; opening a tool window ends either.
    const Step steps[] = {
        {ToolKey::zoom, true, tool::zoom, Cursor::Zoom, true, false},
        {ToolKey::moov, true, tool::move, Cursor::Move, false, true},
        {ToolKey::moov, false, tool::none, Cursor::Default, false, false},
        {ToolKey::zoom, true, tool::zoom, Cursor::Zoom, true, false},
        {ToolKey::lng, true, tool::none, Cursor::Default, false, false},
    };
    for (const Step& s : steps) {
        view.toolButtons[s.key] = s.pressed; // the button changes before its handler runs
        main->Toolbar1_ButtonClick(s.key, s.pressed);
        EXPECT_EQ(main->plotTools().toolMode, s.toolMode) << static_cast<int>(s.key);
        EXPECT_EQ(view.cursor, s.cursor) << static_cast<int>(s.key);
        EXPECT_EQ(view.toolButtons[ToolKey::zoom], s.zoomPressed) << static_cast<int>(s.key);
        EXPECT_EQ(view.toolButtons[ToolKey::moov], s.moovPressed) << static_cast<int>(s.key);
    }
    EXPECT_TRUE(view.lengthWindow);
    // The length window's tool, a measure, and its closing.
    main->setLengthTool(tool::singleSelect);
    EXPECT_EQ(view.cursor, Cursor::Cross);
    main->Picture1_MouseDown(50, 30.5f);
    EXPECT_EQ(view.lengthReport, "選択周長 : 116.619㎜");
    main->lengthWindowClosed();
    EXPECT_FALSE(view.toolButtons[ToolKey::lng]);
    EXPECT_EQ(main->plotTools().selectedLength, 0);
    EXPECT_EQ(main->plotTools().toolMode, tool::none);

    // The drawing options expand again; "ref" fits the whole path after a zoom.
    main->Toolbar1_ButtonClick(ToolKey::g0, true);
    EXPECT_TRUE(main->graphics().showRapids);
    main->Toolbar1_ButtonClick(ToolKey::skip, true);
    EXPECT_TRUE(main->graphics().blockSkip);
    main->Toolbar1_ButtonClick(ToolKey::mcode, true);
    EXPECT_TRUE(main->graphics().showMarkings);
    const PlotView whole = main->graphics().view;
    main->Toolbar1_ButtonClick(ToolKey::zoom, true);
    main->Picture1_MouseDown(10, 10);
    EXPECT_LT(main->graphics().view.maxX - main->graphics().view.minX, whole.maxX - whole.minX);
    main->Toolbar1_ButtonClick(ToolKey::ref, false);
    EXPECT_EQ(main->graphics().view.maxX, whole.maxX);
    EXPECT_EQ(main->graphics().view.minY, whole.minY);

    // The replay runs from the window's timer, nothing waiting inside it: the
    // toolbar off while it runs, then back, "play" released; Esc ends it too.
    for (bool escape : {false, true}) {
        view.toolButtons[ToolKey::play] = true;
        main->Toolbar1_ButtonClick(ToolKey::play, true);
        EXPECT_FALSE(view.toolbarEnabled);
        EXPECT_EQ(view.replayAfter, std::chrono::microseconds(0));
        if (escape)
            main->stopReplay();
        else
            while (view.replayAfter)
                main->replayTick();
        EXPECT_TRUE(view.toolbarEnabled && !view.replayAfter);
        EXPECT_FALSE(view.toolButtons[ToolKey::play]);
    }
    EXPECT_EQ(main->plotTools().toolMode, tool::none);
}
