#include "app/TarvexMain.h"
#include "app/SettingsKeys.h"
#include "editor/LineEnds.h"
#include "editor/StoreCleanup.h"
#include "editor/WordColours.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "platform/TextEditor.h"
#include "platform/TextLines.h"
#include "serial/ProfileFolder.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace tarvex {

TarvexMain::TarvexMain(ProcessState& state, FileSystem& fs, const TextCodec& codec, UiServices& ui,
                       const SystemFolders& folders, MainView& view, TextEditor& editor, SerialPort& MSComm1,
                       SerialPort& MSComm2)
    : state_(state), fs_(fs), codec_(codec), ui_(ui), folders_(folders), view_(view), editor_(editor),
      store_(fs, codec, state.progDir), graphics_(fs, codec, state.progDir, state.segments, state.conditions),
      document_(editor, fs, codec, ui, state.progDir, *this),
      textCommands_({editor, fs, codec, ui, state.settings, state.progDir, state.CharValid,
                     [this](const std::string& text) {
                         view_.setStatusText(1, text);
                         view_.repaintStatus();
                     }}),
      transfers_({state.profile, state.transfer, state.settings, MSComm1, MSComm2, *this, ui.events, ui.messageBox, fs,
                  codec, state.progDir}),
      plotTools_(graphics_, state.conditions.conditionVisible.data()),
      externalApps_({fs, codec, state.settings, ui, state.progDir, folders.homePage})
{
    layout_.frame = {design::frameLeft, design::frameTop, design::frameWidth, design::frameHeight};
    transfers_.monitor = &monitor_;
    // An element of the selection takes its length at the feed in force on
    // its line (its call's line for a subprogram's), a rapid at the rapid rate.
    plotTools_.timeOf = [this](int n, double length) -> std::optional<double> {
        const auto line = static_cast<std::size_t>(graphics_.segments.line[n]);
        const LineFeed f = line >= 1 && line <= feeds_.size() ? feeds_[line - 1] : LineFeed{};
        const float motion = graphics_.segments[n].motion;
        if (motion == 0 || motion == 8)
            return length * f.unit / EstimateOptions{}.rapid * 60;
        if (f.mmPerMinute <= 0)
            return std::nullopt;
        return length * f.unit / f.mmPerMinute * 60;
    };
}

