#pragma once
#include "platform/Error.h"
#include "platform/SerialPort.h"
#include "serial/DeviceProfile.h"
#include "serial/LineMonitor.h"
#include "program/Restart.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
    virtual bool panelEnabled(PanelControl control) const = 0;
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
    // Received text as it reaches the document, in pieces of whole lines as
    // they complete (the unfinished last one at the end): cp932 bytes with
    // CR LF line ends. For a caller that keeps it as it arrives.
    virtual void receivedText(std::string_view) {}
    // An input ended before its program did: why it ended (the status text,
    // may be empty) and the message that says what was kept.
    virtual void inputCutShort(const std::string& /*why*/, const std::string& /*message*/) {}
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

    // Whether a transfer runs: while one does, no other starts.
    bool running() const { return running_; }

    // How the last input ended. complete: its end code came (without an end
    // code in the profile, its closing "%"), and every byte passed its check.
    struct InputEnd {
        std::size_t bytes = 0; // what arrived, as kept (cp932, CR LF)
        bool complete = false;
        bool dataFault = false; // a byte failed its parity or framing check
    };
    const InputEnd& lastInput() const { return lastInput_; }

    // An output's text read as it goes out, instead of the editor's: next
    // gives the following piece of UTF-8 text (whole characters, never a CR
    // apart from its LF), empty at the end; bytes is its length in the file.
    struct TextPieces {
        std::function<Error(std::string& piece)> next;
        std::uint64_t bytes = 0;
    };
    std::optional<TextPieces> pieces;
    // A service keeps its port open from one transfer to the next while the
    // line is sound: reopening drops what came meanwhile, such as the start
    // code of a program sent straight after another.
    bool holdPortOpen = false;
    // Why the port of the last transfer could not be opened (the window
    // says only that the settings are wrong): the device's own words.
    const Error& openError() const { return openError_; }
    // The characters the running controller input has taken so far.
    long long inputCount() const { return counted_; }

    // The controller output (or the tape run) of a restart in the middle:
    // this text goes out instead of the editor's. False when a transfer runs.
    bool sendFrom(RestartSend send, bool tapeRun);

    bool ScrollFollow = false;
    // One yield of the waits that the transfers count in yields: the speed
    // slider means the same on every machine.
    std::chrono::microseconds yieldTime{100};
    // The pause before the controller output sends its end code.
    std::chrono::milliseconds endPause{2000};
    // A device that replaces the profile's port (the command line's --device).
    std::string deviceOverride;
    // How often the caption follows the progress at most.
    std::chrono::milliseconds progressInterval{50};
    // Where the transfers report what happens on the line; none when null.
    LineMonitor* monitor = nullptr;
    // A service's rule that a program punched goes before one asked for: a
    // byte that reaches the controller output while it waits for its start
    // code, and for which this holds, ends the output unsent and leaves the
    // port open; the controller input that follows takes the byte as its
    // start code and reads on from the same port.
    std::function<bool(std::uint8_t)> givesWay;
    // How long a wait for a start code sleeps at most while nothing comes (a
    // byte, a line event or wake() ends it early): a service with many idle
    // lines lets them sleep longer.
    std::chrono::milliseconds quietStep{50};
    bool gaveWay() const { return gaveWay_; }
    // The caller read the next program's start code off the port: the
    // controller input that follows reads on without waiting for it.
    void startCodeTaken() { startTaken_ = true; }

