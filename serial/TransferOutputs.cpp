// The outputs: to a controller (which asks with its start code and may stop
// and resume the flow), to a puncher (started by our start code, spaces as
// feeds), and the tape run (drip feed on the second port, every byte from
// the partner pausing it).
#include "platform/FileSystem.h"
#include "platform/SerialPort.h"
#include "platform/SettingsStore.h"
#include "platform/TextCodec.h"
#include "platform/TextLines.h"
#include "platform/UiServices.h"
#include "platform/Utf8.h"
#include "serial/TransferStates.h"
#include "platform/Numbers.h"

#include <algorithm>
#include <cmath>

namespace tarvex {

using namespace transfer;

void Transfers::Command1_Click()
{
    if (running_)
        return;
    Session session(*this, restart_ ? "出力（NC装置）ここから" : "出力（NC装置）", true);
    if (!ComSet())
        return;
    TransferHost& h = c_.host;
    const DeviceProfile& p = c_.profile;
    lock({PanelControl::Command1, PanelControl::Command2, PanelControl::Command5});
    try {
        // Sent from memory, or read as it goes: no scratch copy that a
        // read-only data folder could refuse or another transfer rewrite.
        Outgoing text = pieces ? Outgoing(*pieces) : Outgoing(outgoingText());
        yield();
        const double length = static_cast<double>(pieces ? pieces->bytes : c_.codec.byteLength(text.whole()));
        bool toEnd = false;
        if (auto start = controlCode(p.outCodes[0])) {
            h.setStatus1("出力 : 起動コード " + p.outCodes[0] + " の待機中です。");
            // Cancelled or ended before the start code: nothing is sent.
            gaveWay_ = false;
            toEnd = !startCode(*start, [](short st) { return st == Ended || st == Cancelled; });
            if (gaveWay_) {
                // No end code and the port stays open: the partner punches.
                c_.status.StatusText = "相手が入力を始めたため、出力を取りやめました。";
                h.setStatus1(c_.status.StatusText);
                unlock({PanelControl::Command1, PanelControl::Command2, PanelControl::Command5});
                state() = Running;
                return;
            }
        }
        if (!toEnd) {
            h.setStatus1({});
            const auto stop = controlCode(p.outCodes[2]), end = controlCode(p.outCodes[3]),
                       request = controlCode(p.outCodes[1]);
            long long counter = 0;
            std::string line;
            // One character (a line end as '\n'): the wait of the slider, the
            // send step and the display. False when the wait saw the transfer
            // end or cancelled: nothing more goes out then.
            auto sendOne = [&](char32_t c, bool evenIfCancelled) {
                slowDown(h.slider1() + 1);
                if (state() == Ended || (state() == Cancelled && !evenIfCancelled))
                    return false;
                if (c == '\n')
                    sendLineEnd();
                else
                    sendChar(c);
                if (ScrollFollow) {
                    h.selectInEditor(editorOffset(static_cast<std::size_t>(counter)));
                } else if (c == '\n') {
                    h.setLabel2(line);
                    line.clear();
                } else {
                    utf8::append(line, c);
                }
                return true;
            };
            // What the partner sent meanwhile: its stop code pauses until
            // the request code, its end code ends the output.
            auto watch = [&] {
                for (std::size_t waiting = port_->InBufferCount(); waiting > 0; waiting = port_->InBufferCount()) {
                    const auto b = read();
                    if (b && isCode(stop, *b)) {
                        stopArrived();
                        h.setStatus1("停止コード " + p.outCodes[2] + " を受信しました。");
                        state() = Paused;
                        if (monitor)
                            monitor->paused();
                        // Until the request code. The end code ends the output
                        // here as while sending; so do a line event that ends
                        // the transfer and the cancel button.
                        while (state() == Paused) {
                            const auto got = pauseByte(request || end);
                            if (got && isCode(request, *got))
                                state() = Running;
                            else if (got && isCode(end, *got))
                                endCodeReceived();
                        }
                        holdOver();
                        if (state() == Running) {
                            if (monitor)
                                monitor->resumed();
                        } else if (monitor) {
                            monitor->pauseOver();
                        }
                        h.setStatus1({});
                        break;
                    }
                    if (b && isCode(end, *b)) {
                        endCodeReceived();
                        h.setStatus1({});
                        return;
                    }
                    h.setStatus1({});
                }
            };
            char32_t c = 0;
            for (std::size_t units = 0; !toEnd && text.next(c, units);) {
                counter += static_cast<long long>(units);
                if (!sendOne(c, false)) {
                    counter -= static_cast<long long>(units); // not sent
                    toEnd = state() == Ended;
                    break;
                }
                watch();
                if (state() == Ended)
                    toEnd = true; // no closing "%"
                else if (state() == Cancelled)
                    break;
                else if (counter % 100 == 0)
                    progress(std::to_string(static_cast<long long>(std::floor(counter / length * 100)))
                             + "%の出力を完了");
            }
            holdOver(); // an end code while sending: nothing more but our end code
            if (!toEnd) {
                // The program always closes with a "%" of its own, also after a
                // cancel; the caption says how much of the program went out.
                const bool cancelled = state() == Cancelled;
                sendOne('%', true);
                // Half a second of the program may still wait in the port:
                // the partner steers it to its last byte.
                drainWatching(watch);
                if (state() == Ended)
                    holdOver();
                progress(cancelled ? std::to_string(static_cast<long long>(std::floor(counter / length * 100)))
                                         + "%の出力を完了"
                                   : "100%の出力を完了",
                         true);
            }
        }
    } catch (const Failure& f) {
        fail(f);
    }
    // The end: the line drains, the end code goes last.
    try {
        // The window is repainted meanwhile, but no line event is handled.
        port_->flush();
        // The pause counts from the last character on the line, not in the
        // queue. After a cancel the closing "%" waits a moment at most for a
        // partner that holds the line.
        const auto giveUp = Clock::now() + std::chrono::seconds(1);
        while (port_->waitingOutput() > 0 && !port_->failure() && !port_->outputHeld()
               && (state() != Cancelled || Clock::now() < giveUp))
            c_.events.wait(std::chrono::milliseconds(2));
        for (const auto until = Clock::now() + endPause; Clock::now() < until;)
            c_.events.wait(std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()));
        yield();
        if (auto end = controlCode(p.outCodes[3]); end && port_->isOpen() && !port_->failure())
            sendCode(*end, "終了コード(出力)");
    } catch (const Failure& f) {
        fail(f);
    }
    if (state() == Cancelled)
        c_.status.StatusText = "送信を中止しました。";
    else if (state() < Ended)
        c_.status.StatusText = "送信を終了しました。";
    h.setStatus1(c_.status.StatusText);
    releasePort();
    unlock({PanelControl::Command1, PanelControl::Command2, PanelControl::Command5});
    h.focusEditor();
    state() = Running;
    h.IOEnd();
}

