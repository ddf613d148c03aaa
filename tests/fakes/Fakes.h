#pragma once
// In-memory stand-ins for the platform, for the logic tests.
#include "app/MainView.h"
#include "platform/DrawingSurface.h"
#include "platform/FileSystem.h"
#include "platform/SerialPort.h"
#include "platform/SettingsStore.h"
#include "platform/TextEditor.h"
#include "platform/UiServices.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <string>
#include <vector>

namespace tarvex::fakes {

class MemorySettings final : public SettingsStore {
public:
    std::map<std::string, std::string> values; // "section/key" -> text
    std::string read(std::string_view section, std::string_view key, std::string_view fallback) const override
    {
        auto it = values.find(std::string(section) + "/" + std::string(key));
        return it == values.end() ? std::string(fallback) : it->second;
    }
    void write(std::string_view section, std::string_view key, std::string_view value) override
    {
        values[std::string(section) + "/" + std::string(key)] = std::string(value);
    }
    bool has(const std::string& key) const { return values.count("Tarvex/" + key) != 0; }
    std::string get(const std::string& key) const { return values.at("Tarvex/" + key); }
};

// Files by full path; folders are the paths in `folders`. Paths use "/".
class MemoryFileSystem final : public FileSystem {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> folders{"/"};
    std::set<std::string> failWrite, failRemove; // paths whose write or removal fails
    std::set<std::string> readOnly;              // folders in which nothing can be made
    std::string current;

    static std::string strip(const std::string& p)
    {
        return p.size() > 1 && p.back() == '/' ? p.substr(0, p.size() - 1) : p;
    }
    static std::string parent(const std::string& p)
    {
        auto cut = strip(p).find_last_of('/');
        return cut == 0 ? "/" : strip(p).substr(0, cut);
    }

    std::optional<std::vector<std::string>> list(const std::string& folder) const override
    {
        if (!folders.count(strip(folder)))
            return std::nullopt;
        std::vector<std::string> names;
        for (const auto& [path, bytes] : files)
            if (parent(path) == strip(folder))
                names.push_back(path.substr(path.find_last_of('/') + 1));
        std::sort(names.begin(), names.end());
        return names;
    }
    bool isFolder(const std::string& p) const override { return folders.count(strip(p)) != 0; }
    bool exists(const std::string& p) const override { return files.count(p) || isFolder(p); }
    Error makeFolder(const std::string& p) override
    {
        if (!folders.count(parent(p)))
            return fileError(ENOENT);
        if (readOnly.count(parent(p)))
            return fileError(EACCES);
        folders.insert(strip(p));
        return {};
    }
    bool canWrite(const std::string& folder) override { return isFolder(folder) && !readOnly.count(strip(folder)); }
    Error removeFile(const std::string& p) override
    {
        if (failRemove.count(p))
            return fileError(EACCES);
        return files.erase(p) ? Error{} : fileError(ENOENT);
    }
    mutable int reads = 0;
    Error readFile(const std::string& p, std::string& bytes, std::uint64_t limit = noLimit) const override
    {
        ++reads;
        auto it = files.find(p);
        if (it == files.end())
            return fileError(ENOENT);
        if (it->second.size() > limit)
            return tooLargeError();
        bytes = it->second;
        return {};
    }
    Error writeFile(const std::string& p, std::string_view bytes, bool = true) override
    {
        if (failWrite.count(p))
            return fileError(ENOSPC);
        if (!folders.count(parent(p)))
            return fileError(ENOENT);
        if (readOnly.count(parent(p)))
            return fileError(EACCES);
        files[p] = std::string(bytes);
        return {};
    }
    Error appendFile(const std::string& p, std::string_view bytes) override
    {
        if (failWrite.count(p))
            return fileError(ENOSPC);
        if (!folders.count(parent(p)))
            return fileError(ENOENT);
        if (!bytes.empty())
            files[p] += std::string(bytes);
        return {};
    }
    Error setCurrentFolder(const std::string& p) override
    {
        current = p;
        return {};
    }