void TarvexMain::startUp(const std::string& commandLine)
{
    using namespace keys;
    SettingsStore& s = state_.settings;

    // The window's menus as far as their commands exist.
    for (const auto& e : menuTree)
        view_.setMenuEnabled(e.id, e.built);
    view_.setMenuChecked(Menu::MnuG90, true);

    externalApps_.load();
    refreshAppMenu();

    fs_.setCurrentFolder(state_.progDir);
    s.write(section, Apldir, state_.progDir);
    dataWritable_ = fs_.canWrite(state_.progDir);

    exitSubDel_ = readBool(s, section, DelSub, false);
    view_.setMenuChecked(Menu::MnuExitSubDel, exitSubDel_);

    // Geometry, kept on the screen. A size of zero or less cannot be meant:
    // it reads as absent.
    auto twips = [&](const char* key, int fallback, float least) {
        const float n = readNumberWithin(s, section, key, fallback, least, std::numeric_limits<float>::max());
        return static_cast<int>(std::clamp(n, -1e9f, 1e9f));
    };
    const float anywhere = std::numeric_limits<float>::lowest();
    Rect w{twips(Left, 0, anywhere), twips(Top, 0, anywhere), twips(Width, WidthDefault, 1),
           twips(Height, HeightDefault, 1)};
    const int sw = view_.screenWidth(), sh = view_.screenHeight();
    // The first start: four fifths of the screen, centred, where a program
    // and its path can both be read.
    if (s.read(section, Width, "").empty() && s.read(section, Height, "").empty())
        w = {sw / 10, sh / 10, sw * 4 / 5, sh * 4 / 5};
    if (w.left < 0 || w.left > sw)
        w.left = 0;
    if (w.top < 0 || w.top > sh)
        w.top = 0;
    w.width = std::min(w.width, sw);
    w.height = std::min(w.height, sh);
    view_.setWindowRect(w);

    graphicsOn_ = readBool(s, section, GrCheck, true);
    commBox_ = readBool(s, section, TsCheck, true);
    view_.setMenuChecked(Menu::MnuGrph, graphicsOn_);
    view_.setMenuChecked(Menu::MnuTusin, commBox_);
    view_.setSlider2(static_cast<int>(readNumberWithin(s, section, Slider2, Slider2Default, 0, 100)));
    // The side is kept also while graphics is off, where the panel stands at the left.
    // Anything but 0 and 1 cannot be meant and reads as the default 1.
    panelRight_ = readInt16(s, section, Cmd, 1) != 0;
    Image1_Click(panelRight_ ? 1 : 0);

    editor_.raise();
    editor_.setFont({s.read(section, FontName, FontNameDefault),
                     readNumberWithin(s, section, FontSize, FontSizeDefault, 1, 200),
                     readBool(s, section, FontBold, false), readBool(s, section, FontItalic, false)});
    setWordColours(wordColours());
    view_.setMenuEnabled(Menu::MnuAppendLoad, false);
    for (int k = 0; k < recentCount; ++k)
        if (std::string f = s.read(section, "Recent" + std::to_string(k + 1), ""); !f.empty())
            recent_.push_back(f);
    showRecent();
    setCaption(document_.caption());

    // Profiles: the folder with the sample profile is made on first start.
    currentProfile_ = s.read(section, FileName, FileNameDefault);
    auto profiles = ListProfiles(fs_, state_.progDir);
    if (!profiles) {
        createProfileFolder(fs_, state_.progDir);
        profiles = ListProfiles(fs_, state_.progDir);
    }
    std::vector<std::string> names = profiles.value_or(std::vector<std::string>{});
    auto match = std::find(names.begin(), names.end(), currentProfile_);
    view_.setProfileList(names, match == names.end() ? -1 : static_cast<int>(match - names.begin()));
    if (match != names.end())
        Combo5_Click(*match);

    if (loadColourFile(state_.conditions, fs_, codec_, state_.progDir))
        warn(tooLargeMessage(displayName(joinPath(state_.progDir, colourFileName), codec_)));
    // The marking drawings' folder, empty on a fresh installation.
    if (!fs_.isFolder(joinPath(state_.progDir, "Mcode")))
        fs_.makeFolder(joinPath(state_.progDir, "Mcode"));

    if (!commandLine.empty())
        openFromCommandLine(commandLine);
    view_.showWindow();
    if (!dataWritable_)
        ui_.messageBox.show(dataFolderMessage(displayName(state_.progDir, codec_)), {}, MsgIcon::Exclamation);
    started_ = true;
    for (const std::string& message : std::exchange(startMessages_, {}))
        warn(message);
}

// Shown at once, or once the window is up when start-up finds it.
void TarvexMain::warn(const std::string& message)
{
    if (started_)
        ui_.messageBox.show(message, {}, MsgIcon::Exclamation);
    else
        startMessages_.push_back(message);
}

std::string dataFolderMessage(const std::string& folder)
{
    return "データフォルダに書き込みできません。\n" + folder
           + "\nサブプログラムの登録、グラフィックス表示と設定ファイルの保存はできません。";
}

void TarvexMain::openFromCommandLine(std::string path)
{
    if (path.front() == '"') {
        path.erase(0, 1);
        if (!path.empty())
            path.pop_back();
    }
    std::string bytes;
    if (Error e = document_.load(path, bytes)) {
        // Start-up goes on with an empty editor; the error is shown once the window is up.
        view_.showWindow();
        ui_.messageBox.show(errorBoxText(e), {}, MsgIcon::Exclamation);
        return;
    }
    view_.setStatusText(2, displayName(fileTitle(path), codec_));
    setCaption(document_.caption());
    LoadSub(path, bytes);
    view_.showWindow();
    setAppendLoadEnabled(true);
    ui_.events.yield();
}

bool TarvexMain::mayClose()
{
    return !askOnClose_ || document_.mayReplace();
}

void TarvexMain::textEdited()
{
    // A transfer's caption is its progress until it ends.
    if (!transfers_.running())
        setCaption(document_.caption());
}

void TarvexMain::remember(const std::string& path)
{
    recent_.erase(std::remove(recent_.begin(), recent_.end(), path), recent_.end());
    recent_.insert(recent_.begin(), path);
    if (recent_.size() > static_cast<std::size_t>(recentCount))
        recent_.resize(recentCount);
    for (int k = 0; k < recentCount; ++k)
        state_.settings.write(keys::section, "Recent" + std::to_string(k + 1),
                              k < static_cast<int>(recent_.size()) ? recent_[static_cast<std::size_t>(k)] : "");
    showRecent();
}

