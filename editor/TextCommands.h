#pragma once
#include "editor/TextTools.h"
#include "program/Renumber.h"
#include "platform/Error.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvex {

class FileSystem;
class SettingsStore;
class TextCodec;
class TextEditor;
struct UiServices;

// The text tools of the edit menu on the editor's program: find next and
// replace all (KensakuFrm, HenkanFrm), line replace with its registrations
// (GyoHenkanFrm), the ISO and EIA checks and space deletion. The dialogs call
// these; so does nothing else, and the command line uses TextTools directly.
class TextCommands {
public:
    struct Context {
        TextEditor& editor;
        FileSystem& fs;
        const TextCodec& codec;
        UiServices& ui;
        SettingsStore& settings;
        std::string progDir;
        bool& CharValid;
        // Shows a text in status panel 1 at once, without letting input in.
        std::function<void(const std::string&)> showStatus;
    };
    explicit TextCommands(Context context);

    // Selects the next occurrence after the caret; says so when there is none.
    bool findNext(const std::string& find);
    // The last occurrence that starts before the caret; says so when there is none.
    bool findPrevious(const std::string& find);
    // The last text looked for, again (F3, Shift+F3 backwards); false when
    // nothing was looked for yet.
    bool findAgain(bool backwards = false)
    {
        return !lastFind_.empty() && (backwards ? findPrevious(lastFind_) : findNext(lastFind_));
    }
    // The program's lines, and the caret put at the start of one (from 1; beyond the last: the last).
    std::size_t lineCount();
    void goToLine(std::size_t line);
    const std::string& lastFind() const { return lastFind_; }
    // Every occurrence replaced; the count is shown. -1 when it failed.
    long replaceAll(const std::string& find, const std::string& with);
    // Every line holding match replaced by block ("#": its number). -1 when it failed.
    long lineReplace(const std::string& match, const std::string& block);
    // The blocks numbered anew (or their N words taken away), one undo step;
    // the count is shown. -1 when the program cannot be renumbered (said why).
    long renumber(const RenumberOptions& options);

    // The registrations of line replace, in listing order (the folder is
    // made when missing), and the one last used.
    std::vector<std::string> registrations();
    std::string lastRegistration() const;
    void rememberRegistration(const std::string& name);
    // nullopt (after the message) when it cannot be read.
    std::optional<Registration> loadRegistration(const std::string& name);
    // false (after a message) when the name is refused or the file cannot be written.
    bool registerAs(const std::string& name, const Registration& r);
    // Asks first; true when it was deleted.
    bool deleteRegistration(const std::string& name);

    void MnuISOCheck_Click() { check(TapeCode::Iso); }
    void MnuEIACheck_Click() { check(TapeCode::Eia); }
    void MnuSpDel_Click();

private:
    void check(TapeCode code);
    // The result of a change of the whole text into the editor, as one undo step.
    void rewrite(const std::function<std::string(const std::string&)>& change);
    std::string folder() const;

    Context c_;
    std::string lastFind_;
};

} // namespace tarvex
