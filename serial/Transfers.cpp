#include "serial/Transfers.h"
#include "platform/FileSystem.h"
#include "platform/SerialPort.h"
#include "platform/SettingsStore.h"
#include "platform/TextCodec.h"
#include "platform/UiServices.h"
#include "platform/Utf8.h"
#include "serial/TapeCode.h"
#include "toolpath/Numbers.h"

#include <cmath>
#include <thread>

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr short Running = TransferStatus::Running, Paused = TransferStatus::Paused, Ended = TransferStatus::Ended,
                Cancelled = TransferStatus::Cancelled;

// What a line event does: the state it sets (unchanged when keep) and the message.
struct EventRule {
    int event;
    bool keepState;
    short state;
    bool keepText;
    const char* text;
};

// Events 6 and up, the same for both ports.
constexpr EventRule errorRules[] = {
    {comm::EvRing, true, 0, false, "呼び出し信号を検出しました。"},
    {comm::EvEOF, false, Ended, false, "EOF を受信しました。"},
    {comm::ErBreak, false, Ended, false, "ﾌﾞﾚｰｸ信号を検出しました。"},
    {comm::ErCTSTO, false, Ended, false, "CTS ﾀｲﾑｱｳﾄを検出しました。"},
    {comm::ErDSRTO, false, Ended, false, "DSR ﾀｲﾑｱｳﾄを検出しました。"},
    {comm::ErFrame, false, Ended, false, "ﾌﾚｰﾐﾝｸﾞ ｴﾗｰが発生しました。"},
    {comm::ErOverrun, false, Ended, false, "ｵｰﾊﾞｰﾗﾝ ｴﾗｰが発生しました。"},
    {comm::ErCDTO, false, Ended, false, "CD ﾀｲﾑｱｳﾄを検出しました。"},
    {comm::ErRxOver, false, Ended, false, "受信ﾊﾞｯﾌｧがｵｰﾊﾞｰﾌﾛｰしました。"},
    {comm::ErRxParity, false, Ended, false, "ﾊﾟﾘﾃｨ ｴﾗｰが発生しました。"},
    {comm::ErTxFull, false, Ended, false, "送信ﾊﾞｯﾌｧ ﾌﾙ ｴﾗｰが発生しました。"},
    {comm::ErDCB, false, Ended, false, "DCB 取得時にｴﾗｰが発生しました。"},
};
constexpr EventRule unknownRule = {0, false, Ended, false, "未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。"};

void apply(const EventRule& rule, TransferStatus& status)
{
    if (!rule.keepState)
        status.TransferState = rule.state;
    if (!rule.keepText)
        status.StatusText = rule.text;
}

void applyError(int event, TransferStatus& status)
{
    for (const EventRule& rule : errorRules)
        if (rule.event == event)
            return apply(rule, status);
    apply(unknownRule, status);
}

std::string decimal(long long n) { return std::to_string(n); }

} // namespace

std::string portDevice(const SettingsStore& settings, int port)
{
    const std::string key = "Com" + std::to_string(port);
    return settings.read("Ports", key, "/dev/ttyS" + std::to_string(port - 1));
}

void setPortDevice(SettingsStore& settings, int port, const std::string& device)
{
    settings.write("Ports", "Com" + std::to_string(port), device);
}

Transfers::Transfers(Context context) : c_(std::move(context)) {}

std::string Transfers::work(const char* name) const { return joinPath(c_.progDir, name); }

// ---- waiting, the line events, the bytes ----

// Lets the window and the port's line events run. Window events are handed
// to the event loop at least every 2 ms, not at every character: a transfer
// stays responsive without its per-character cost.
void Transfers::waitFor(std::chrono::nanoseconds time)
{
    if (port_ && time > std::chrono::nanoseconds(0))
        port_->flush(); // nothing gathered waits out a pause
    const auto now = Clock::now();
    if (time >= 2ms || now - lastPump_ >= 2ms) {
        c_.events.wait(std::chrono::duration_cast<std::chrono::microseconds>(time));
        lastPump_ = Clock::now();
    } else if (time > 0ns) {
        std::this_thread::sleep_for(time);
    }
    dispatch();
}