    class Writer final : public FileWriter {
    public:
        Writer(MemoryFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
        Error write(std::string_view b) override
        {
            bytes_.append(b);
            return {};
        }
        Error commit() override { return fs_.writeFile(path_, bytes_); }

    private:
        MemoryFileSystem& fs_;
        std::string path_, bytes_;
    };
    class Reader final : public FileReader {
    public:
        explicit Reader(std::string bytes) : bytes_(std::move(bytes)) {}
        Error read(std::size_t max, std::string& out) override
        {
            out.append(bytes_.substr(pos_, max));
            pos_ = std::min(bytes_.size(), pos_ + max);
            return {};
        }

    private:
        std::string bytes_;
        std::size_t pos_ = 0;
    };
    std::unique_ptr<FileWriter> createFile(const std::string& p, bool, Error& error) override
    {
        error = {};
        return std::make_unique<Writer>(*this, p);
    }
    std::unique_ptr<FileReader> openFile(const std::string& p, Error& error) const override
    {
        std::string bytes;
        error = readFile(p, bytes);
        return error ? nullptr : std::make_unique<Reader>(bytes);
    }
};

struct ShownBox {
    std::string text, title;
    MsgIcon icon;
};

class FakeMessageBox final : public MessageBox {
public:
    std::vector<ShownBox> shown;
    MsgAnswer answer = MsgAnswer::Ok;
    std::function<void()> onShow; // lets a test look at the world while the box is up
    MsgAnswer show(const std::string& text, const std::string& title, MsgIcon icon, MsgButtons) override
    {
        shown.push_back({text, title, icon});
        if (onShow)
            onShow();
        return answer;
    }
};

// Answers each use with the next scripted outcome; records what it was asked.
class FakeChooser final : public FileChooser {
public:
    struct Answer {
        Outcome outcome;
        std::string path;
    };
    std::deque<Answer> answers;
    struct Asked {
        bool save;
        std::string title, filter, proposed, defaultExt;
    };
    std::vector<Asked> asked;
    Outcome showOpen() override { return next(false); }
    Outcome showSave() override { return next(true); }

private:
    Outcome next(bool save)
    {
        asked.push_back({save, title, filter, fileName, defaultExt});
        Answer a = answers.empty() ? Answer{Outcome::Cancelled, {}} : answers.front();
        if (!answers.empty())
            answers.pop_front();
        if (a.outcome == Outcome::Chosen)
            fileName = a.path;
        if (a.outcome == Outcome::Failed)
            error = {32755, "failed"};
        return a.outcome;
    }
};

class FakeFontChooser final : public FontChooser {
public:
    std::optional<FontSpec> answer;
    std::vector<FontSpec> presets;
    std::optional<FontSpec> choose(const FontSpec& preset) override
    {
        presets.push_back(preset);
        return answer;
    }
};

// Answers with the scripted colour (nullopt: cancelled); records where it started.
class FakeColourChooser final : public ColourChooser {
public:
    std::optional<std::uint32_t> answer;
    std::vector<std::uint32_t> initials;
    std::optional<std::uint32_t> choose(std::uint32_t initial) override
    {
        initials.push_back(initial);
        return answer;
    }
};

// Returns the scripted text, or the preset when there is none.
class FakeInputBox final : public InputBox {
public:
    std::optional<std::string> answer;
    std::vector<std::string> presets;
    std::string ask(const std::string& preset) override
    {
        presets.push_back(preset);
        return answer ? *answer : preset;
    }
};

// Records what it was asked to start; answers with the scripted error.
class FakeLauncher final : public ProcessLauncher {
public:
    struct Started {
        std::string program;
        std::vector<std::string> arguments;
        std::string folder;
        bool maximised;
    };
    std::vector<Started> started;
    Error answer;
    Error start(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder,
                bool maximised) override
    {
        started.push_back({program, arguments, folder, maximised});
        return answer;
    }
};

class FakeEvents final : public EventLoop {
public:
    int yields = 0;
    std::chrono::microseconds waited{0};
    std::function<void()> onWait;
    void yield() override { ++yields; }
    void wake() override {}
    void wait(std::chrono::microseconds t) override
    {
        waited += t;
        if (onWait)
            onWait();
    }
    void setBusy(bool) override {}
};

class FakeEditor final : public TextEditor {
public:
    std::string content;
    bool readOnly = false;
    FontSpec font;
    std::size_t start = 0, length = 0;
    bool raised = false;
    std::size_t memory = std::size_t(-1); // the largest text it can hold
    std::string text() const override { return content; }
    bool canHold(std::size_t bytes) const override { return bytes <= memory; }
    std::string_view textView() override { return content; }
    void setText(std::string_view t) override
    {
        content = std::string(t);
        start = length = 0;
    }
    void appendText(std::string_view t) override { content += t; }
    void setReadOnly(bool r) override { readOnly = r; }
    void setFont(const FontSpec& f) override { font = f; }
    FontSpec currentFont() const override { return font; }
    std::size_t selStart() const override { return start; }
    std::size_t selLength() const override { return length; }
    void setSelection(std::size_t s, std::size_t l) override
    {
        start = s;
        length = l;
    }
    void raise() override { raised = true; }
    void setWordColours(const std::vector<std::uint32_t>& rgb) override { wordColours = rgb; }
    std::vector<std::uint32_t> wordColours;
    std::size_t byteStart = 0, byteLength = 0;
    std::vector<std::string> undo; // the texts replaced by replaceText, newest last
    std::size_t caretByte() const override { return byteStart; }
    void selectBytes(std::size_t s, std::size_t l) override
    {
        byteStart = s;
        byteLength = l;
    }
    void replaceText(std::string_view t) override
    {
        undo.push_back(content);
        content = std::string(t);
    }
    bool changed = false; // set by a test that edits
    void markUnmodified() override { changed = false; }
    bool modified() const override { return changed; }
};

// A serial port whose partner is the test: bytes to receive are queued in
// incoming, bytes sent collect in written.
class FakeSerialPort final : public SerialPort {
public:
    bool opened = false;
    std::string device;
    LineSettings line;
    bool receiveEvents = false;
    Error openError;
    std::deque<std::uint8_t> incoming;
    std::string written;
    // Written bytes go out together at each flush, as a real port gathers
    // them: each piece with the count of bytes that were waiting to be read.
    std::vector<std::pair<std::string, std::size_t>> flushes;
    std::function<void()> onPoll; // at every look at the receive buffer
    std::vector<int> events;
    bool cts = true, dsr = true, cd = true;
    Error failed;
    std::function<void(std::uint8_t)> onWrite; // the partner reacting to a byte

