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
    // A file the document was opened from or saved to (the recent files).
    virtual void remember(const std::string& /*path*/) {}
};

inline constexpr const char* allFilesFilter = "全てのﾌｧｲﾙ(*.*)|*.*";

// The window's caption for a document: " Tarvex　[ NAME ]" (an ideographic
// space before "["), a "*" after the name when the text has changed since it
// was opened or saved; " Tarvex " (" Tarvex *") without a file.
std::string documentCaption(const std::string& fileTitle, bool changed);

// The one program document: the editor's text and the file commands on it.
class Document {
public:
    Document(TextEditor& editor, FileSystem& fs, const TextCodec& codec, UiServices& ui,
             std::string progDir, DocumentHost& host);

    // Asks "変更を保存しますか？" before a changed text is replaced: true
    // when it may go (saved, or not wanted), false when the user cancelled
    // or the save failed.
    bool mayReplace();
    void fileload_Click();      // open
    // A program chosen and read, for opening or comparing; none when the
    // choice was cancelled or the file cannot be read (said so).
    struct Chosen {
        std::string path, bytes, utf8;
    };
    std::optional<Chosen> chooseProgram(const std::string& title);
    void MnuAppendLoad_Click(); // append
    void MnuSave_Click();       // save as, with CR LF line ends
    // Save as: the chooser, then the file; false when it was cancelled or
    // failed (and said so).
    bool save();
    // Save in place: the document's own file, or save as when it has none.
    bool saveInPlace();
    void clea_Click();          // clear, after asking
    // Files dropped onto the editor: the first one is opened.
    void dropFiles(const std::vector<std::string>& paths);
    // Opens a file of the recent files, after asking.
    void openRecent(const std::string& path);

    // Loads a file into the editor as plain text, replacing its content;
    // bytes gets the file as read. The document is that file's from then on.
    Error load(const std::string& path, std::string& bytes);
    // The file the document is saved to in place; empty for none.
    const std::string& path() const { return path_; }
    std::string caption() const;
    Error editorText(std::string_view bytes, std::string& utf8) const;

private:
    void showOpenError(const Error& e);
    void clear();
    bool write(const std::string& path);
    // Opens a file dropped or chosen from the recent files.
    void openFile(const std::string& path, bool dropped);
    // A text that is, as it stands, in a file (or, empty, in none).
    void setOpenedText(std::string_view utf8);

    TextEditor& editor_;
    FileSystem& fs_;
    const TextCodec& codec_;
    UiServices& ui_;
    std::string progDir_;
    DocumentHost& host_;
    std::string path_;
};

} // namespace tarvex