// The wait of the speed slider before a character, a count of yields. While
// it is shorter than the time a character takes on the line, the line sets
// the pace and the wait costs nothing.
void Transfers::slowDown(long yields)
{
    const auto wait = yieldTime * yields;
    if (wait > lineCharacterTime_)
        waitFor(wait);
    else
        yield();
}

// Nothing to do until a byte or a line event arrives (or the time is up):
// the process sleeps meanwhile.
void Transfers::idle(std::chrono::nanoseconds atMost)
{
    if (port_)
        port_->flush();
    if (port_ && port_->InBufferCount() == 0 && !port_->failure()) {
        c_.events.wait(std::chrono::duration_cast<std::chrono::microseconds>(atMost));
        lastPump_ = Clock::now();
    }
    dispatch();
}

void Transfers::dispatch()
{
    if (!port_)
        return;
    for (int event : port_->takeEvents()) {
        if (port_ == &c_.MSComm2)
            MSComm2_OnComm(event);
        else
            MSComm1_OnComm(event);
    }
    if (Error e = port_->failure(); e && !failureShown_)
        throw Failure{e};
}

std::optional<std::uint8_t> Transfers::read() { return port_->readByte(); }

// One byte on the line, at the line's pace.
void Transfers::sendByte(std::uint8_t b)
{
    for (auto delay = port_->writeDelay(); delay > 0ns; delay = port_->writeDelay()) {
        waitFor(delay);
        if (state() == Cancelled || state() == Ended)
            break; // the line holds still: do not wait on it for ever
    }
    if (Error e = port_->writeByte(b))
        throw Failure{e};
}

// The send step: the character through the profile's tape code.
void Transfers::sendChar(char32_t c)
{
    bool valid = true;
    std::optional<std::uint8_t> b;
    if (c_.profile.code == 1)
        b = EiaOut(c, valid);
    else if (c_.profile.code == 2)
        b = IsoOut(c, valid);
    else if (c < 0x80)
        b = static_cast<std::uint8_t>(c);
    else
        for (char byte : c_.codec.encode([&] { std::string s; utf8::append(s, c); return s; }()))
            sendByte(static_cast<std::uint8_t>(byte)); // cp932 bytes of the character, as the document holds it
    if (b)
        sendByte(*b);
}

std::optional<char> Transfers::receive(std::uint8_t b) const
{
    if (c_.profile.code == 1)
        return EiaIn(b);
    if (c_.profile.code == 2)
        return IsoIn(b);
    return static_cast<char>(b);
}

// Whether the partner's stop code is among the bytes waiting; the others are
// dropped. All of them are looked at, so a stop code behind other bytes (a
// repeated start code) still stops the output at once.
bool Transfers::stopCodeWaiting(std::optional<unsigned char> stop)
{
    while (port_->InBufferCount() > 0)
        if (auto b = read(); b && stop && *b == *stop)
            return true;
    return false;
}

// Paused until the request code, a line event that sets another state, or the cancel button.
void Transfers::pause()
{
    const auto request = controlCode(c_.profile.outCodes[1]);
    c_.host.setStatus1(c_.status.StatusText);
    while (state() == Paused) {
        idle();
        if (request && port_->InBufferCount() > 0)
            if (auto b = read(); b && *b == *request)
                state() = Running;
    }
    c_.host.setStatus1({});
}

// A failure is told once; the end of the transfer then goes on without it.
void Transfers::fail(const Failure& f)
{
    if (failureShown_)
        return;
    failureShown_ = true;
    c_.messageBox.show(f.error.description, "TARVEX", MsgIcon::Exclamation);
}

// The caption as a progress counter: the screen follows at most 20 times a second.
void Transfers::progress(const std::string& caption, bool force)
{
    const auto now = Clock::now();
    pendingProgress_ = caption;
    if (force || now - lastProgress_ >= 50ms) {
        c_.host.setCaption(caption);
        lastProgress_ = now;
        pendingProgress_.clear();
    }
}

// ---- the port frame ----

