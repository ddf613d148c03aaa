// The inputs: from a controller (after its start code, until its end code or
// a time-out), from a puncher's tape reader (started by our start code, until
// a time-out), and from an inspection device (line by line, until the user
// cancels). Each holds the partner back with stop and request codes when the
// receive buffer fills, stops at a byte that fails its parity check, and
// keeps what arrived whatever ends it, saying so when that is not the whole
// program.
#include "platform/FileSystem.h"
#include "platform/SerialPort.h"
#include "platform/SettingsStore.h"
#include "platform/TextCodec.h"
#include "serial/TransferStates.h"
#include "platform/Numbers.h"
#include "platform/TextLines.h"
#include "serial/TapeCode.h"

#include <utility>
#include <algorithm>
#include <cstdio>

namespace tarvex {

using namespace transfer;

namespace {

// Whether a received text ends with the "%" that closes a program: its last
// line that holds anything but blanks and feeds is "%", and a line before it
// holds more.
bool programClosed(std::string_view text)
{
    TextLines lines(text);
    std::string_view line;
    bool program = false, closed = false;
    while (lines.next(line)) {
        const auto first = line.find_first_not_of(std::string_view(" \t\0\x7F", 4));
        if (first == std::string_view::npos)
            continue;
        line = line.substr(first, line.find_last_not_of(std::string_view(" \t\0\x7F", 4)) + 1 - first);
        closed = program && line == "%";
        program = program || line != "%";
    }
    return closed;
}

std::string grouped(std::size_t n)
{
    std::string digits = std::to_string(n);
    for (std::size_t k = digits.size(); k > 3; k -= 3)
        digits.insert(k - 3, ",");
    return digits;
}

} // namespace

void Transfers::Command2_Click()
{
    if (running_)
        return;
    Session session(*this, "入力（NC装置）", false);
    state() = Running;
    // After an output that gave way, or a start code the caller read, the
    // start code has come already (both told once).
    const bool started = std::exchange(gaveWay_, false) | std::exchange(startTaken_, false);
    reuseOpen_ = started;
    lastInput_ = {};
    if (!ComSet())
        return;
    TransferHost& h = c_.host;
    const DeviceProfile& p = c_.profile;
    const auto locked = {PanelControl::Command1, PanelControl::Command2, PanelControl::Command5, PanelControl::Check1,
                         PanelControl::Slider1};
    lock(locked);
    const std::string before = h.editorText();
    std::string received;
    kept_ = 0;
    bool load = false, endCode = false;
    rxLine_ = 1, rxColumn_ = 0;
    // One byte: false once the input ends at it.
    auto take = [&](std::uint8_t b) {
        const Byte r = controllerByte(b, received);
        endCode = endCode || r == Byte::EndCode;
        return r == Byte::Taken;
    };
    try {
        bool begun = true;
        if (auto start = controlCode(p.inCodes[0]); start && !started) {
            h.setStatus1(" 起動コード " + p.inCodes[0] + " の待機中です。");
            // Anything that ends the wait first leaves nothing to load.
            begun = startCode(*start, [](short st) { return st != Running; });
        }
        if (begun) {
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
                    if (!take(*read()))
                        break; // the end code, or a byte that failed its check
                    lastReceive = Clock::now();
                    yield();
                } else {
                    idleUntil(timeout, counted_, lastReceive);
                }
                if (timedOut(timeout, counted_, lastReceive)) {
                    c_.status.StatusText = "タイムアウトを検出しました。";
                    monitorEvent("タイムアウト");
                    state() = Ended;
                }
                if (state() == Ended || state() == Cancelled)
                    break;
                holdBack(1000, stop, request, stopped);
                if (counted_ % 10 == 0)
                    progress(std::to_string(counted_) + "文字の入力を完了");
            }
            // What came before a cancel is in the receive buffer already: kept.
            if (state() == Cancelled)
                drain(take, port_->InBufferCount());
            progress(std::to_string(counted_) + "文字の入力を完了", true);
        }
    } catch (const Failure& f) {
        fail(f);
        // What arrived before the failure is kept all the same.
        if (load)
            drain(take);
    }
    if (load) {
        keepReceived(received);
        if (!received.empty())
            h.appendEditorText(receiveInto(before, received));
    }
    h.setLabel2({});
    h.setStatus1(c_.status.StatusText);
    releasePort();
    unlock(locked);
    if (load)
        finishInput(received.size(), endCode || (!controlCode(p.inCodes[3]) && programClosed(received)));
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
    using Seconds = std::chrono::duration<double>;
    // In seconds of a double: a time-out of a day must not overflow nanoseconds.
    const Seconds left = timeout.count() > 0 && counter > 0 ? Seconds(last + timeout - Clock::now()) : Seconds(50ms);
    idle(std::chrono::duration_cast<std::chrono::nanoseconds>(std::clamp(left, Seconds(0), Seconds(50ms))));
}