private:
    struct Failure {
        Error error;
    };
    // The text an output sends, a character at a time: a whole text, or
    // pieces read as they go out (a failed read is the transfer's failure).
    class Outgoing {
    public:
        explicit Outgoing(std::string whole) : buf_(std::move(whole)), done_(true) {}
        explicit Outgoing(const TextPieces& pieces) : pieces_(&pieces) {}
        // The next character, a line end as '\n', and its length in the text.
        bool next(char32_t& c, std::size_t& length);
        const std::string& whole() const { return buf_; }

    private:
        std::string buf_;
        std::size_t pos_ = 0;
        const TextPieces* pieces_ = nullptr;
        bool done_ = false;
    };
    // One transfer from its button to its end: marks it running and, at the
    // end, lets the next one start.
    struct Session {
        // title and output: what the monitor calls the transfer and which
        // side's codes the bytes it reads are.
        Session(Transfers& t, const char* title, bool output) : t_(t)
        {
            t_.running_ = true;
            t_.title_ = title;
            t_.outputSide_ = output;
            t_.dataSeen_ = false;
            t_.ignored_ = 0;
            const auto& codes = output ? t_.c_.profile.outCodes : t_.c_.profile.inCodes;
            for (std::size_t k = 0; k < 4; ++k)
                t_.codes_[k] = controlCode(codes[k]);
        }
        ~Session()
        {
            t_.running_ = false;
            if (t_.monitor)
                t_.monitor->end(t_.c_.status.StatusText);
        }
        Transfers& t_;
    };
    short& state() { return c_.status.TransferState; }

    // The port frame (TransferFrame.cpp).
    bool openPort(SerialPort& port, bool receiveEvents);
    void lock(std::initializer_list<PanelControl> own);
    void unlock(std::initializer_list<PanelControl> own);
    void fail(const Failure& f);
    void progress(const std::string& caption, bool force = false);

    // Waiting and the line (TransferLine.cpp).
    void waitFor(std::chrono::nanoseconds time);
    void yield() { waitFor(std::chrono::nanoseconds(0)); }
    void slowDown(long yields);
    void idle(std::chrono::nanoseconds atMost = std::chrono::milliseconds(50));
    void dispatch();
    bool startCode(unsigned char code, bool (*ends)(short state));
    std::optional<std::uint8_t> pauseByte(bool reading);
    std::optional<std::uint8_t> read();
    void writePaced(std::uint8_t b);
    void sendByte(std::uint8_t b);
    // A control code of the profile, named for the monitor by its role.
    void sendCode(std::uint8_t b, const char* role);
    void sendNow(std::uint8_t b, const char* role);
    // The monitor's view of a received stop code: what the port wrote after
    // it came in, and what the device still holds.
    void stopArrived();
    // After a hold: the output goes on (running again) or what waits is
    // dropped (a cancel, an end code) so that only the end sequence follows.
    void holdOver();
    void drainWatching(const std::function<void()>& watch);
    void monitorEvent(const std::string& text)
    {
        if (monitor)
            monitor->event(text);
    }
    // Whether a byte read is the code: sameCode, but among the data of an
    // ASCII input exactly (a byte above 127 is half of a cp932 character).
    bool isCode(std::optional<std::uint8_t> code, std::uint8_t b) const
    {
        return outputSide_ ? sameCode(code, b) : inputCode(c_.profile, code, b);
    }
    // A byte of the partner that steers nothing: counted, said the first time.
    void ignored(std::uint8_t b);
    void sendChar(char32_t c);
    void sendLineEnd();
    std::optional<char> receive(std::uint8_t b) const;
    void partnerStops(std::optional<unsigned char> stop, const std::string& stopMessage, bool tapeRun);

    // The outputs and the tape run (TransferOutputs.cpp).
    void pause();
    void sendText(const std::string& stopMessage, int feedsPerSpace, bool tapeRun);
    void endCodeReceived();
    void outputEnd(std::initializer_list<PanelControl> own);

    // The inputs (TransferInputs.cpp).
    bool timedOut(std::chrono::duration<double> timeout, long long counter,
                  std::chrono::steady_clock::time_point last) const;
    void idleUntil(std::chrono::duration<double> timeout, long long counter,
                   std::chrono::steady_clock::time_point last);
    void holdBack(std::size_t stopAbove, std::optional<unsigned char> stop, std::optional<unsigned char> request,
                  bool& stopped);
    void drain(const std::function<bool(std::uint8_t)>& take, std::size_t most = SIZE_MAX);
    // A received data byte that fails its parity or framing check ends the
    // input, with where it stood: false then.
    bool byteSound(std::uint8_t b);
    void placeLineEnd() { ++rxLine_, rxColumn_ = 0; }
    void finishInput(std::size_t bytes, bool complete);
    // The end of a transfer on its port: closed, or kept open for a service.
    void releasePort();
    void keepReceived(const std::string& received);
    std::string receiveInto(const std::string& before, const std::string& received) const;
    enum class Byte { Taken, EndCode, Fault };
    Byte controllerByte(std::uint8_t b, std::string& received);

    // The text an output sends and the editor offset of a sent character.
    std::string outgoingText() const;
    std::size_t editorOffset(std::size_t sent) const;

    Context c_;
    bool running_ = false;
    bool gaveWay_ = false, reuseOpen_ = false, startTaken_ = false;
    const char* title_ = "";
    bool outputSide_ = true, dataSeen_ = false;
    long long ignored_ = 0; // bytes of the partner that were no code, in this transfer
    // The side's start, request, stop and end codes as bytes, for the monitor.
    std::array<std::optional<std::uint8_t>, 4> codes_{};
    std::optional<RestartSend> restart_;
    SerialPort* port_ = nullptr; // the port of the running transfer
    // The start buttons that a transfer locks besides its own, as they were.
    std::vector<std::pair<PanelControl, bool>> others_;
    std::chrono::steady_clock::time_point lastPump_{};
    std::chrono::steady_clock::time_point lastProgress_{};
    std::string pendingProgress_;
    // The controller input's counter of received characters and the line arriving.
    long long counted_ = 0;
    // Where the next received character stands: line from 1, characters before it.
    long rxLine_ = 1, rxColumn_ = 0;
    InputEnd lastInput_;
    Error openError_;
    bool lineFault_ = false; // a parity or framing event during the transfer
    // The device and settings the port was last opened with.
    std::string openDevice_;
    LineSettings openLine_;
    // How much of the received text has been handed on as it arrived.
    std::size_t kept_ = 0;
    bool failureShown_ = false;
    std::chrono::nanoseconds lineCharacterTime_{0};
    std::string line_;
    std::chrono::steady_clock::time_point lastLabel_{};
};

} // namespace tarvex