void TarvexMain::showRecent()
{
    for (int k = 0; k < recentCount; ++k) {
        const bool used = k < static_cast<int>(recent_.size());
        view_.setMenuCaption(recentMenu(k),
                             used ? "&" + std::to_string(k + 1) + " " + displayName(recent_[static_cast<std::size_t>(k)], codec_)
                                  : std::string(),
                             used);
    }
    view_.setMenuEnabled(Menu::MnuRecent, !recent_.empty());
}

void TarvexMain::openRecent(int k)
{
    if (k >= 0 && k < static_cast<int>(recent_.size()))
        document_.openRecent(recent_[static_cast<std::size_t>(k)]);
}

void TarvexMain::closeRequest()
{
    using namespace keys;
    SettingsStore& s = state_.settings;
    stopReplay();
    // A transfer still running ends at its next look at the state.
    state_.transfer.TransferState = TransferStatus::Cancelled;
    // Emptying the store and writing the colour file are independent: a file
    // that cannot be deleted must not cost the user the display conditions.
    if (exitSubDel_)
        emptyStore(fs_, store_.folder());
    saveColourFile(state_.conditions, fs_, codec_, state_.progDir);

    s.write(section, FileName, view_.profileText());
    const Rect w = view_.windowRect();
    writeNumber(s, section, Left, static_cast<float>(w.left));
    writeNumber(s, section, Top, static_cast<float>(w.top));
    writeNumber(s, section, Height, static_cast<float>(w.height));
    writeNumber(s, section, Width, static_cast<float>(w.width));
    writeBool(s, section, GrCheck, graphicsOn_);
    writeBool(s, section, TsCheck, commBox_);
    s.write(section, Slider2, std::to_string(view_.slider2()));
    s.write(section, Cmd, panelRight_ ? "1" : "0");
}

void TarvexMain::Form_Resize()
{
    if (view_.isMinimized())
        return;
    placeAreas();
    expandAndPlot();
}

void TarvexMain::placeAreas()
{
    LayoutInput in;
    in.window = view_.windowRect();
    in.innerWidth = view_.innerWidth();
    in.innerHeight = view_.innerHeight();
    in.statusHeight = view_.statusBarHeight();
    in.commBox = commBox_;
    in.graphics = graphicsOn_;
    in.frameLeft = panelRight_ ? std::max(1, view_.innerWidth() - design::frameWidth) : 0;
    layout_ = layoutMainWindow(in);
    if (!(layout_.window == in.window))
        view_.setWindowRect(layout_.window);
    view_.place(Area::Frame1, layout_.frame, layout_.frameVisible);
    view_.place(Area::Editor, layout_.editor, true);
    view_.place(Area::Picture1, layout_.plot, layout_.plotVisible);
    view_.place(Area::Picture2, layout_.strip, layout_.plotVisible);
}

void TarvexMain::Image1_Click(int index)
{
    // The panel changes sides only in graphics mode; the areas then follow it.
    if (graphicsOn_) {
        panelRight_ = index != 0;
        placeAreas();
    }
    expandAndPlot();
}

void TarvexMain::MnuCompare_Click()
{
    auto chosen = document_.chooseProgram("比較するプログラム");
    if (!chosen)
        return;
    const std::string& path = documentPath();
    std::string first = editor_.text();
    chosen->bytes.clear();
    view_.showComparison(path.empty() ? "（編集中のプログラム）" : displayName(path, codec_),
                         displayName(chosen->path, codec_),
                         std::make_unique<Comparison>(std::move(first), std::move(chosen->utf8)));
}

nc::WordColours TarvexMain::wordColours() const { return readWordColours(state_.settings); }

void TarvexMain::setWordColours(const nc::WordColours& colours)
{
    writeWordColours(state_.settings, colours);
    editor_.setWordColours(colours.on ? std::vector<std::uint32_t>(colours.rgb.begin(), colours.rgb.end())
                                      : std::vector<std::uint32_t>{});
}

