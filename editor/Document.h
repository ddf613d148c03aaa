#pragma once
#include "platform/Error.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvex {

class FileSystem;
class TextCodec;
class TextEditor;
struct UiServices;

// What the program document needs of the main window.
class DocumentHost {
public:
    virtual ~DocumentHost() = default;
    virtual void setCaption(const std::string& caption) = 0;
    // Hands a file just opened or appended, as read, to the subprogram store.
    virtual void LoadSub(const std::string& path, std::string_view bytes) = 0;
    virtual const std::string& documentPath() const = 0;
    virtual bool graphicsMode() const = 0;
    // Expands the program and plots it (WirFmt, then GrSub).
    virtual void expandAndPlot() = 0;
    virtual void setAppendLoadEnabled(bool enabled) = 0;
    // Empties status panel 1 and Label2 and erases the plot.
    virtual void clearViews() = 0;
};

inline constexpr const char* allFilesFilter = "全てのﾌｧｲﾙ(*.*)|*.*";

// Caption after opening or appending by menu (an ideographic space before "[").
std::string menuCaption(const std::string& fileTitle);

// The one program document: the editor's text and the file commands on it.
class Document {
public:
    Document(TextEditor& editor, FileSystem& fs, const TextCodec& codec, UiServices& ui,
             std::string progDir, DocumentHost& host);

    void fileload_Click();      // open
    // A program chosen and read, for opening or comparing; none when the
    // choice was cancelled or the file cannot be read (said so).
    struct Chosen {
        std::string path, bytes, utf8;
    };
    std::optional<Chosen> chooseProgram(const std::string& title);
    void MnuAppendLoad_Click(); // append
    void MnuSave_Click();       // save with CR LF line ends
    // The save; false when it was cancelled or failed (and said so).
    bool save();
    void clea_Click();          // clear
    // Files dropped onto the editor: the first one is opened.
    void dropFiles(const std::vector<std::string>& paths);

    // Loads a file into the editor as plain text, replacing its content;
    // bytes gets the file as read.
    Error load(const std::string& path, std::string& bytes);
    Error editorText(std::string_view bytes, std::string& utf8) const;

private:
    void showOpenError(const Error& e);
    // A text that is, as it stands, in a file (or, empty, in none).
    void setOpenedText(std::string_view utf8);

    TextEditor& editor_;
    FileSystem& fs_;
    const TextCodec& codec_;
    UiServices& ui_;
    std::string progDir_;
    DocumentHost& host_;
};

} // namespace tarvex
