#pragma once
#include <array>
#include <string>
#include <string_view>

namespace tarvex {

class FileSystem;
class SettingsStore;
class TextCodec;
struct UiServices;

struct ExternalApp {
    std::string title; // the executable's file name: the menu caption
    std::string path;
};

// Whether a text is a DXF drawing: some line holds "SECTION", some "LAYER"
// and some "ENDSEC".
bool isDxfDrawing(std::string_view text);
// The copy handed to another program: the lines of the text but the empty
// ones, each ended by CR LF.
std::string handOverCopy(std::string_view text);

// The programs the option menu starts with the current program (ten slotCount,
// kept packed), the NC converter and the web browser.
class ExternalApps {
public:
    static constexpr int slotCount = 10;

    struct Context {
        FileSystem& fs;
        const TextCodec& codec;
        SettingsStore& settings;
        UiServices& ui;
        std::string progDir;
        std::string homePage; // the address the home-page item opens
    };
    explicit ExternalApps(Context context);

    // The slotCount and the browser from the settings.
    void load();
    const std::array<ExternalApp, slotCount>& apps() const { return apps_; }
    int count() const;
    const std::string& browserPath() const { return browser_; }

    // Registers a program in the next free slot; the eleventh is refused with a message.
    bool add(const std::string& path);
    // Removes a slot: the later ones move up, and every slot's settings are rewritten.
    void remove(int slot);

    // Starts the program of a slot with a copy of the text (the editor's).
    void start(int slot, std::string_view text);
    // Starts the NC converter on the text, in its own folder.
    void startConverter(std::string_view text);
    // The browser chooser; the choice is stored and confirmed.
    void chooseBrowser();
    void openHomePage();

    // Where the copies for registered programs are written: a folder of the
    // data folder, which every program of the user can read.
    std::string handOverFolder() const;

private:
    void writeSlot(int slot);

    Context c_;
    std::array<ExternalApp, slotCount> apps_;
    std::string browser_;
};

} // namespace tarvex