void TarvexMain::MnuFont_Click()
{
    using namespace keys;
    SettingsStore& s = state_.settings;
    // The chooser opens on the font the editor shows: OK without a change changes nothing.
    auto chosen = ui_.fontChooser.choose(editor_.currentFont());
    if (!chosen)
        return;
    editor_.setFont(*chosen);
    s.write(section, FontName, chosen->name);
    writeNumber(s, section, FontSize, chosen->size);
    writeBool(s, section, FontBold, chosen->bold);
    writeBool(s, section, FontItalic, chosen->italic);
}

void TarvexMain::Combo5_Click(const std::string& name)
{
    if (LoadProfile(name, state_.profile, fs_, codec_, state_.progDir))
        warn(tooLargeMessage(displayName(joinPath(profileFolder(state_.progDir), name), codec_)));
    view_.setSlider1(state_.profile.wait);
    if (auto arrangement = panelFor(state_.profile.partner))
        view_.arrangePanel(*arrangement);
}

void TarvexMain::Combo5_Change() { view_.setCommand5Enabled(true); }

void TarvexMain::MnuTusin_Click()
{
    commBox_ = !commBox_;
    view_.setMenuChecked(Menu::MnuTusin, commBox_);
    if (commBox_ && !graphicsOn_) {
        Rect w = view_.windowRect();
        w.width = 5300;
        view_.setWindowRect(w);
    }
    const bool panelBesidePlot = graphicsOn_;
    placeAreas();
    if (!commBox_ && panelBesidePlot)
        expandAndPlot();
}

// ---- the graphics toolbar and the plot's mouse ----

void TarvexMain::redraw()
{
    expanded_ = {};
    expandAndPlot();
}

void TarvexMain::releaseMoveAndZoom()
{
    view_.setToolButton(ToolKey::zoom, false);
    view_.setToolButton(ToolKey::moov, false);
    view_.setPlotCursor(MainView::PlotCursor::Default);
    plotTools_.toolMode = tool::none;
}

void TarvexMain::Toolbar1_ButtonClick(ToolKey key, bool pressed)
{
    using Cursor = MainView::PlotCursor;
    switch (key) {
    case ToolKey::ref: redraw(); break;
    case ToolKey::zoom:
    case ToolKey::moov: {
        // The two tools exclude each other; neither redraws.
        const bool zoom = key == ToolKey::zoom;
        if (pressed) {
            view_.setToolButton(zoom ? ToolKey::moov : ToolKey::zoom, false);
            view_.setPlotCursor(zoom ? Cursor::Zoom : Cursor::Move);
            plotTools_.toolMode = zoom ? tool::zoom : tool::move;
        } else {
            view_.setPlotCursor(Cursor::Default);
            plotTools_.toolMode = tool::none;
        }
        break;
    }
    case ToolKey::mcode:
        graphics_.showMarkings = pressed;
        redraw();
        break;
    case ToolKey::skip:
        graphics_.blockSkip = pressed;
        redraw();
        break;
    case ToolKey::g0:
        graphics_.showRapids = pressed;
        redraw();
        break;
    case ToolKey::vw:
    case ToolKey::lng:
        // Opening either window ends a move or zoom tool.
        releaseMoveAndZoom();
        if (key == ToolKey::vw)
            view_.openColourWindow(pressed);
        else
            view_.openLengthWindow(lengthOpen_ = pressed);
        redraw();
        break;
    case ToolKey::play:
        // No other toolbar action starts during the replay; the menus, the
        // plot, the speed slider and a transfer stay live, and Esc or the key
        // pressed again ends it.
        if (!pressed) {
            stopReplay();
            break;
        }
        releaseMoveAndZoom();
        redraw();
        if (graphics_.GrSub1(view_.plotSurface(), 3)) {
            view_.setToolbarEnabled(false);
            view_.replayTimer(std::chrono::microseconds(0));
        } else {
            view_.setToolButton(ToolKey::play, false);
        }
        break;
    }
}

void TarvexMain::replayTick()
{
    if (const auto wait = graphics_.replayStep(view_.plotSurface(), view_.slider2(), std::chrono::steady_clock::now()))
        view_.replayTimer(std::min<std::chrono::microseconds>(*wait, std::chrono::milliseconds(50))); // the slider acts within 50 ms
    else
        replayEnded();
}

void TarvexMain::stopReplay()
{
    if (!graphics_.replaying())
        return;
    graphics_.replayStop();
    replayEnded();
}

void TarvexMain::replayEnded()
{
    view_.replayTimer(std::nullopt);
    view_.setToolButton(ToolKey::play, false);
    view_.setToolbarEnabled(true);
}