bool Transfers::sendFrom(RestartSend send, bool tapeRun)
{
    if (running_)
        return false;
    restart_ = std::move(send);
    struct Done {
        std::optional<RestartSend>& r;
        ~Done() { r.reset(); }
    } done{restart_};
    if (tapeRun)
        Command11_Click();
    else
        Command1_Click();
    return true;
}

std::string Transfers::outgoingText() const { return restart_ ? restart_->text : c_.host.editorText(); }

bool Transfers::Outgoing::next(char32_t& c, std::size_t& length)
{
    // Enough ahead for a whole character and a CR LF.
    if (!done_ && buf_.size() - pos_ < 8) {
        buf_.erase(0, pos_);
        pos_ = 0;
        while (!done_ && buf_.size() < 8) {
            std::string piece;
            if (Error e = pieces_->next(piece))
                throw Failure{e};
            done_ = piece.empty();
            buf_ += piece;
        }
    }
    if (pos_ >= buf_.size())
        return false;
    const std::size_t at = pos_;
    c = utf8::next(buf_, pos_);
    length = 1;
    if (const std::size_t eol = lineEndLength(buf_, at)) {
        c = '\n';
        pos_ = at + eol;
        length = eol;
    }
    return true;
}

std::size_t Transfers::editorOffset(std::size_t sent) const { return restart_ ? restart_->editorOffset(sent) : sent; }

// Paused until the request (or start) code, the end code, a line event that
// sets another state, or the cancel button. Any other byte goes by.
void Transfers::pause()
{
    const auto request = codes_[1], start = codes_[0], end = codes_[3];
    c_.host.setStatus1(c_.status.StatusText);
    if (monitor)
        monitor->paused();
    while (state() == Paused) {
        const auto b = pauseByte(request || start || end);
        if (!b)
            continue;
        if (isCode(request, *b) || isCode(start, *b))
            state() = Running;
        else if (isCode(end, *b))
            endCodeReceived();
        else if (!isCode(codes_[2], *b)) // a stop code again holds on
            ignored(*b);
    }
    holdOver();
    if (monitor)
        state() == Running ? monitor->resumed() : monitor->pauseOver();
    c_.host.setStatus1({});
}

void Transfers::endCodeReceived()
{
    c_.status.StatusText = "終了コード " + c_.profile.outCodes[3] + " を受信しました。";
    state() = Ended;
}

// The end of the puncher output and of the tape run. After a failure the
// status says what happened; the end code still goes out unless the port
// itself failed.
void Transfers::outputEnd(std::initializer_list<PanelControl> own)
{
    holdOver();
    if (state() == Cancelled)
        c_.status.StatusText = "送信を中止しました。";
    else if (state() != Ended)
        c_.status.StatusText = "送信を終了しました。";
    c_.host.setStatus1(c_.status.StatusText);
    try {
        if (auto end = controlCode(c_.profile.outCodes[3]); end && port_->isOpen() && !port_->failure())
            sendCode(*end, "終了コード(出力)");
    } catch (const Failure& f) {
        fail(f);
    }
    releasePort();
    unlock(own);
    c_.host.focusEditor();
}