    Error open(const std::string& d, const LineSettings& l, bool r) override
    {
        if (openError)
            return openError;
        opened = true, device = d, line = l, receiveEvents = r;
        return {};
    }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    std::size_t InBufferCount() const override
    {
        if (onPoll)
            onPoll();
        return incoming.size();
    }
    std::optional<std::uint8_t> readByte() override
    {
        if (incoming.empty())
            return std::nullopt;
        std::uint8_t b = incoming.front();
        incoming.pop_front();
        const auto marked = byteErrors.find(bytesRead++);
        lastError_ = marked == byteErrors.end() ? 0 : marked->second;
        if (lastError_)
            events.push_back(lastError_); // after the byte, as a driver's mark comes
        return b;
    }
    int byteError() const override { return lastError_; }
    // The driver's line errors: the number of a byte read (from 0), and its error.
    std::map<std::size_t, int> byteErrors;
    std::size_t bytesRead = 0;
    std::chrono::nanoseconds writeDelay() override { return std::chrono::nanoseconds(0); }
    Error writeByte(std::uint8_t b) override
    {
        if (failed)
            return failed;
        written += static_cast<char>(b);
        unflushed_ += static_cast<char>(b);
        if (unflushed_.size() >= 4)
            flush();
        if (onWrite)
            onWrite(b);
        return {};
    }
    void drainOutput(std::chrono::milliseconds) override { flush(); }
    void flush() override
    {
        if (!unflushed_.empty())
            flushes.emplace_back(std::exchange(unflushed_, {}), incoming.size());
    }
    bool CTSHolding() const override { return cts; }
    bool DSRHolding() const override { return dsr; }
    bool CDHolding() const override { return cd; }
    void setRTSEnable(bool) override {}
    std::vector<int> takeEvents() override { return std::exchange(events, {}); }
    Error failure() const override { return failed; }
    void receive(std::string_view bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }

private:
    std::string unflushed_;
    int lastError_ = 0;
};

// A drawing surface that records every call as a line of text, e.g.
// "line 0 0 10 0 c=255 w=1 dotted".
class RecordingSurface final : public DrawingSurface {
public:
    int w = 200, h = 100;
    std::vector<std::string> calls;
    float left = 0, top = 0, right = 0, bottom = 0;