// Applies the profile to a port and opens it; false (after the message) when
// the port does not exist, is busy or refuses the settings.
bool Transfers::openPort(SerialPort& port, bool receiveEvents)
{
    if (port.isOpen())
        port.close();
    const DeviceProfile& p = c_.profile;
    LineSettings line;
    line.baud = p.baud;
    line.parity = p.parity.size() == 1 ? p.parity[0] : '?';
    line.dataBits = p.dataBits;
    line.stopBits = p.stopBits;
    line.handshake = static_cast<int>(leadingValue(p.handshake));
    const bool portValid = (p.port >= 1 && p.port <= 8) || !deviceOverride.empty();
    if (!portValid
        || port.open(deviceOverride.empty() ? portDevice(c_.settings, p.port) : deviceOverride, line, receiveEvents)) {
        c_.messageBox.show("プロパティの値が正しくありません", "TARVEX");
        return false;
    }
    port_ = &port;
    failureShown_ = false;
    lineCharacterTime_ = line.characterTime();
    return true;
}

bool Transfers::ComSet()
{
    state() = Running;
    c_.host.setStatus1({});
    c_.host.setLabel2({});
    if (!openPort(c_.MSComm1, false)) {
        state() = Ended;
        return false;
    }
    return true;
}

// Waits for the partner's start code: false when the transfer ends first.
bool Transfers::startCode(unsigned char code, bool (*ends)(short state))
{
    for (;;) {
        idle();
        if (port_->InBufferCount() > 0)
            if (auto b = read(); b && *b == code)
                return true;
        if (ends(state()))
            return false;
    }
}

void Transfers::CommandCancel_Click()
{
    state() = Cancelled;
    c_.status.StatusText = "--- 中止しました。---";
    c_.host.setCancelEnabled(false);
}

void Transfers::Check1_Click(bool ticked)
{
    c_.host.setLabel2({});
    c_.host.setStatus1({});
    ScrollFollow = ticked;
}

void Transfers::MSComm1_OnComm(int event)
{
    TransferStatus& s = c_.status;
    const bool on = event == comm::EvCTS ? c_.MSComm1.CTSHolding()
                    : event == comm::EvDSR ? c_.MSComm1.DSRHolding()
                                           : c_.MSComm1.CDHolding();
    switch (event) {
    case comm::EvSend:
    case comm::EvReceive: break;
    case comm::EvCTS: apply(on ? EventRule{0, false, Running, false, ""} : EventRule{0, false, Paused, false, "CS ラインの状態が変化しました。"}, s); break;
    case comm::EvDSR:
        if (!on)
            apply({0, false, Paused, false, "DR ラインがオフになりました。"}, s);
        break;
    case comm::EvCD: apply(on ? EventRule{0, false, Running, false, ""} : EventRule{0, false, Paused, false, "CD ラインの状態が変化しました。"}, s); break;
    default: applyError(event, s);
    }
    c_.host.setStatus1(s.StatusText);
}

void Transfers::MSComm2_OnComm(int event)
{
    // Every received byte and every change of a line pauses the tape run.
    if (event >= comm::EvReceive && event <= comm::EvCD)
        state() = Paused;
    else if (event >= comm::EvRing)
        applyError(event, c_.status);
    c_.host.setStatus1(c_.status.StatusText);
}

// ---- outputs ----