// The editor text character after character, as the puncher output and the
// tape run send it: the character after it selected, a space as feeds when
// feedsPerSpace is not negative, a stop code pausing until the request code
// (on the tape run any byte but a start or request code too).
void Transfers::sendText(const std::string& stopMessage, int feedsPerSpace, bool tapeRun)
{
    TransferHost& h = c_.host;
    const auto stop = controlCode(c_.profile.outCodes[2]);
    Outgoing text = pieces ? Outgoing(*pieces) : Outgoing(outgoingText());
    // The tape run tells how far it is, as the controller output does: a
    // drip feed runs for hours.
    const double length = tapeRun ? static_cast<double>(pieces ? pieces->bytes : c_.codec.byteLength(text.whole())) : 0;
    std::size_t offset = 0;
    char32_t c = 0;
    for (std::size_t units = 0; text.next(c, units);) {
        if (tapeRun && offset / 100 != (offset + units) / 100 && length > 0)
            progress(std::to_string(static_cast<long long>(std::floor((offset + units) / length * 100))) + "%の出力を完了");
        offset += units;
        h.selectInEditor(editorOffset(offset));
        if (c == '\n') {
            sendLineEnd();
        } else if (c == ' ' && feedsPerSpace >= 0) {
            for (int k = 0; k < feedsPerSpace && state() != Cancelled; ++k) {
                partnerStops(stop, "停止コードを受信しました", false);
                if (state() == Paused)
                    pause();
                sendByte(0x00);
            }
        } else {
            sendChar(c);
        }
        partnerStops(stop, stopMessage, tapeRun);
        if (state() == Paused)
            pause();
        if (state() == Ended || state() == Cancelled)
            break;
        slowDown(50 * h.slider1() + 1);
        if (state() == Ended || state() == Cancelled)
            break; // nothing more after a cancel during the wait
    }
    // The tail of the program that waits in the port is steered like the rest.
    drainWatching([&] {
        partnerStops(stop, stopMessage, tapeRun);
        if (state() == Paused)
            pause();
    });
}

// Until what waits in the port has gone to the line, the partner's codes
// read meanwhile; a partner that holds the flow, a failure, a cancel or an
// end code ends the wait.
void Transfers::drainWatching(const std::function<void()>& watch)
{
    port_->flush();
    while (port_->waitingOutput() > 0 && !port_->failure() && !port_->outputHeld() && state() != Cancelled
           && state() != Ended) {
        watch();
        c_.events.wait(std::chrono::milliseconds(2));
    }
}

void Transfers::Command10_Click()
{
    if (running_)
        return;
    Session session(*this, "出力（パンチャ）", true);
    if (!ComSet())
        return;
    const DeviceProfile& p = c_.profile;
    lock({PanelControl::Command10, PanelControl::Command20, PanelControl::Command5});
    const bool feeds = leadingValue(c_.settings.read("Tarvex", "Pcheck1", "0")) == 1;
    const int feed = static_cast<int>(std::clamp(leadingValue(c_.settings.read("Tarvex", "Feed", "10")), 0.0, 100000.0));
    try {
        if (auto start = controlCode(p.outCodes[0]))
            sendCode(*start, "起動コード(出力)");
        sendText("停止コード " + p.outCodes[2] + " を受信しました", feeds ? feed : -1, false);
    } catch (const Failure& f) {
        fail(f);
    }
    outputEnd({PanelControl::Command10, PanelControl::Command20, PanelControl::Command5});
}

void Transfers::Command11_Click()
{
    // Started like the other transfers, from the running state, whatever the
    // last one ended with.
    if (running_)
        return;
    Session session(*this, restart_ ? "ﾃｰﾌﾟ運転ここから" : "ﾃｰﾌﾟ運転", true);
    state() = Running;
    TransferHost& h = c_.host;
    const DeviceProfile& p = c_.profile;
    h.setStatus1({});
    h.setLabel2({});
    if (!openPort(c_.MSComm2, true)) {
        state() = Ended;
        return;
    }
    lock({PanelControl::Command1, PanelControl::Command11});
    try {
        if (auto start = controlCode(p.outCodes[0])) {
            h.setStatus1("--- 送信待機中 ---");
            startCode(*start, [](short st) { return st == Ended || st == Cancelled; });
            h.setStatus1({});
        }
        if (state() != Ended && state() != Cancelled) {
            sendText("停止コードを受信しました", -1, true);
            if (state() != Ended && state() != Cancelled)
                progress("100%の出力を完了", true);
        }
    } catch (const Failure& f) {
        fail(f);
    }
    outputEnd({PanelControl::Command1, PanelControl::Command11});
    h.IOEnd(); // the caption names the program again
}

} // namespace tarvex
