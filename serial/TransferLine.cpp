// Waiting on the line: the yields and pauses of the transfers, the line
// events handed to their handlers, and the bytes read and written.
#include "platform/SerialPort.h"
#include "platform/TextCodec.h"
#include "platform/UiServices.h"
#include "platform/Utf8.h"
#include "serial/TapeCode.h"
#include "serial/TransferStates.h"

#include <thread>

namespace tarvex {

using namespace transfer;

// Lets the window and the port's line events run, sleeping for the given
// time (a byte or a line event ends the sleep early). Window events are
// handed to the event loop at least every 2 ms, not at every character: a
// transfer stays responsive without its per-character cost.
void Transfers::waitFor(std::chrono::nanoseconds time)
{
    if (port_ && time > 0ns)
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
    // The one yield of the fastest setting lets the window run and waits no
    // time: at 115,200 baud a character takes less than a yield's 100 µs.
    const auto wait = yieldTime * (yields - 1);
    if (wait <= lineCharacterTime_)
        return yield();
    // In slices: a cancel or an ending event is seen at once, not after a
    // slow wait of seconds.
    const auto until = Clock::now() + wait;
    for (std::chrono::nanoseconds left = wait; left > 0ns; left = until - Clock::now()) {
        waitFor(std::min<std::chrono::nanoseconds>(left, 50ms));
        if (state() == Cancelled || state() == Ended)
            return;
    }
}

// One pass of a loop that reads the line: with bytes to read, the window and
// the line events run and the loop goes on; with none, the process sleeps
// until one comes (or the time is up).
void Transfers::idle(std::chrono::nanoseconds atMost)
{
    waitFor(port_ && (port_->InBufferCount() > 0 || port_->failure()) ? 0ns : atMost);
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

// Waits for the partner's start code: false when the transfer ends first.
bool Transfers::startCode(unsigned char code, bool (*ends)(short state))
{
    for (;;) {
        idle(quietStep);
        if (port_->InBufferCount() > 0) {
            const auto b = read();
            if (b && isCode(code, *b))
                return true;
            if (b && outputSide_ && givesWay && givesWay(*b)) {
                gaveWay_ = true;
                return false;
            }
        }
        if (ends(state()))
            return false;
    }
}

// One pass of a pause: a byte the partner sent, read when the pause looks
// for one. Without one to look for the bytes are left unread, and the pause
// sleeps on time however many wait: it never spins, and the window, the
// line events and the cancel button are handled all along.
std::optional<std::uint8_t> Transfers::pauseByte(bool reading)
{
    if (!reading || port_->InBufferCount() == 0) {
        waitFor(50ms);
        return std::nullopt;
    }
    yield();
    return read();
}

namespace {

// The roles of the profile's codes that a byte is, "停止コード(出力)" or
// "起動/要求コード(出力)"; empty when it is none.
std::string roles(const std::array<std::optional<std::uint8_t>, 4>& codes, std::uint8_t b, const char* side)
{
    static const char* const names[] = {"起動", "要求", "停止", "終了"};
    std::string out;
    for (int k = 0; k < 4; ++k)
        if (codes[k] == b)
            out += (out.empty() ? "" : "/") + std::string(names[k]);
    return out.empty() ? out : out + "コード(" + side + ")";
}

} // namespace

// Every byte read passes here, and so does the monitor's count: on an output
// the partner sends only codes; on an input the program, its start code
// before it and the end code.
std::optional<std::uint8_t> Transfers::read()
{
    const auto b = port_->readByte();
    if (monitor && b) {
        if (outputSide_) {
            std::string role = roles(codes_, *b, "出力");
            if (role.empty()) {
                // The most likely wrong setting: a code that differs in its parity bit only.
                const std::string near = roles(codes_, static_cast<std::uint8_t>(*b ^ 0x80), "出力");
                if (near.empty()) {
                    monitor->receivedData(); // an echo or noise: counted like characters
                    return b;
                }
                // A code is taken on its seven bits: it acts, and the log says why.
                role = near + "（パリティビット違い）";
                monitor->warn("相手は " + codeName(*b) + " を送りましたが、プロファイルの" + near + "は "
                              + codeName(static_cast<std::uint8_t>(*b ^ 0x80))
                              + " です。パリティビット（&H80）のほかは同じなので、そのコードとして扱いました。");
            }
            monitor->receivedCode(*b, role);
        } else if (isCode(codes_[3], *b)) {
            monitor->receivedCode(*b, "終了コード(入力)");
        } else if (!dataSeen_ && isCode(codes_[0], *b)) {
            monitor->receivedCode(*b, "起動コード(入力)");
        } else {
            dataSeen_ = true;
            monitor->receivedData();
        }
    }
    return b;
}

void Transfers::stopArrived()
{
    if (monitor)
        monitor->stopCounted({port_->sentSinceHoldCode(), port_->OutBufferCount()});
}

void Transfers::sendByte(std::uint8_t b)
{
    writePaced(b);
    if (monitor)
        monitor->sentData();
}

void Transfers::sendCode(std::uint8_t b, const char* role)
{
    writePaced(b);
    if (monitor)
        monitor->sentCode(b, role);
}

// One byte on the line, at the line's pace.
// A partner that holds the flow (XOFF, CTS off, a device server that stops
// reading) makes a pause, said in the status and the monitor, that lasts as
// long as the hold: never a failure; 中止 ends it.
void Transfers::writePaced(std::uint8_t b)
{
    bool held = false;
    for (auto delay = port_->writeDelay(); delay > 0ns; delay = port_->writeDelay()) {
        waitFor(delay);
        if (!held && port_->outputHeld()) {
            held = true;
            c_.host.setStatus1("相手が受信を止めています（送信待ち）。");
            monitorEvent("送信待ち: 相手が受信を止めています");
            if (monitor)
                monitor->paused();
        }
        if (state() == Cancelled || state() == Ended)
            break; // the line holds still: do not wait on it for ever
    }
    if (held) {
        c_.host.setStatus1({});
        if (monitor)
            state() == Running ? monitor->resumed() : monitor->pauseOver();
    }
    if (Error e = port_->writeByte(b))
        throw Failure{e};
}

// A control code that must reach the partner now: on its own, not gathered
// with what follows.
void Transfers::sendNow(std::uint8_t b, const char* role)
{
    port_->drainOutput(std::chrono::milliseconds(100));
    if (Error e = port_->writeByte(b))
        throw Failure{e};
    if (monitor)
        monitor->sentCode(b, role);
    port_->drainOutput(std::chrono::milliseconds(100));
    if (Error e = port_->failure())
        throw Failure{e};
}

// The send step: the character through the profile's tape code. In ASCII a
// double-byte character goes out as its two cp932 bytes, as the file holds
// it: a Japanese comment must not cut a program short at the partner.
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
            sendByte(static_cast<std::uint8_t>(byte));
    if (b)
        sendByte(*b);
}

// Every line end the editor shows goes out as the code's end of block (CR LF
// through the code), as Save writes it: a lone CR or LF must not join two
// blocks at the machine.
void Transfers::sendLineEnd()
{
    sendChar('\r');
    sendChar('\n');
}

// A received byte as a character of the profile's code. In ISO and EIA the
// tape's feed and rub-out (NUL, DEL, EIA's blank) and a code of the profile
// among the data (a control repeats its start code) are no part of the program.
std::optional<char> Transfers::receive(std::uint8_t b) const
{
    const DeviceProfile& p = c_.profile;
    if (p.code != 1 && p.code != 2)
        return static_cast<char>(b);
    const std::optional<char> c = p.code == 1 ? std::optional<char>(EiaIn(b)) : IsoIn(b);
    if (!c || *c == '\0' || *c == '\x7F')
        return std::nullopt;
    if ((static_cast<unsigned char>(*c) & 0x7F) < 0x20 && *c != '\n' && *c != '\r')
        for (const auto code : codes_)
            if (sameCode(code, b))
                return std::nullopt;
    return c;
}

// What the partner sent since the last look, all of it read: the stop code
// pauses (with its message). On the tape run the end code ends it, a start
// or request code (a control repeats them at will) does nothing, and any
// other byte (noise on the line, an echo) is counted and goes by: it must
// never stop a machine in the middle of a cut.
void Transfers::partnerStops(std::optional<unsigned char> stop, const std::string& stopMessage, bool tapeRun)
{
    while (port_->InBufferCount() > 0) {
        const auto b = read();
        if (!b)
            continue;
        if (isCode(stop, *b)) {
            stopArrived();
            c_.status.StatusText = stopMessage;
            if (state() == Running)
                state() = Paused;
            return;
        }
        if (!tapeRun)
            continue;
        if (isCode(codes_[3], *b))
            return endCodeReceived();
        if (!isCode(codes_[0], *b) && !isCode(codes_[1], *b))
            ignored(*b);
    }
}

void Transfers::holdOver()
{
    if (state() == Cancelled || state() == Ended)
        port_->discardOutput();
    port_->releaseHold();
}

void Transfers::ignored(std::uint8_t b)
{
    if (ignored_++ == 0) {
        const std::string text = "受信コード " + codeName(b) + " を無視しました。";
        c_.host.setStatus1(text);
        monitorEvent(text);
    }
}

} // namespace tarvex