void Transfers::Command1_Click()
{
    if (!ComSet())
        return;
    TransferHost& h = c_.host;
    const DeviceProfile& p = c_.profile;
    lock({PanelControl::Command1, PanelControl::Command2, PanelControl::Command5});
    try {
        const std::string text = h.editorText();
        const std::string bytes = c_.codec.encode(text);
        if (Error e = c_.fs.writeFile(work("BAK.DAT"), bytes, false))
            throw Failure{e};
        yield();
        const double length = static_cast<double>(bytes.size());
        bool toEnd = false;
        if (auto start = controlCode(p.outCodes[0])) {
            h.setStatus1("出力 : 起動コード " + p.outCodes[0] + " の待機中です。");
            // Cancelled or ended before the start code: nothing is sent.
            toEnd = !startCode(*start, [](short st) { return st == Ended || st == Cancelled; });
        }
        if (!toEnd) {
            h.setStatus1({});
            const auto stop = controlCode(p.outCodes[2]), end = controlCode(p.outCodes[3]),
                       request = controlCode(p.outCodes[1]);
            long long counter = 0;
            std::string line;
            // One character: the wait of the slider, the send step and the display.
            auto sendOne = [&](char32_t c) {
                slowDown(h.slider1() + 1);
                sendChar(c);
                if (ScrollFollow) {
                    h.selectInEditor(static_cast<std::size_t>(counter));
                } else if (c == '\n') {
                    h.setLabel2(line);
                    line.clear();
                } else if (c != '\r') {
                    utf8::append(line, c);
                }
            };
            for (std::size_t pos = 0; pos < text.size() && !toEnd;) {
                const char32_t c = utf8::next(text, pos);
                ++counter;
                sendOne(c);
                while (port_->InBufferCount() > 0) {
                    const auto b = read();
                    if (b && stop && *b == *stop) {
                        h.setStatus1("停止コード " + p.outCodes[2] + " を受信しました。");
                        state() = Paused;
                        while (true) {
                            idle();
                            if (request && port_->InBufferCount() > 0)
                                if (auto r = read(); r && *r == *request) {
                                    state() = Running;
                                    break;
                                }
                            if (state() == Ended || state() == Cancelled)
                                break;
                        }
                        h.setStatus1({});
                        break;
                    }
                    if (b && end && *b == *end) {
                        c_.status.StatusText = "終了コード " + p.outCodes[3] + " を受信しました。";
                        state() = Ended;
                        h.setStatus1({});
                        break;
                    }
                    h.setStatus1({});
                }
                if (state() == Ended)
                    toEnd = true; // no closing "%"
                else if (state() == Cancelled)
                    break;
                else if (counter % 100 == 0)
                    progress(decimal(static_cast<long long>(std::floor(counter / length * 100))) + "%の出力を完了");
            }
            if (!toEnd) {
                // The program always closes with a "%" of its own, also after a cancel.
                ++counter;
                sendOne('%');
                progress("100%の出力を完了", true);
            }
        }
    } catch (const Failure& f) {
        fail(f);
    }
    // The end: the line drains, the end code goes last.
    try {
        // The window is repainted meanwhile, but no line event is handled.
        port_->flush();
        for (const auto until = Clock::now() + endPause; Clock::now() < until;)
            c_.events.wait(std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()));
        yield();
        c_.fs.removeFile(work("BAK.DAT"));
        if (auto end = controlCode(p.outCodes[3]); end && port_->isOpen() && !port_->failure())
            sendByte(*end);
    } catch (const Failure& f) {
        fail(f);
    }
    if (state() == Cancelled)
        c_.status.StatusText = "送信を中止しました。";
    else if (state() < Ended)
        c_.status.StatusText = "送信を終了しました。";
    h.setStatus1(c_.status.StatusText);
    port_->close();
    unlock({PanelControl::Command1, PanelControl::Command2, PanelControl::Command5});
    h.focusEditor();
    state() = Running;
    h.IOEnd();
}

// The window locked for a transfer, the transfer's own buttons too.
void Transfers::lock(std::initializer_list<PanelControl> own)
{
    c_.host.Control(false);
    c_.status.StatusText.clear();
    for (PanelControl b : own)
        c_.host.setPanelEnabled(b, false);
}

void Transfers::unlock(std::initializer_list<PanelControl> own)
{
    c_.host.Control(true);
    for (PanelControl b : own)
        c_.host.setPanelEnabled(b, true);
}

// The end of the puncher output and of the tape run.
void Transfers::outputEnd(std::initializer_list<PanelControl> own)
{
    if (state() == Cancelled)
        c_.status.StatusText = "送信を中止しました。";
    else if (state() != Ended)
        c_.status.StatusText = "送信を終了しました。";
    c_.host.setStatus1(c_.status.StatusText);
    try {
        if (auto end = controlCode(c_.profile.outCodes[3]); end && port_->isOpen() && !port_->failure())
            sendByte(*end);
    } catch (const Failure& f) {
        fail(f);
    }
    port_->close();
    unlock(own);
    c_.host.focusEditor();
}