// Flow control of an input: the stop code once more than stopAbove bytes
// wait, the request code once fewer than 10 do. Each goes out at once and on
// its own, the moment its threshold is crossed: a partner that is not held
// back in time overruns the line.
void Transfers::holdBack(std::size_t stopAbove, std::optional<unsigned char> stop,
                         std::optional<unsigned char> request, bool& stopped)
{
    const std::size_t waiting = port_->InBufferCount();
    if (waiting > stopAbove && stop && !stopped) {
        sendNow(*stop, "停止コード(入力)");
        stopped = true;
        if (monitor)
            monitor->paused();
    } else if (waiting < 10 && request && stopped) {
        sendNow(*request, "要求コード(入力)");
        stopped = false;
        if (monitor)
            monitor->resumed();
    }
}

// After the line failed: the bytes it delivered before are still taken, until
// take says to stop (the end code); at most `most` of them (after a cancel,
// those that had come: a partner that sends on is not followed).
void Transfers::drain(const std::function<bool(std::uint8_t)>& take, std::size_t most)
{
    for (; most > 0 && port_->InBufferCount() > 0; --most)
        if (auto b = read(); b && !take(*b))
            break;
}

// Hands on what was received since the last time (whole lines while the
// transfer runs, the rest at its end).
void Transfers::keepReceived(const std::string& received)
{
    if (received.size() > kept_) {
        c_.host.receivedText(std::string_view(received).substr(kept_));
        kept_ = received.size();
    }
}

// One received byte of the controller input.
Transfers::Byte Transfers::controllerByte(std::uint8_t b, std::string& received)
{
    const DeviceProfile& p = c_.profile;
    // A byte the driver marked is no end code, whatever it reads as.
    if (codeAmongData(p, codes_[3], b) && !port_->byteError()) {
        c_.status.StatusText = "終了コード " + p.inCodes[3] + " を受信しました。";
        return Byte::EndCode;
    }
    if (!byteSound(b))
        return Byte::Fault;
    const auto c = receive(b);
    if (c == '\n') {
        placeLineEnd();
        if (Clock::now() - lastLabel_ >= 50ms) {
            c_.host.setLabel2(line_);
            lastLabel_ = Clock::now();
        }
        line_.clear();
        received += "\r\n";
        keepReceived(received);
    } else {
        if (c && *c != '\r') {
            line_ += *c;
            received += *c;
            ++rxColumn_;
        }
        ++counted_;
    }
    return Byte::Taken;
}


// The parity of the profile's code where the byte carries it (eight data
// bits), and what the driver found.
bool Transfers::byteSound(std::uint8_t b)
{
    const int error = port_->byteError();
    if (!error && dataParityHolds(c_.profile, b))
        return true;
    char hex[8];
    std::snprintf(hex, sizeof hex, "&H%02X", b);
    c_.status.StatusText = "行 " + std::to_string(rxLine_) + " の " + std::to_string(rxColumn_ + 1) + " 文字目で"
                           + (error == comm::ErFrame ? "フレーミングエラー" : "パリティエラー") + "です（" + hex + "）。";
    monitorEvent(c_.status.StatusText);
    lastInput_.dataFault = true;
    state() = Ended;
    return false;
}

// What an input kept, and whether it is the whole program: a program cut
// short is said to be so.
void Transfers::finishInput(std::size_t bytes, bool complete)
{
    // A line event of the port's own parity or framing check (a network
    // server tells them apart from the bytes).
    lastInput_.dataFault = lastInput_.dataFault || lineFault_;
    lastInput_.bytes = bytes;
    lastInput_.complete = complete && !lastInput_.dataFault;
    if (lastInput_.complete || (bytes == 0 && !lastInput_.dataFault))
        return;
    const std::string message
        = "受信は途中で終わりました（" + grouped(bytes) + " バイト）。最後の行は不完全かもしれません。";
    monitorEvent(message);
    // A failure's own box has told why already.
    c_.host.inputCutShort(failureShown_ ? std::string() : c_.status.StatusText, message);
}

void Transfers::releasePort()
{
    if (holdPortOpen && port_->isOpen() && !port_->failure())
        port_->flush();
    else
        port_->close();
}

// The received text as the editor gets it, after the old text: in memory,
// never through a work file another transfer could rewrite or a read-only
// data folder refuse. It starts on a line of its own: glued to a last line
// without a line end, it would change that block.
std::string Transfers::receiveInto(const std::string& before, const std::string& received) const
{
    const bool glued = !before.empty() && before.back() != '\n' && before.back() != '\r';
    return c_.codec.decode((glued ? "\r\n" : "") + received);
}

