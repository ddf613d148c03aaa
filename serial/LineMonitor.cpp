#include "serial/LineMonitor.h"
#include "platform/SerialPort.h"

#include <algorithm>
#include <cstdio>

namespace tarvex {
namespace {

std::string hex(std::uint8_t b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "&H%02X", b);
    return buf;
}

std::string seconds(double s)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

// Where the port cannot tell its output queue, what was written after the
// code is all that is known: the partner may have got more.
std::string afterText(const LineMonitor::Stop& s)
{
    std::string out = "書いた文字 " + std::to_string(s.writtenAfter);
    if (s.queued)
        out += "（出力キュー " + std::to_string(*s.queued) + "）";
    else
        out += " 以上（出力キューがわからないため、相手に届いた数はこれより多いことがあります）";
    return out;
}

const char* handshakeName(int h)
{
    switch (h) {
    case 0: return "なし";
    case 1: return "XON/XOFF";
    case 2: return "RTS/CTS";
    case 3: return "XON/XOFF と RTS/CTS";
    default: return "?";
    }
}

} // namespace

std::string codeName(std::uint8_t b)
{
    const int low = b & 0x7F;
    if (low >= 0x11 && low <= 0x14)
        return "DC" + std::to_string(low - 0x10) + " " + hex(b);
    return hex(b);
}

LineMonitor::Record* LineMonitor::current()
{
    return records_.empty() || !records_.back().running ? nullptr : &records_.back();
}

void LineMonitor::line(const std::string& text)
{
    Record* r = current();
    if (!r)
        return;
    if (text == lastText_) {
        ++repeats_;
        return;
    }
    endRepeat();
    lastText_ = text;
    const double t = std::chrono::duration<double>(Clock::now() - start_).count();
    char stamp[24];
    std::snprintf(stamp, sizeof stamp, "%10.3f  ", t);
    keep(*r, stamp + text);
}

// The line before came again: said once, with the count (×N).
void LineMonitor::endRepeat()
{
    Record* r = current();
    if (r && repeats_ > 0) {
        const double t = std::chrono::duration<double>(Clock::now() - start_).count();
        char stamp[24];
        std::snprintf(stamp, sizeof stamp, "%10.3f  ", t);
        keep(*r, stamp + std::string("（同じ行 ×") + std::to_string(repeats_) + "）");
    }
    repeats_ = 0;
    lastText_.clear();
}

void LineMonitor::keep(Record& r, std::string text)
{
    ++r.added;
    if (r.lines.size() < headLines) {
        r.lines.push_back(std::move(text));
        return;
    }
    r.tail.push_back(std::move(text));
    if (r.tail.size() > tailLines) {
        r.tail.pop_front();
        ++r.omitted;
    }
}

std::vector<std::string> LineMonitor::Record::since(std::size_t shown) const
{
    std::vector<std::string> out;
    for (std::size_t k = shown; k < lines.size(); ++k)
        out.push_back(lines[k]);
    // The tail holds lines added - tail.size() … added - 1.
    const std::size_t tailFirst = added - tail.size();
    const std::size_t from = std::max(shown, tailFirst);
    if (shown < tailFirst && shown >= lines.size())
        out.push_back("（" + std::to_string(tailFirst - shown) + " 行を省略しました）");
    else if (shown < lines.size() && tailFirst > lines.size())
        out.push_back("（" + std::to_string(tailFirst - lines.size()) + " 行を省略しました）");
    for (std::size_t k = from; k < added; ++k)
        out.push_back(tail[k - tailFirst]);
    return out;
}

void LineMonitor::flushCounts()
{
    Record* r = current();
    if (!r)
        return;
    if (pendingSent_ > 0) {
        r->sent += pendingSent_;
        line("ここまでに送信 " + std::to_string(pendingSent_) + " 文字");
    }
    if (pendingReceived_ > 0) {
        r->received += pendingReceived_;
        line("ここまでに受信 " + std::to_string(pendingReceived_) + " 文字");
    }
    pendingSent_ = pendingReceived_ = 0;
}

void LineMonitor::changed()
{
    if (onChange)
        onChange();
}