// The editor text character after character, as the puncher output and the
// tape run send it: the character after it selected, a space as feeds when
// feedsPerSpace is not negative, a stop code pausing until the request code.
void Transfers::sendText(const std::string& stopMessage, int feedsPerSpace)
{
    TransferHost& h = c_.host;
    const auto stop = controlCode(c_.profile.outCodes[2]);
    const std::string text = h.editorText();
    std::size_t offset = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        h.selectInEditor(++offset);
        const char32_t c = utf8::next(text, pos);
        if (c == ' ' && feedsPerSpace >= 0) {
            for (int k = 0; k < feedsPerSpace && state() != Cancelled; ++k) {
                if (stopCodeWaiting(stop)) {
                    c_.status.StatusText = "停止コードを受信しました";
                    state() = Paused;
                }
                if (state() == Paused)
                    pause();
                sendByte(0x00);
            }
        } else {
            sendChar(c);
        }
        if (stopCodeWaiting(stop)) {
            c_.status.StatusText = stopMessage;
            state() = Paused;
        }
        if (state() == Paused)
            pause();
        if (state() == Ended || state() == Cancelled)
            break;
        slowDown(50 * h.slider1() + 1);
    }
}

void Transfers::Command10_Click()
{
    if (!ComSet())
        return;
    const DeviceProfile& p = c_.profile;
    lock({PanelControl::Command10, PanelControl::Command20, PanelControl::Command5});
    const bool feeds = leadingValue(c_.settings.read("Tarvex", "Pcheck1", "0")) == 1;
    const int feed = static_cast<int>(std::clamp(leadingValue(c_.settings.read("Tarvex", "Feed", "10")), 0.0, 100000.0));
    try {
        if (auto start = controlCode(p.outCodes[0]))
            sendByte(*start);
        sendText("停止コード " + p.outCodes[2] + " を受信しました", feeds ? feed : -1);
    } catch (const Failure& f) {
        fail(f);
    }
    outputEnd({PanelControl::Command10, PanelControl::Command20, PanelControl::Command5});
}

void Transfers::Command11_Click()
{
    if (state() != Running)
        return;
    TransferHost& h = c_.host;
    const DeviceProfile& p = c_.profile;
    h.setStatus1({});
    h.setLabel2({});
    if (!openPort(c_.MSComm2, true))
        return;
    lock({PanelControl::Command1});
    try {
        if (auto start = controlCode(p.outCodes[0])) {
            h.setStatus1("--- 送信待機中 ---");
            startCode(*start, [](short st) { return st == Ended || st == Cancelled; });
            h.setStatus1({});
        }
        if (state() != Ended && state() != Cancelled)
            sendText("停止コードを受信しました", -1);
    } catch (const Failure& f) {
        fail(f);
    }
    outputEnd({PanelControl::Command1});
}

// ---- inputs ----