void Transfers::Command20_Click()
{
    if (running_)
        return;
    Session session(*this, "入力（パンチャ）", false);
    state() = Running;
    lastInput_ = {};
    if (!ComSet())
        return;
    TransferHost& h = c_.host;
    const DeviceProfile& p = c_.profile;
    lock({PanelControl::Command20, PanelControl::Command10, PanelControl::Command5, PanelControl::Check1});
    const std::string before = h.editorText();
    std::string received;
    kept_ = 0;
    bool load = false;
    long long counter = 0;
    bool lineEnded = false;
    std::string label;
    const bool ignoreSpaces = leadingValue(c_.settings.read("Tarvex", "Pcheck2", "0")) == 1;
    rxLine_ = 1, rxColumn_ = 0;
    // One received byte: feeds (and ignored spaces) dropped, a run of line
    // ends made one line end. False once the input ends at it.
    auto take = [&](std::uint8_t b) {
        if (!byteSound(b))
            return false;
        auto c = receive(b);
        if (c == ' ' && ignoreSpaces) {
            c = '\0';
            lineEnded = false;
        }
        if (c == '\n' || c == '\r') {
            if (!lineEnded) {
                received += "\r\n";
                keepReceived(received);
                placeLineEnd();
            }
            lineEnded = true;
        } else if (c && *c != '\0') {
            if (lineEnded)
                label.clear();
            received += *c;
            ++counter;
            ++rxColumn_;
            lineEnded = false;
            label += *c;
        }
        return true;
    };
    try {
        if (auto start = controlCode(p.inCodes[0]))
            sendNow(*start, "起動コード(入力)");
        h.setStatus1({});
        load = true;
        progress("0文字の入力を完了", true);
        const auto stop = controlCode(p.inCodes[2]), request = controlCode(p.inCodes[1]);
        const auto timeout = std::chrono::duration<double>(std::max(0.0f, p.timeout));
        auto lastReceive = Clock::now();
        bool stopped = false;
        std::string shown;
        auto lastLabel = Clock::now() - 1s;
        for (;;) {
            if (port_->InBufferCount() > 0) {
                if (!take(*read()))
                    break;
                lastReceive = Clock::now();
            }
            if (timedOut(timeout, counter, lastReceive)) {
                c_.status.StatusText = "タイムアウトを検出しました。";
                monitorEvent("タイムアウト");
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
                progress(std::to_string(counter) + "文字の入力を完了");
            if (label != shown && Clock::now() - lastLabel >= 50ms) {
                h.setLabel2(label);
                shown = label;
                lastLabel = Clock::now();
            }
        }
        if (state() == Cancelled)
            drain(take, port_->InBufferCount());
        progress(std::to_string(counter) + "文字の入力を完了", true);
    } catch (const Failure& f) {
        fail(f);
        if (load)
            drain(take);
    }
    if (load) {
        keepReceived(received);
        if (!received.empty())
            h.appendEditorText(receiveInto(before, received));
    }
    h.setStatus1(c_.status.StatusText);
    try {
        if (auto end = controlCode(p.inCodes[3]); end && port_->isOpen() && !port_->failure())
            sendNow(*end, "終了コード(入力)");
    } catch (const Failure& f) {
        fail(f);
    }
    releasePort();
    unlock({PanelControl::Command20, PanelControl::Command10, PanelControl::Command5}); // the scroll box stays off
    // Once the reader is stopped. The end code is ours to send: the tape is
    // whole once its closing "%" came.
    if (load)
        finishInput(received.size(), programClosed(received));
    h.IOEnd();
    h.afterInput();
}

void Transfers::Command21_Click()
{
    if (running_)
        return;
    Session session(*this, "入力（検査装置）", false);
    state() = Running;
    lastInput_ = {};
    if (!ComSet())
        return;
    TransferHost& h = c_.host;
    lock({PanelControl::Command21});
    std::string before = h.editorText(); // only the first line may need a line end before it
    std::string line; // the line arriving, as bytes
    std::size_t kept = 0;
    bool fault = false, failed = false;
    rxLine_ = 1, rxColumn_ = 0;
    // One received byte: each complete line reaches the editor at once (true then).
    auto take = [&](std::uint8_t b) {
        if (!byteSound(b)) {
            fault = true;
            return false;
        }
        const auto c = receive(b);
        if (c != '\n' && c != '\r') {
            if (c) {
                line += *c;
                ++rxColumn_;
            }
            return false;
        }
        line += "\r\n";
        h.appendEditorText(receiveInto(std::exchange(before, std::string()), line));
        h.receivedText(line);
        kept += line.size();
        line.clear();
        placeLineEnd();
        return true;
    };
    try {
        h.setStatus1("--- 受信待機中 ---");
        yield();
        for (;;) {
            if (port_->InBufferCount() > 0) {
                if (take(*read()))
                    yield();
                if (fault)
                    break;
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
        failed = true;
        // A failing line still delivers what arrived, the unfinished line too.
        drain([&](std::uint8_t b) {
            take(b);
            return !fault;
        });
    }
    // A line cut short by a fault or a failure is kept as far as it came.
    if ((fault || failed) && !line.empty()) {
        h.appendEditorText(receiveInto(std::exchange(before, std::string()), line));
        h.receivedText(line);
        kept += line.size();
    }
    yield();
    h.setStatus1(c_.status.StatusText);
    releasePort();
    unlock({PanelControl::Command21});
    // Measurements have no end of their own: only a fault or a failure cuts them short.
    finishInput(kept, !fault && !failed);
}

} // namespace tarvex