void TarvexMain::Picture1_MouseDown(float x, float y)
{
    if (plotTools_.press(x, y, view_.plotSurface()) == PlotTools::Outcome::Measured) {
        view_.setLengthReport(lengthReport(plotTools_.selectedLength));
        showTimes();
    }
}

void TarvexMain::timeProgram()
{
    EstimateOptions o;
    o.stored = storedPrograms(fs_, codec_, state_.progDir);
    const Estimate e = estimate(editor_.textView(), o);
    programTime_ = !e.refusal.empty() ? "計算できません（" + e.refusal + "）"
                                       : clockText(e.total({})) + (e.unknown || e.callsNotFollowed ? "（一部不明）" : "");
    view_.setStatusText(3, "全体の加工時間 " + programTime_);
    showTimes();
}

void TarvexMain::showTimes()
{
    view_.setTimeReport(timeReport(plotTools_.selectedSeconds, plotTools_.selectedNoFeed) + " ／ 全体 " + programTime_);
}

void TarvexMain::Picture1_MouseMove(float x, float y) { view_.setStatusText(2, positionText(x, y)); }

void TarvexMain::setLengthTool(int mode)
{
    plotTools_.toolMode = mode;
    view_.setPlotCursor(mode == tool::none ? MainView::PlotCursor::Default : MainView::PlotCursor::Cross);
}

// The feeds of the text just expanded, while a selection may be timed (the
// path length window is open, and opening it expands again).
void TarvexMain::readFeeds()
{
    feeds_.clear();
    if (lengthOpen_)
        feeds_ = feedsByLine(editor_.textView(), graphics_.blockSkip);
}

void TarvexMain::lengthWindowClosed()
{
    lengthOpen_ = false;
    view_.setToolButton(ToolKey::lng, false);
    // A move or zoom tool chosen meanwhile stays.
    if (plotTools_.toolMode >= tool::singleSelect) {
        plotTools_.toolMode = tool::none;
        view_.setPlotCursor(MainView::PlotCursor::Default);
    }
    plotTools_.clearSelection();
    replot();
}

void TarvexMain::colourWindowClosed()
{
    state_.conditions.conditionVisible.fill(true);
    replot();
    view_.setToolButton(ToolKey::vw, false);
}

void TarvexMain::replot() { graphics_.GrSub(view_.plotSurface()); }

// ---- other programs ----

void TarvexMain::refreshAppMenu()
{
    for (int i = 0; i < ExternalApps::slotCount; ++i) {
        const ExternalApp& app = externalApps_.apps()[i];
        view_.setMenuCaption(appMenu(i), app.title, !app.title.empty());
        view_.setMenuEnabled(appMenu(i), !app.title.empty());
    }
}

void TarvexMain::MnuApp_Click(int slot) { externalApps_.start(slot, editor_.text()); }
std::size_t TarvexMain::caretLine() { return lineOfByte(editor_.textView(), editor_.caretByte()); }

RestartScan TarvexMain::restartScan(std::size_t line)
{
    if (!restartMap_)
        restartMap_.emplace(editor_.textView());
    return RestartScan(*restartMap_, line);
}

std::optional<std::size_t> TarvexMain::findBlock(const std::string& number)
{
    return findBlockNumber(editor_.textView(), number);
}

void TarvexMain::restartPreview(std::optional<std::size_t> line, DrawingSurface* picture)
{
    if (!graphicsOn_)
        return;
    expanded_ = {};
    graphics_.dimBefore = -1;
    if (line) {
        // The segments of the text before the block are the first ones of the whole.
        const std::string_view text = editor_.textView();
        graphics_.WirFmt(text.substr(0, lineOffset(text, *line).value_or(text.size())));
        const int before = graphics_.segments.segmentCount + 1;
        graphics_.WirFmt(editor_.textView());
        readFeeds();
        graphics_.dimBefore = before;
    }
    if (picture)
        graphics_.GrSub(*picture);
    graphics_.GrSub(view_.plotSurface());
    graphics_.dimBefore = -1;
}

void TarvexMain::restartClosed()
{
    restartMap_.reset(); // the text may change again
    restartPreview(std::nullopt);
}

bool TarvexMain::sendFromBlock(const RestartPlan& plan, const std::string& preamble, bool tapeRun)
{
    return transfers_.sendFrom(restartSend(editor_.textView(), plan, preamble), tapeRun);
}