void Transfers::Command2_Click()
{
    state() = Running;
    if (!ComSet())
        return;
    TransferHost& h = c_.host;
    const DeviceProfile& p = c_.profile;
    const auto locked = {PanelControl::Command1, PanelControl::Command2, PanelControl::Command5, PanelControl::Check1,
                         PanelControl::Slider1};
    lock(locked);
    const std::string before = c_.codec.encode(h.editorText());
    std::string received;
    bool load = false;
    try {
        if (Error e = c_.fs.writeFile(work("bak.dat"), before, false))
            throw Failure{e};
        bool started = true;
        if (auto start = controlCode(p.inCodes[0])) {
            h.setStatus1(" 起動コード " + p.inCodes[0] + " の待機中です。");
            // Anything that ends the wait first leaves nothing to load.
            started = startCode(*start, [](short st) { return st != Running; });
        }
        if (started) {
            h.setStatus1({});
            load = true;
            counted_ = 0;
            line_.clear();
            lastLabel_ = Clock::now() - 1s;
            const auto stop = controlCode(p.inCodes[2]), request = controlCode(p.inCodes[1]);
            const auto timeout = std::chrono::duration<double>(std::max(0.0f, p.timeout));
            auto lastReceive = Clock::now();
            bool stopped = false;
            progress("0文字の入力を完了", true);
            for (;;) {
                if (port_->InBufferCount() > 0) {
                    if (!controllerByte(*read(), received))
                        break; // the end code
                    lastReceive = Clock::now();
                    yield();
                } else {
                    idleUntil(timeout, counted_, lastReceive);
                }
                if (timedOut(timeout, counted_, lastReceive)) {
                    c_.status.StatusText = "タイムアウトを検出しました。";
                    state() = Ended;
                }
                if (state() == Ended || state() == Cancelled)
                    break;
                holdBack(1000, stop, request, stopped);
                if (counted_ % 10 == 0)
                    progress(decimal(counted_) + "文字の入力を完了");
            }
            progress(decimal(counted_) + "文字の入力を完了", true);
        }
    } catch (const Failure& f) {
        fail(f);
        // What arrived before the failure is kept all the same.
        while (port_->InBufferCount() > 0 && controllerByte(*read(), received)) {
        }
    }
    if (load)
        h.setEditorText(receiveInto(before + received));
    h.setLabel2({});
    h.setStatus1(c_.status.StatusText);
    port_->close();
    unlock(locked);
    h.IOEnd();
    h.afterInput();
}

// The time-out counts only once something has arrived.
bool Transfers::timedOut(std::chrono::duration<double> timeout, long long counter, Clock::time_point last) const
{
    return timeout.count() > 0 && counter > 0 && Clock::now() > last + timeout;
}

// Nothing waiting: sleep until a byte comes or the time-out is due.
void Transfers::idleUntil(std::chrono::duration<double> timeout, long long counter, Clock::time_point last)
{
    auto left = timeout.count() > 0 && counter > 0
                    ? std::chrono::duration_cast<std::chrono::nanoseconds>(last + timeout - Clock::now())
                    : std::chrono::nanoseconds(50ms);
    idle(std::clamp(left, std::chrono::nanoseconds(0), std::chrono::nanoseconds(50ms)));
}

// Flow control of an input: the stop code once more than stopAbove bytes
// wait, the request code once fewer than 10 do.
void Transfers::holdBack(std::size_t stopAbove, std::optional<unsigned char> stop,
                         std::optional<unsigned char> request, bool& stopped)
{
    const std::size_t waiting = port_->InBufferCount();
    if (waiting > stopAbove && stop && !stopped) {
        sendByte(*stop);
        stopped = true;
    } else if (waiting < 10 && request && stopped) {
        sendByte(*request);
        stopped = false;
    }
}

// One received byte of the controller input: false for the end code.
bool Transfers::controllerByte(std::uint8_t b, std::string& received)
{
    const DeviceProfile& p = c_.profile;
    if (auto end = controlCode(p.inCodes[3]); end && b == *end) {
        c_.status.StatusText = "終了コード " + p.inCodes[3] + " を受信しました。";
        return false;
    }
    const auto c = receive(b);
    if (c == '\n') {
        if (Clock::now() - lastLabel_ >= 50ms) {
            c_.host.setLabel2(line_);
            lastLabel_ = Clock::now();
        }
        line_.clear();
        received += "\r\n";
    } else {
        if (c && *c != '\r') {
            line_ += *c;
            received += *c;
        }
        ++counted_;
    }
    return true;
}

// The work file with the received text appended, as the editor gets it back.
// The text comes from memory: a work file that cannot be written or read
// again never costs the user the text.
std::string Transfers::receiveInto(std::string bytes) const
{
    c_.fs.writeFile(work("bak.dat"), bytes, false);
    c_.fs.removeFile(work("bak.dat"));
    return c_.codec.decode(bytes);
}

