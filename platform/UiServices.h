#pragma once
#include "platform/Error.h"
#include "platform/ProcessLauncher.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvex {

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// Modal message boxes. An empty title shows the application title "Tarvex".
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual MsgAnswer show(const std::string& text, const std::string& title = {},
                           MsgIcon icon = MsgIcon::None, MsgButtons buttons = MsgButtons::Ok) = 0;
};

// The open/save chooser. One object is shared by the commands that use it:
// a property that a command does not set keeps its value from the previous use.
class FileChooser {
public:
    enum class Outcome { Chosen, Cancelled, Failed };

    virtual ~FileChooser() = default;

    std::string title;
    // "description|pattern|description|pattern…", e.g. "全てのﾌｧｲﾙ(*.*)|*.*"
    std::string filter;
    // In: the proposed name. Out: the chosen full path.
    std::string fileName;
    std::string defaultExt;
    // Where to look when the proposed name has no folder and nothing was chosen yet.
    std::string initialFolder;
    // Whether a cancel is reported as such (Cancelled) rather than as an empty name.
    bool cancelError = false;
    Error error;

    virtual Outcome showOpen() = 0;
    virtual Outcome showSave() = 0;
};

struct FontSpec {
    std::string name;
    float size = 12;
    bool bold = false;
    bool italic = false;
    bool operator==(const FontSpec&) const = default;
};

class FontChooser {
public:
    virtual ~FontChooser() = default;
    // nullopt when the user cancels.
    virtual std::optional<FontSpec> choose(const FontSpec& preset) = 0;
};

// The colour chooser, opened on a colour (0x00BBGGRR); nullopt when cancelled.
class ColourChooser {
public:
    virtual ~ColourChooser() = default;
    virtual std::optional<std::uint32_t> choose(std::uint32_t initial) = 0;
};

// The one-line data input box: shown modally with the preset text; Enter or
// closing it returns the text as it stands. There is no cancel.
class InputBox {
public:
    virtual ~InputBox() = default;
    virtual std::string ask(const std::string& preset) = 0;
};

// Lets pending window events run, and shows the busy pointer.
class EventLoop {
public:
    virtual ~EventLoop() = default;
    virtual void yield() = 0;
    // Lets window events run for the given time, without using the processor
    // meanwhile; ends early when wake() is called.
    virtual void wait(std::chrono::microseconds time) = 0;
    // Ends the current or the next wait early. May be called from any thread.
    virtual void wake() = 0;
    virtual void setBusy(bool busy) = 0;
};

// The services of the user interface that the logic uses.
struct UiServices {
    MessageBox& messageBox;
    FileChooser& chooser;
    FontChooser& fontChooser;
    EventLoop& events;
    ColourChooser& colourChooser;
    InputBox& inputBox;
    ProcessLauncher& launcher;
};

// "エラー番号 : " + number + LF + description: the common error box text.
std::string errorBoxText(const Error& e);

} // namespace tarvex