void TarvexMain::MnuMorlex_Click() { externalApps_.startConverter(editor_.text()); }
void TarvexMain::MnuWWW_Click() { externalApps_.chooseBrowser(); }
void TarvexMain::MnuHomePage_Click() { externalApps_.openHomePage(); }

// ---- the window around a transfer ----

void TarvexMain::Control(bool enable)
{
    for (Menu m : {Menu::filemenu, Menu::MnuEdit, Menu::MnuView, Menu::MnuOption, Menu::MnuHelp, Menu::MnuVar})
        view_.setMenuEnabled(m, enable && menuEntry(m).built);
    view_.setProfileBoxEnabled(enable);
    view_.setCommand5Enabled(enable);
    view_.setPlotEnabled(enable);
    editor_.setReadOnly(!enable);
    view_.setCancelEnabled(!enable);
}

void TarvexMain::setPanelEnabled(PanelControl control, bool enabled) { view_.setPanelEnabled(control, enabled); }
bool TarvexMain::panelEnabled(PanelControl control) const { return view_.panelEnabled(control); }
void TarvexMain::setCancelEnabled(bool enabled) { view_.setCancelEnabled(enabled); }
void TarvexMain::setStatus1(const std::string& text)
{
    showSelection(); // a pause or a message shows where the transfer stands
    view_.setStatusText(1, text);
}
void TarvexMain::setLabel2(const std::string& text) { view_.setLabel2(text); }

void TarvexMain::IOEnd()
{
    showSelection();
    if (view_.isMinimized())
        view_.restoreWindow();
    setCaption(document_.caption()); // the document again, instead of the progress
}

int TarvexMain::slider1() const { return view_.slider1(); }
std::string TarvexMain::editorText() const { return editor_.text(); }
// Received text is in no file yet.
void TarvexMain::setEditorText(std::string_view utf8)
{
    editor_.setText(utf8);
    editor_.noteChange();
}

void TarvexMain::appendEditorText(std::string_view utf8)
{
    editor_.appendText(utf8);
    editor_.noteChange();
}
// The editor follows a transfer at most 25 times a second: a selection in a
// long program costs more than a character's time on a fast line, and the
// transfer must never wait for the window (a drip feed starves the machine).
void TarvexMain::selectInEditor(std::size_t offset)
{
    pendingSelection_ = offset;
    if (std::chrono::steady_clock::now() - lastSelection_ >= std::chrono::milliseconds(40))
        showSelection();
}

void TarvexMain::showSelection()
{
    if (!pendingSelection_)
        return;
    editor_.setSelection(*pendingSelection_, 1);
    pendingSelection_.reset();
    lastSelection_ = std::chrono::steady_clock::now();
}
void TarvexMain::focusEditor()
{
    showSelection();
    view_.focusEditor();
}

void TarvexMain::afterInput()
{
    if (graphicsOn_)
        expandAndPlot();
}

// The editor already holds what came; the box says it is not the whole program.
void TarvexMain::inputCutShort(const std::string& why, const std::string& message)
{
    ui_.messageBox.show(why.empty() ? message : why + "\n" + message, "TARVEX", MsgIcon::Exclamation);
}

void TarvexMain::MnuSubDel_Click() { tarvex::MnuSubDel_Click(fs_, store_.folder(), ui_.messageBox); }

void TarvexMain::MnuExitSubDel_Click()
{
    exitSubDel_ = !exitSubDel_;
    view_.setMenuChecked(Menu::MnuExitSubDel, exitSubDel_);
    writeBool(state_.settings, keys::section, keys::DelSub, exitSubDel_);
}

void TarvexMain::setCaption(const std::string& caption) { view_.setCaption(caption); }

void TarvexMain::LoadSub(const std::string& path, std::string_view bytes)
{
    view_.setStatusText(2, displayName(fileTitle(path), codec_)); // every open names its file there
    if (!dataWritable_) {
        store_.setDocumentPath(path); // said once at start: no message for every open
    } else if (auto failure = store_.LoadSub(path, bytes)) {
        ui_.messageBox.show(*failure, {}, MsgIcon::Exclamation);
        return;
    }
    if (graphicsOn_) {
        const short before = graphics_.coordMode;
        expandAndPlot();
        DrawingSurface& surface = view_.plotSurface();
        expanded_ = {before == graphics_.coordMode, graphics_.coordMode, surface.width(), surface.height()};
        editor_.mark(TextEditor::Mark::Plotted);
    }
}

