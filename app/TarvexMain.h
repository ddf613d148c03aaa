#pragma once
#include "app/ExternalApps.h"
#include "app/Layout.h"
#include "app/MainView.h"
#include "app/ProcessState.h"
#include "editor/Document.h"
#include "editor/TextCommands.h"
#include "platform/UiServices.h"
#include "toolpath/Graphics.h"
#include "toolpath/SubprogramStore.h"
#include "program/ProgramMap.h"

#include <chrono>
#include <optional>
#include "program/Colouring.h"
#include "program/Estimate.h"
#include "program/Restart.h"

#include <array>
#include <string>
#include <vector>

namespace tarvex {

class FileSystem;
class TextCodec;
class TextEditor;

// The logic of the main window TarvexFrm: start-up, close, layout and the
// commands of the shell. The window class forwards its events here.
class TarvexMain final : public DocumentHost, public TransferHost {
public:
    TarvexMain(ProcessState& state, FileSystem& fs, const TextCodec& codec, UiServices& ui,
               const SystemFolders& folders, MainView& view, TextEditor& editor, SerialPort& MSComm1,
               SerialPort& MSComm2);

    // Runs once before the window is first shown. commandLine: the argument
    // text, a program file to open, possibly in double quotes.
    void startUp(const std::string& commandLine);
    void warn(const std::string& message);
    // Runs whenever the window is about to close; never cancels it.
    // Asks whether to save a text changed since it was opened or saved:
    // false when the user keeps the window (or the save did not happen).
    bool mayClose();
    // Closing discards changes without asking (a scripted picture).
    void discardOnClose() { askOnClose_ = false; }
    // Before an input into the editor: asks, as closing does, when the text
    // has changed; false when the user cancelled.
    bool mayInput() { return document_.mayReplace(); }
    // The editor's text changed (typed, undone, received): the caption follows.
    void textEdited();
    // A file of the recent files (最近使ったファイル), from the newest.
    void openRecent(int k);
    const std::vector<std::string>& recentFiles() const { return recent_; }
    void closeRequest();

    void Form_Resize();
    void Image1_Click(int index);
    void MnuFont_Click();
    void MnuCompare_Click();
    // The editor's word colours as stored, and a change of them (stored and shown).
    nc::WordColours wordColours() const;
    void setWordColours(const nc::WordColours& colours);
    void MnuSubDel_Click();
    void MnuExitSubDel_Click();
    void MnuGrph_Click();
    void MnuG90_Click();
    void MnuG91_Click();
    void MnuDxfSave_Click();
    // A profile chosen in Combo5 (also at start and when the settings dialog closes).
    void Combo5_Click(const std::string& name);
    // Text typed into Combo5.
    void Combo5_Change();
    void MnuTusin_Click();

    // The graphics toolbar; the button's state has changed already.
    void Toolbar1_ButtonClick(ToolKey key, bool pressed);
    // The replay's steps, from the window's timer, and its end by Esc.
    void replayTick();
    void stopReplay();
    // Mouse on the plot, in toolpath units.
    void Picture1_MouseDown(float x, float y);
    void Picture1_MouseMove(float x, float y);
    // The path length window: its tool, and its closing.
    void setLengthTool(int mode);
    void lengthWindowClosed();
    // The display settings window's closing steps.
    void colourWindowClosed();
    // Draws the path again as it stands (colours or visibility changed).
    void replot();
    PlotTools& plotTools() { return plotTools_; }

    Transfers& transfers() { return transfers_; }
    // What the transfers did on the line, the last ten since start.
    LineMonitor& lineMonitor() { return monitor_; }

    Graphics& graphics() { return graphics_; }

    Document& document() { return document_; }

    TextCommands& textCommands() { return textCommands_; }

    // DocumentHost
    void setCaption(const std::string& caption) override;
    void LoadSub(const std::string& path, std::string_view bytes) override;
    const std::string& documentPath() const override;
    bool graphicsMode() const override { return graphicsOn_; }
    void expandAndPlot() override;
    void setAppendLoadEnabled(bool enabled) override;
    void clearViews() override;
    void remember(const std::string& path) override;