    int width() const override { return w; }
    int height() const override { return h; }
    void setUserCoordinates(float l, float t, float r, float b) override
    {
        left = l, top = t, right = r, bottom = b;
        calls.push_back("coords " + num(l) + " " + num(t) + " " + num(r) + " " + num(b));
    }
    void clear() override { calls.push_back("clear"); }
    void setPenStyle(PenStyle s) override { style_ = s; }
    void setPenWidth(int px) override { width_ = px; }
    void dot(float x, float y, std::uint32_t c) override { calls.push_back("dot " + num(x) + " " + num(y) + pen(c)); }
    void line(float x1, float y1, float x2, float y2, std::uint32_t c) override
    {
        calls.push_back("line " + num(x1) + " " + num(y1) + " " + num(x2) + " " + num(y2) + pen(c));
    }
    void arc(float cx, float cy, float r, std::uint32_t c, float a1, float a2) override
    {
        calls.push_back("arc " + num(cx) + " " + num(cy) + " " + num(r) + " " + num(a1) + " " + num(a2) + pen(c));
    }
    void present() override { calls.push_back("present"); }
    // The drawing calls only (no coordinates, clearing or presenting).
    std::vector<std::string> drawn() const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c.rfind("dot", 0) == 0 || c.rfind("line", 0) == 0 || c.rfind("arc", 0) == 0)
                out.push_back(c);
        return out;
    }
    static std::string num(float v)
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(v));
        return buf;
    }

private:
    std::string pen(std::uint32_t c) const
    {
        return " c=" + std::to_string(c) + " w=" + std::to_string(width_) + (style_ == PenStyle::Dotted ? " dotted" : "");
    }
    PenStyle style_ = PenStyle::Solid;
    int width_ = 1;
};

// The main window: keeps what it is told; sizes as a window of the given outer
// size whose client area is 120 twips narrower and 900 lower (frame and menu).
class FakeMainView final : public MainView {
public:
    std::map<Menu, bool> checked, enabled;
    std::map<Menu, std::pair<std::string, bool>> captions;
    std::string caption;
    std::string status[4];
    int screenW = 28800, screenH = 16200;
    Rect window;
    bool minimized = false;
    std::map<Area, std::pair<Rect, bool>> placed;
    std::vector<std::string> profiles;
    int profileSelected = -2;
    std::string profileTextValue;
    int slider = -1;
    std::string label2 = "x";
    int erased = 0;
    bool shown = false;
    std::vector<std::string> events; // order of notable calls