void LineMonitor::begin(const std::string& title, const std::string& device, const LineSettings& l)
{
    if (current())
        end("（記録の途中で次の通信が始まりました）");
    records_.push_back({});
    while (records_.size() > kept)
        records_.pop_front();
    start_ = Clock::now();
    pausedAt_.reset();
    pendingSent_ = pendingReceived_ = 0;
    lastText_.clear();
    repeats_ = 0;
    Record& r = records_.back();
    r.title = title;
    r.id = nextId_++;
    line("開始: " + title + "  ポート " + device);
    line("設定: " + std::to_string(l.baud) + " bps  パリティ " + std::string(1, l.parity) + "  データ "
         + std::to_string(l.dataBits) + "  ストップ " + std::to_string(l.stopBits) + "  フロー制御 "
         + handshakeName(l.handshake));
    changed();
}

void LineMonitor::sentCode(std::uint8_t b, const std::string& role)
{
    if (!current())
        return;
    flushCounts();
    current()->sent += 1;
    line("送信 " + role + " " + codeName(b));
    changed();
}

void LineMonitor::receivedCode(std::uint8_t b, const std::string& role)
{
    if (!current())
        return;
    flushCounts();
    current()->received += 1;
    line("受信 " + role + " " + codeName(b));
    changed();
}

void LineMonitor::stopCounted(const Stop& after)
{
    Record* r = current();
    if (!r)
        return;
    flushCounts();
    r->afterStops.push_back(after);
    line("  停止コードの到着後に" + afterText(after));
    changed();
}

void LineMonitor::paused()
{
    Record* r = current();
    if (!r || pausedAt_)
        return;
    ++r->stops;
    pausedAt_ = Clock::now();
}

void LineMonitor::resumed()
{
    Record* r = current();
    if (!r || !pausedAt_)
        return;
    const double pause = std::chrono::duration<double>(Clock::now() - *pausedAt_).count();
    pausedAt_.reset();
    ++r->resumptions;
    r->longestPause = std::max(r->longestPause, pause);
    line("再開（停止 " + seconds(pause) + " 秒）");
    changed();
}

void LineMonitor::pauseOver()
{
    Record* r = current();
    if (!r || !pausedAt_)
        return;
    r->longestPause = std::max(r->longestPause, std::chrono::duration<double>(Clock::now() - *pausedAt_).count());
    pausedAt_.reset();
}

void LineMonitor::warn(const std::string& text)
{
    Record* r = current();
    if (r && std::find(r->warnings.begin(), r->warnings.end(), text) == r->warnings.end())
        r->warnings.push_back(text);
}

void LineMonitor::event(const std::string& text)
{
    if (!current())
        return;
    flushCounts();
    line(text);
    changed();
}

void LineMonitor::end(const std::string& status)
{
    Record* r = current();
    if (!r)
        return;
    flushCounts();
    pausedAt_.reset(); // a pause still open ended when the transfer did (cancel, end code, failure)
    endRepeat();
    line("終了: " + (status.empty() ? std::string("（状態なし）") : status));
    r->running = false;
    changed();
}

std::string LineMonitor::Record::text() const
{
    std::string out = title + "\n";
    for (const std::string& l : since(0))
        out += l + "\n";
    return out + summary();
}

std::string LineMonitor::Record::summary() const
{
    std::string out = "\n送信 " + std::to_string(sent) + " 文字  受信 " + std::to_string(received) + " 文字\n";
    out += "停止 " + std::to_string(stops) + " 回  再開 " + std::to_string(resumptions) + " 回  最長の停止 "
           + seconds(longestPause) + " 秒\n";
    std::size_t worst = 0;
    if (!afterStops.empty()) {
        out += "停止コードの後の文字:";
        for (std::size_t k = 0; k < afterStops.size(); ++k) {
            out += (k ? "、" : " ") + std::to_string(afterStops[k].total()) + (afterStops[k].queued ? "" : " 以上");
            worst = std::max(worst, afterStops[k].total());
        }
        out += "\n";
    }
    if (worst > stopOverrunLimit)
        out += "\n注意: 停止コードを受けた後に最大 " + std::to_string(worst)
               + " 文字が相手に届きました。NC装置の受信バッファがあふれる（オーバーフローのアラーム）おそれがあります。"
                 "USB変換アダプタなどのバッファリング、またはフロー制御（XON/XOFF、RTS/CTS）の設定を確認してください。\n";
    for (const std::string& w : warnings)
        out += "\n注意: " + w + "\n";
    if (running)
        out += "（通信中）\n";
    return out;
}

} // namespace tarvex