const std::string& TarvexMain::documentPath() const { return store_.documentPath(); }

void TarvexMain::expandAndPlot()
{
    DrawingSurface& surface = view_.plotSurface();
    const Expanded last = std::exchange(expanded_, {});
    if (last.valid && last.coordMode == graphics_.coordMode && last.width == surface.width()
        && last.height == surface.height() && !editor_.changedSince(TextEditor::Mark::Plotted))
        return; // the same text, mode and plot size give the same table and picture
    graphics_.WirFmt(editor_.textView());
    readFeeds();
    timeProgram();
    // A plot cut short says where and why; the words go when a later
    // expansion runs to the end, unless something else has been shown since.
    const std::string ending = graphics_.lastStop.message();
    if (!ending.empty() || view_.statusText(1) == stopShown_)
        view_.setStatusText(1, ending);
    stopShown_ = ending;
    graphics_.GrSub(surface);
}

void TarvexMain::MnuGrph_Click()
{
    using namespace design;
    graphicsOn_ = !graphicsOn_;
    view_.setMenuChecked(Menu::MnuGrph, graphicsOn_);
    Rect w = view_.windowRect();
    if (!graphicsOn_) {
        if (commBox_) {
            if (view_.isMaximized())
                view_.restoreWindow();
            w = view_.windowRect();
            widthWithGraphics_ = w.width;
            w.width = minWidth;
            view_.setWindowRect(w);
            view_.setStatusText(2, {});
        }
        placeAreas(); // the plot and its strip are hidden; nothing is drawn
        return;
    }
    if (commBox_ && !view_.isMaximized() && !view_.isMinimized()) {
        // The width it had before graphics went off, else one the plot can be seen in.
        w.width = std::max(std::exchange(widthWithGraphics_, 0), 10530);
        view_.setWindowRect(w);
    }
    placeAreas();
    expandAndPlot();
}

void TarvexMain::MnuG90_Click()
{
    g90_ = !g90_;
    view_.setMenuChecked(Menu::MnuG90, g90_);
    view_.setMenuChecked(Menu::MnuG91, !g90_);
    graphics_.coordMode = g90_ ? 90 : 91;
    if (graphicsOn_)
        expandAndPlot();
}

void TarvexMain::MnuG91_Click()
{
    // The mirror image of MnuG90: either item toggles between the two modes.
    const bool g91 = g90_; // MnuG91 inverted: it was checked exactly when MnuG90 was not
    g90_ = !g91;
    view_.setMenuChecked(Menu::MnuG91, g91);
    view_.setMenuChecked(Menu::MnuG90, g90_);
    graphics_.coordMode = g91 ? 91 : 90;
    if (graphicsOn_)
        expandAndPlot();
}

void TarvexMain::MnuDxfSave_Click()
{
    graphics_.DxfSave(editor_.text(), ui_.events);
    FileChooser& chooser = ui_.chooser;
    chooser.title = "ＤＸＦ形式で保存";
    // The name left from the last use, else the program's own, is proposed
    // as a drawing, in the program's folder: Enter must never replace the
    // program with its DXF.
    if (chooser.fileName.empty())
        chooser.fileName = store_.documentPath();
    chooser.fileName = withExtension(chooser.fileName, ".dxf");
    chooser.defaultExt = ".dxf";
    chooser.filter = "DXF形式(*.dxf)|*.dxf";
    chooser.cancelError = true;
    auto showError = [this](const Error& e) { ui_.messageBox.show(e.description, "TARVEX", MsgIcon::Exclamation); };
    auto outcome = chooser.showSave();
    if (outcome == FileChooser::Outcome::Failed)
        return showError(chooser.error);
    if (outcome == FileChooser::Outcome::Cancelled || chooser.fileName.empty())
        return;
    ui_.events.yield();
    if (Error e = graphics_.writeDxf(chooser.fileName))
        return showError(e);
}

void TarvexMain::setAppendLoadEnabled(bool enabled) { view_.setMenuEnabled(Menu::MnuAppendLoad, enabled); }

void TarvexMain::clearViews()
{
    view_.setStatusText(1, {});
    view_.setLabel2({});
    view_.erasePlot();
}

} // namespace tarvex