    void setMenuChecked(Menu m, bool c) override { checked[m] = c; }
    void setMenuEnabled(Menu m, bool e) override
    {
        enabled[m] = e;
        if (m == Menu::MnuAppendLoad)
            events.push_back(e ? "appendload on" : "appendload off");
    }
    void setMenuCaption(Menu m, const std::string& c, bool v) override { captions[m] = {c, v}; }
    void setCaption(const std::string& c) override
    {
        caption = c;
        events.push_back("caption");
    }
    void setStatusText(int panel, const std::string& t) override { status[panel] = t; }
    std::string statusText(int panel) const override { return status[panel]; }
    std::vector<std::string> painted; // status panel 1 at each immediate repaint
    void repaintStatus() override { painted.push_back(status[1]); }
    std::map<ToolKey, bool> toolButtons;
    bool toolbarEnabled = true, lengthWindow = false, colourWindow = false;
    PlotCursor cursor = PlotCursor::Default;
    std::string lengthReport;
    void setToolButton(ToolKey k, bool p) override { toolButtons[k] = p; }
    void setToolbarEnabled(bool e) override { toolbarEnabled = e; }
    void setPlotCursor(PlotCursor c) override { cursor = c; }
    void openLengthWindow(bool open) override { lengthWindow = open; }
    void openColourWindow(bool open) override { colourWindow = open; }
    void setLengthReport(const std::string& t) override { lengthReport = t; }
    void setTimeReport(const std::string& t) override { timeReport = t; }
    std::string timeReport;
    int screenWidth() const override { return screenW; }
    int screenHeight() const override { return screenH; }
    Rect windowRect() const override { return window; }
    void setWindowRect(const Rect& r) override { window = r; }
    int innerWidth() const override { return window.width - 120; }
    int innerHeight() const override { return window.height - 900; }
    int statusBarHeight() const override { return 300; }
    bool isMinimized() const override { return minimized; }
    bool maximized = false;
    bool isMaximized() const override { return maximized; }
    void restoreWindow() override { minimized = maximized = false; }
    void place(Area a, const Rect& r, bool v) override { placed[a] = {r, v}; }
    void setProfileList(const std::vector<std::string>& n, int s) override
    {
        profiles = n;
        profileSelected = s;
        profileTextValue = s >= 0 ? n[static_cast<std::size_t>(s)] : "";
    }
    std::string profileText() const override { return profileTextValue; }
    std::optional<PanelArrangement> arrangement;
    int slider1Value = -1;
    bool command5 = true;
    void arrangePanel(const PanelArrangement& a) override { arrangement = a; }
    void setSlider1(int v) override { slider1Value = v; }
    void setCommand5Enabled(bool e) override { command5 = e; }
    std::map<PanelControl, bool> panel;
    bool cancelEnabled = false, profileBox = true, plotEnabled = true;
    void setPanelEnabled(PanelControl c, bool e) override { panel[c] = e; }
    bool panelEnabled(PanelControl c) const override { return !panel.count(c) || panel.at(c); }
    void setCancelEnabled(bool e) override { cancelEnabled = e; }
    void setProfileBoxEnabled(bool e) override { profileBox = e; }
    void setPlotEnabled(bool e) override { plotEnabled = e; }
    int slider1() const override { return slider1Value; }
    void focusEditor() override {}
    void setSlider2(int v) override { slider = v; }
    int slider2() const override { return slider; }
    void setLabel2(const std::string& t) override { label2 = t; }
    void erasePlot() override { ++erased; }
    void replayTimer(std::optional<std::chrono::microseconds> after) override { replayAfter = after; }
    std::optional<std::chrono::microseconds> replayAfter;
    RecordingSurface surface;
    DrawingSurface& plotSurface() override { return surface; }
    void showWindow() override
    {
        shown = true;
        events.push_back("show");
    }
    void showComparison(const std::string& a, const std::string& b, std::unique_ptr<Comparison> c) override
    {
        comparedTitles = {a, b};
        comparison = std::move(c);
    }
    std::pair<std::string, std::string> comparedTitles;
    std::unique_ptr<Comparison> comparison;
};

// The dialogs and the event loop of the user interface, all fake, as the
// logic gets them.
struct FakeUi {
    FakeMessageBox box;
    FakeChooser chooser;
    FakeFontChooser fonts;
    FakeEvents events;
    FakeColourChooser colours;
    FakeInputBox input;
    FakeLauncher launcher;
    UiServices ui{box, chooser, fonts, events, colours, input, launcher};
};

} // namespace tarvex::fakes