void Transfers::Command20_Click()
{
    state() = Running;
    if (!ComSet())
        return;
    TransferHost& h = c_.host;
    const DeviceProfile& p = c_.profile;
    lock({PanelControl::Command20, PanelControl::Command10, PanelControl::Command5, PanelControl::Check1});
    const std::string before = c_.codec.encode(h.editorText());
    std::string received;
    bool load = false;
    try {
        if (Error e = c_.fs.writeFile(work("bak.dat"), before, false))
            throw Failure{e};
        const bool ignoreSpaces = leadingValue(c_.settings.read("Tarvex", "Pcheck2", "0")) == 1;
        if (auto start = controlCode(p.inCodes[0]))
            sendByte(*start);
        h.setStatus1({});
        load = true;
        progress("0文字の入力を完了", true);
        const auto stop = controlCode(p.inCodes[2]), request = controlCode(p.inCodes[1]);
        const auto timeout = std::chrono::duration<double>(std::max(0.0f, p.timeout));
        auto lastReceive = Clock::now();
        long long counter = 0;
        bool stopped = false, lineEnded = false;
        std::string label, shown;
        auto lastLabel = Clock::now() - 1s;
        for (;;) {
            if (port_->InBufferCount() > 0) {
                auto c = receive(*read());
                if (c == ' ' && ignoreSpaces) {
                    c = '\0';
                    lineEnded = false;
                }
                if (c == '\n' || c == '\r') {
                    // A run of line ends is one line end.
                    if (!lineEnded)
                        received += "\r\n";
                    lineEnded = true;
                } else if (c && *c != '\0') {
                    if (lineEnded)
                        label.clear();
                    received += *c;
                    ++counter;
                    lineEnded = false;
                    label += *c;
                }
                lastReceive = Clock::now();
            }
            if (timedOut(timeout, counter, lastReceive)) {
                c_.status.StatusText = "タイムアウトを検出しました。";
                break;
            }
            if (state() == Ended || state() == Cancelled)
                break;
            holdBack(500, stop, request, stopped);
            if (port_->InBufferCount() > 0)
                yield();
            else
                idleUntil(timeout, counter, lastReceive);
            if (counter % 10 == 0)
                progress(decimal(counter) + "文字の入力を完了");
            if (label != shown && Clock::now() - lastLabel >= 50ms) {
                h.setLabel2(label);
                shown = label;
                lastLabel = Clock::now();
            }
        }
        progress(decimal(counter) + "文字の入力を完了", true);
    } catch (const Failure& f) {
        fail(f);
    }
    if (load)
        h.setEditorText(receiveInto(before + received));
    h.setStatus1(c_.status.StatusText);
    try {
        if (auto end = controlCode(p.inCodes[3]); end && port_->isOpen() && !port_->failure())
            sendByte(*end);
    } catch (const Failure& f) {
        fail(f);
    }
    port_->close();
    unlock({PanelControl::Command20, PanelControl::Command10, PanelControl::Command5}); // the scroll box stays off
    h.IOEnd();
    h.afterInput();
}

void Transfers::Command21_Click()
{
    state() = Running;
    if (!ComSet())
        return;
    TransferHost& h = c_.host;
    h.setPanelEnabled(PanelControl::Command21, false);
    const std::string before = c_.codec.encode(h.editorText());
    std::string line; // the line arriving, as bytes
    try {
        if (Error e = c_.fs.writeFile(work("bak.dat"), before, false))
            throw Failure{e};
        lock({});
        h.setStatus1("--- 受信待機中 ---");
        yield();
        for (;;) {
            if (port_->InBufferCount() > 0) {
                const auto c = receive(*read());
                if (c != '\n' && c != '\r') {
                    if (c)
                        line += *c;
                } else {
                    // Each complete line reaches the editor at once.
                    line += "\r\n";
                    h.appendEditorText(c_.codec.decode(line));
                    line.clear();
                    yield();
                }
                yield();
            } else {
                idle();
            }
            if (state() == Cancelled) {
                c_.status.StatusText = "終了しました。";
                break;
            }
            if (state() == Ended || state() == Paused)
                break;
        }
    } catch (const Failure& f) {
        fail(f);
        // A failing line still delivers what arrived.
        if (!line.empty())
            h.appendEditorText(c_.codec.decode(line));
    }
    yield();
    c_.fs.removeFile(work("bak.dat"));
    h.setStatus1(c_.status.StatusText);
    port_->close();
    unlock({PanelControl::Command21});
}

} // namespace tarvex