    // TransferHost
    void Control(bool enable) override;
    void setPanelEnabled(PanelControl control, bool enabled) override;
    bool panelEnabled(PanelControl control) const override;
    void setCancelEnabled(bool enabled) override;
    void setStatus1(const std::string& text) override;
    void setLabel2(const std::string& text) override;
    void IOEnd() override;
    int slider1() const override;
    std::string editorText() const override;
    void setEditorText(std::string_view utf8) override;
    void appendEditorText(std::string_view utf8) override;
    void selectInEditor(std::size_t offset) override;
    void focusEditor() override;
    void afterInput() override;
    void inputCutShort(const std::string& why, const std::string& message) override;

    bool commBox() const { return commBox_; }
    int frameLeft() const { return layout_.frame.left; }
    const LayoutResult& layout() const { return layout_; }
    const std::string& browserPath() const { return externalApps_.browserPath(); }
    const std::array<ExternalApp, ExternalApps::slotCount>& externalApps() const { return externalApps_.apps(); }
    ExternalApps& appRegister() { return externalApps_; }
    // The option menu's items of the registered programs, as the slots stand.
    void refreshAppMenu();
    void MnuApp_Click(int slot);
    void MnuMorlex_Click();
    void MnuWWW_Click();
    void MnuHomePage_Click();
    const std::string& currentProfile() const { return currentProfile_; }

    // Restart from a block: the caret's line, the plan for a line (the
    // program's structure read once while the restart window is open), the
    // plot preview (none ends it) and the output of the confirmed restart.
    std::size_t caretLine();
    RestartScan restartScan(std::size_t line);
    std::optional<std::size_t> findBlock(const std::string& number);
    void restartPreview(std::optional<std::size_t> line, DrawingSurface* picture = nullptr);
    void restartClosed();
    bool sendFromBlock(const RestartPlan& plan, const std::string& preamble, bool tapeRun);

private:
    // The editor's selection while a transfer runs, shown at most every
    // 40 ms (see selectInEditor).
    void showSelection();
    // The whole program's machining time, after each expansion: in the
    // status bar and beside the selection's time.
    void timeProgram();
    void showTimes();
    std::string programTime_;
    std::optional<std::size_t> pendingSelection_;
    std::chrono::steady_clock::time_point lastSelection_{};
    std::optional<ProgramMap> restartMap_;
    void placeAreas();
    // Expands and plots anew, also when nothing seems to have changed: the
    // view is fitted to the whole path again.
    void redraw();
    void releaseMoveAndZoom();
    void replayEnded();
    void openFromCommandLine(std::string path);
    void showRecent();
    std::vector<std::string> recent_;
    int widthWithGraphics_ = 0; // the window's width before graphics was turned off

    ProcessState& state_;
    FileSystem& fs_;
    const TextCodec& codec_;
    UiServices& ui_;
    SystemFolders folders_;
    MainView& view_;
    TextEditor& editor_;
    SubprogramStore store_;
    Graphics graphics_;
    Document document_;
    TextCommands textCommands_;
    LineMonitor monitor_; // before the transfers that report to it
    Transfers transfers_;
    PlotTools plotTools_;
    std::vector<LineFeed> feeds_; // by line, of the text last expanded while the length window is open
    bool lengthOpen_ = false;
    void readFeeds();

    ExternalApps externalApps_;
    std::string currentProfile_;
    bool exitSubDel_ = false;
    bool graphicsOn_ = true;
    bool askOnClose_ = true;
    std::string stopShown_; // the expansion's ending last shown in status panel 1
    bool g90_ = true; // check marks of MnuG90 and MnuG91, kept complementary
    bool commBox_ = true;
    bool panelRight_ = true; // the communication panel's side beside the plot (Cmd)
    // Whether files can be made in the data folder; when not, the user is told
    // once at start and the store is left alone.
    bool dataWritable_ = true;
    bool started_ = false;
    std::vector<std::string> startMessages_;
    LayoutResult layout_;
    // Storing a file's programs expands and plots it, and the open command then
    // does so again: the second time is skipped when nothing it reads has changed.
    struct Expanded {
        bool valid = false;
        short coordMode = 0;
        int width = 0, height = 0;
    } expanded_;
};

// Shown once at start when the data folder cannot be written.
std::string dataFolderMessage(const std::string& folder);

} // namespace tarvex
