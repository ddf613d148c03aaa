#pragma once
#include "platform/Error.h"
#include "serial/DeviceProfile.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

class EventLoop;
class FileSystem;
class MessageBox;
class SerialPort;
class SettingsStore;
class TextCodec;

// The state of the running transfer, shared with the cancel button and the
// line-event handlers, and the message it leaves for status panel 1.
struct TransferStatus {
    static constexpr short Running = 0, Paused = 1, Ended = 9, Cancelled = 999;
    short TransferState = Running;
    std::string StatusText;
};

enum class PanelControl { Command1, Command2, Command5, Command10, Command11, Command20, Command21, Check1, Slider1 };

// The main window as the transfers see it.
class TransferHost {
public:
    virtual ~TransferHost() = default;
    // Locks (false) or unlocks (true) the window around a transfer.
    virtual void Control(bool enable) = 0;
    virtual void setPanelEnabled(PanelControl control, bool enabled) = 0;
    virtual void setCancelEnabled(bool enabled) = 0;
    virtual void setStatus1(const std::string& text) = 0;
    virtual void setLabel2(const std::string& text) = 0;
    virtual void setCaption(const std::string& caption) = 0;
    // Restores a minimised window and the caption with the document's name.
    virtual void IOEnd() = 0;
    virtual int slider1() const = 0;
    virtual std::string editorText() const = 0;
    virtual void setEditorText(std::string_view utf8) = 0;
    virtual void appendEditorText(std::string_view utf8) = 0;
    // Selects the one character at a character offset of the editor text.
    virtual void selectInEditor(std::size_t offset) = 0;
    virtual void focusEditor() = 0;
    // After a received program is in the editor: expansion and plot in graphics mode.
    virtual void afterInput() = 0;
};

// Where the profile's port number leads: settings section "Ports", keys
// "Com1"…"Com8", /dev/ttyS0…/dev/ttyS7 by default.
std::string portDevice(const SettingsStore& settings, int port);
void setPortDevice(SettingsStore& settings, int port, const std::string& device);

// The transfers of programs over the serial line: outputs to a controller and
// a puncher, the tape run, and inputs from a controller, a puncher and an
// inspection device, with the port setup, the line-event handlers and the
// cancel button they share.
class Transfers {
public:
    struct Context {
        DeviceProfile& profile;
        TransferStatus& status;
        SettingsStore& settings;
        SerialPort& MSComm1;
        SerialPort& MSComm2;
        TransferHost& host;
        EventLoop& events;
        MessageBox& messageBox;
        FileSystem& fs;
        const TextCodec& codec;
        std::string progDir;
    };
    explicit Transfers(Context context);

    bool ComSet();
    void Command1_Click();  // controller output
    void Command10_Click(); // puncher output
    void Command11_Click(); // tape run
    void Command2_Click();  // controller input
    void Command20_Click(); // puncher input
    void Command21_Click(); // inspection input
    void CommandCancel_Click();
    void Check1_Click(bool ticked);
    void MSComm1_OnComm(int event);
    void MSComm2_OnComm(int event);

    bool ScrollFollow = false;
    // One yield of the waits that the transfers count in yields: the speed
    // slider means the same on every machine.
    std::chrono::microseconds yieldTime{100};
    // The pause before the controller output sends its end code.
    std::chrono::milliseconds endPause{2000};
    // A device that replaces the profile's port (the command line's --device).
    std::string deviceOverride;

private:
    struct Failure {
        Error error;
    };
    short& state() { return c_.status.TransferState; }
    std::string work(const char* name) const;
    bool openPort(SerialPort& port, bool receiveEvents);
    bool startCode(unsigned char code, bool (*ends)(short state));
    bool timedOut(std::chrono::duration<double> timeout, long long counter,
                  std::chrono::steady_clock::time_point last) const;
    void idleUntil(std::chrono::duration<double> timeout, long long counter,
                   std::chrono::steady_clock::time_point last);
    void holdBack(std::size_t stopAbove, std::optional<unsigned char> stop, std::optional<unsigned char> request,
                  bool& stopped);
    void waitFor(std::chrono::nanoseconds time);
    void slowDown(long yields);
    void yield() { waitFor(std::chrono::nanoseconds(0)); }
    void idle(std::chrono::nanoseconds atMost = std::chrono::milliseconds(50));
    void dispatch();
    std::optional<std::uint8_t> read();
    void sendByte(std::uint8_t b);
    void sendChar(char32_t c);
    std::optional<char> receive(std::uint8_t b) const;
    bool stopCodeWaiting(std::optional<unsigned char> stop);
    void pause();
    void fail(const Failure& f);
    void progress(const std::string& caption, bool force = false);
    void sendText(const std::string& stopMessage, int feedsPerSpace);
    void lock(std::initializer_list<PanelControl> own);
    void unlock(std::initializer_list<PanelControl> own);
    void outputEnd(std::initializer_list<PanelControl> own);
    std::string receiveInto(std::string received) const;
    bool controllerByte(std::uint8_t b, std::string& received);

    Context c_;
    SerialPort* port_ = nullptr; // the port of the running transfer
    std::chrono::steady_clock::time_point lastPump_{};
    std::chrono::steady_clock::time_point lastProgress_{};
    std::string pendingProgress_;
    // The controller input's counter of received characters and the line arriving.
    long long counted_ = 0;
    bool failureShown_ = false;
    std::chrono::nanoseconds lineCharacterTime_{0};
    std::string line_;
    std::chrono::steady_clock::time_point lastLabel_{};
};

} // namespace tarvex
