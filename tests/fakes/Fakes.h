#pragma once
// In-memory stand-ins for the platform, for the logic tests.
#include "app/MainView.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "platform/TextEditor.h"
#include "platform/UiServices.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <set>
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
        folders.insert(strip(p));
        return {};
    }
    Error removeFile(const std::string& p) override
    {
        if (failRemove.count(p))
            return fileError(EACCES);
        return files.erase(p) ? Error{} : fileError(ENOENT);
    }
    Error readFile(const std::string& p, std::string& bytes) const override
    {
        auto it = files.find(p);
        if (it == files.end())
            return fileError(ENOENT);
        bytes = it->second;
        return {};
    }
    Error writeFile(const std::string& p, std::string_view bytes) override
    {
        if (failWrite.count(p))
            return fileError(ENOSPC);
        if (!folders.count(parent(p)))
            return fileError(ENOENT);
        files[p] = std::string(bytes);
        return {};
    }
    Error setCurrentFolder(const std::string& p) override
    {
        current = p;
        return {};
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
        std::string title, filter, proposed;
    };
    std::vector<Asked> asked;
    Outcome showOpen() override { return next(false); }
    Outcome showSave() override { return next(true); }

private:
    Outcome next(bool save)
    {
        asked.push_back({save, title, filter, fileName});
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

class FakeEvents final : public EventLoop {
public:
    int yields = 0;
    void yield() override { ++yields; }
    void setBusy(bool) override {}
};

class FakeEditor final : public TextEditor {
public:
    std::string content;
    bool readOnly = false;
    FontSpec font;
    std::size_t start = 0, length = 0;
    bool raised = false;
    std::string text() const override { return content; }
    void setText(std::string_view t) override
    {
        content = std::string(t);
        start = length = 0;
    }
    void setReadOnly(bool r) override { readOnly = r; }
    void setFont(const FontSpec& f) override { font = f; }
    std::size_t selStart() const override { return start; }
    std::size_t selLength() const override { return length; }
    void setSelection(std::size_t s, std::size_t l) override
    {
        start = s;
        length = l;
    }
    void raise() override { raised = true; }
};

// The main window: keeps what it is told; sizes as a window of the given outer
// size whose client area is 120 twips narrower and 900 lower (frame and menu).
class FakeMainView final : public MainView {
public:
    std::map<Menu, bool> checked, enabled;
    std::map<Menu, std::pair<std::string, bool>> captions;
    std::string caption;
    std::string status[3];
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
    int screenWidth() const override { return screenW; }
    int screenHeight() const override { return screenH; }
    Rect windowRect() const override { return window; }
    void setWindowRect(const Rect& r) override { window = r; }
    int innerWidth() const override { return window.width - 120; }
    int innerHeight() const override { return window.height - 900; }
    int statusBarHeight() const override { return 300; }
    bool isMinimized() const override { return minimized; }
    void place(Area a, const Rect& r, bool v) override { placed[a] = {r, v}; }
    void setProfileList(const std::vector<std::string>& n, int s) override
    {
        profiles = n;
        profileSelected = s;
        profileTextValue = s >= 0 ? n[static_cast<std::size_t>(s)] : "";
    }
    std::string profileText() const override { return profileTextValue; }
    void setSlider2(int v) override { slider = v; }
    int slider2() const override { return slider; }
    void setLabel2(const std::string& t) override { label2 = t; }
    void erasePlot() override { ++erased; }
    void showWindow() override
    {
        shown = true;
        events.push_back("show");
    }
};

} // namespace tarvex::fakes
