// The frame around every transfer: the port opened with the profile, the
// window locked and unlocked, the line events, the cancel button, the
// failure message and the progress caption.
#include "platform/FileSystem.h"
#include "platform/SerialPort.h"
#include "platform/SettingsStore.h"
#include "platform/UiServices.h"
#include "serial/TransferStates.h"
#include "platform/Numbers.h"

#include <algorithm>
#include <cmath>

namespace tarvex {

using namespace transfer;

namespace {

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

// A line event moves the state only where it means something: a pause only
// stops a running transfer, going on only ends a pause, and an error ends a
// running or paused one. A cancel or an end already there stays: a CTS-on
// after 中止 must not send the rest of the program.
void apply(const EventRule& rule, TransferStatus& status, SerialPort* port = nullptr)
{
    const short from = status.TransferState;
    if (from == Cancelled || from == Ended)
        return;
    if (!rule.keepState) {
        const bool moves = rule.state == Paused ? from == Running : rule.state == Running ? from == Paused : true;
        if (!moves)
            return;
        status.TransferState = rule.state;
        if (port && rule.state == Paused)
            port->holdOutput(); // what waits in the port waits for the line too
        else if (port && rule.state == Running)
            port->releaseHold();
    }
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

// The buttons that start a transfer: while one runs, none of them may.
constexpr PanelControl startButtons[] = {PanelControl::Command1,  PanelControl::Command2,  PanelControl::Command10,
                                         PanelControl::Command11, PanelControl::Command20, PanelControl::Command21};

// The handshake of a profile as a number; -1 (refused by the port) for text
// that is no small whole number.
int handshakeOf(const std::string& text)
{
    const double v = leadingValue(text);
    return std::isfinite(v) && v >= 0 && v <= 3 && v == std::floor(v) ? static_cast<int>(v) : -1;
}

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

// Applies the profile to a port and opens it; false (after the message) when
// the port does not exist, is busy or refuses the settings.
bool Transfers::openPort(SerialPort& port, bool receiveEvents)
{
    const DeviceProfile& p = c_.profile;
    LineSettings line;
    line.baud = p.baud;
    line.parity = p.parity.size() == 1 ? p.parity[0] : '?';
    line.dataBits = p.dataBits;
    line.stopBits = p.stopBits;
    line.handshake = handshakeOf(p.handshake);
    line.xonXoffOutput = !transferHandlesDcCodes(p);
    const std::string device = deviceOverride.empty() ? portDevice(c_.settings, p.port) : deviceOverride;
    // An output that gave way to an input left the port open for it; a
    // service keeps it open while the line and its settings stay the same.
    const bool held = port.isOpen() && &port == port_;
    const bool reuse = (std::exchange(reuseOpen_, false) && held)
                       || (holdPortOpen && held && device == openDevice_ && line == openLine_ && !port.failure());
    if (holdPortOpen && port_ && port_ != &port && port_->isOpen())
        port_->close(); // the other port, on the same device
    if (port.isOpen() && !reuse)
        port.close();
    if (reuse)
        port.takeEvents(); // the last transfer's: a line event of its own must not end this one
    const bool portValid = (p.port >= 1 && p.port <= 8) || !deviceOverride.empty();
    // A code that is no byte would go out as another byte (&H114 as DC4).
    bool codesValid = true;
    for (const auto* codes : {&p.inCodes, &p.outCodes})
        for (const std::string& code : *codes)
            codesValid = codesValid && validControlCode(code);
    openError_ = !portValid    ? Error{380, "ポート番号 " + std::to_string(p.port) + " は 1 から 8 までです"}
                 : !codesValid ? Error{380, "制御コードが 1 バイトではありません"}
                 : reuse       ? Error{}
                               : port.open(device, line, receiveEvents);
    if (openError_) {
        if (reuse)
            port.close();
        c_.messageBox.show("プロパティの値が正しくありません", "TARVEX");
        return false;
    }
    port_ = &port;
    lineFault_ = false;
    openDevice_ = device;
    openLine_ = line;
    failureShown_ = false;
    lineCharacterTime_ = line.characterTime();
    // The partner's stop and end codes hold the output in the port the
    // moment they come in, its request code (on a tape run also its start
    // code) lets it go on; an input holds nothing.
    HoldCodes hold;
    if (outputSide_) {
        hold.stop = codes_[2];
        hold.end = codes_[3];
        for (int k : {0, 1})
            if (codes_[k] && (k == 1 || &port == &c_.MSComm2))
                hold.resume.push_back(*codes_[k]);
    }
    port.holdOn(std::move(hold));
    if (monitor)
        monitor->begin(title_, device, line);
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

// The window locked for a transfer: the transfer's own controls, and every
// other button that starts a transfer, so that none starts inside it.
void Transfers::lock(std::initializer_list<PanelControl> own)
{
    c_.host.Control(false);
    c_.status.StatusText.clear();
    others_.clear();
    for (PanelControl b : startButtons)
        if (std::find(own.begin(), own.end(), b) == own.end())
            others_.emplace_back(b, c_.host.panelEnabled(b));
    for (PanelControl b : own)
        c_.host.setPanelEnabled(b, false);
    for (const auto& [b, enabled] : others_)
        c_.host.setPanelEnabled(b, false);
}

// The others as they were; the transfer's own as its end says.
void Transfers::unlock(std::initializer_list<PanelControl> own)
{
    c_.host.Control(true);
    for (const auto& [b, enabled] : others_)
        c_.host.setPanelEnabled(b, enabled);
    others_.clear();
    for (PanelControl b : own)
        c_.host.setPanelEnabled(b, true);
}

// A failure is told once, and stays as the transfer's status: the end of the
// transfer then goes on without it.
void Transfers::fail(const Failure& f)
{
    if (failureShown_)
        return;
    failureShown_ = true;
    if (monitor)
        monitor->pauseOver(); // a pause ends with the line: the end sequence is no part of it
    c_.messageBox.show(f.error.description, "TARVEX", MsgIcon::Exclamation);
    c_.status.StatusText = f.error.description;
    state() = Ended;
}

// The caption as a progress counter: the screen follows at most 20 times a second.
void Transfers::progress(const std::string& caption, bool force)
{
    const auto now = Clock::now();
    pendingProgress_ = caption;
    if (force || now - lastProgress_ >= progressInterval) {
        c_.host.setCaption(caption);
        lastProgress_ = now;
        pendingProgress_.clear();
    }
}

void Transfers::CommandCancel_Click()
{
    // Nothing waiting in the port follows a cancel.
    if (running_ && outputSide_ && port_)
        port_->discardOutput();
    state() = Cancelled;
    c_.status.StatusText = "--- 中止しました。---";
    c_.host.setCancelEnabled(false);
    monitorEvent("中止ボタン");
    if (monitor)
        monitor->pauseOver();
}

void Transfers::Check1_Click(bool ticked)
{
    c_.host.setLabel2({});
    c_.host.setStatus1({});
    ScrollFollow = ticked;
}

namespace {

// A line event as the monitor lists it.
std::string eventText(int event, const SerialPort& port)
{
    const auto state = [](bool on) { return on ? std::string(" オン") : std::string(" オフ"); };
    switch (event) {
    case comm::EvCTS: return "回線: CTS" + state(port.CTSHolding());
    case comm::EvDSR: return "回線: DSR" + state(port.DSRHolding());
    case comm::EvCD: return "回線: CD" + state(port.CDHolding());
    default: break;
    }
    for (const EventRule& rule : errorRules)
        if (rule.event == event)
            return std::string("回線: ") + rule.text;
    return "回線: イベント " + std::to_string(event);
}

} // namespace

void Transfers::MSComm1_OnComm(int event)
{
    TransferStatus& s = c_.status;
    if (event != comm::EvSend && event != comm::EvReceive)
        monitorEvent(eventText(event, c_.MSComm1));
    const bool on = event == comm::EvCTS   ? c_.MSComm1.CTSHolding()
                    : event == comm::EvDSR ? c_.MSComm1.DSRHolding()
                                           : c_.MSComm1.CDHolding();
    switch (event) {
    case comm::EvSend:
    case comm::EvReceive: break;
    case comm::EvCTS:
        apply(on ? EventRule{0, false, Running, false, ""}
                 : EventRule{0, false, Paused, false, "CS ラインの状態が変化しました。"},
              s, &c_.MSComm1);
        break;
    case comm::EvDSR:
        if (!on)
            apply({0, false, Paused, false, "DR ラインがオフになりました。"}, s, &c_.MSComm1);
        break;
    case comm::EvCD:
        apply(on ? EventRule{0, false, Running, false, ""}
                 : EventRule{0, false, Paused, false, "CD ラインの状態が変化しました。"},
              s, &c_.MSComm1);
        break;
    default:
        applyError(event, s);
        lineFault_ = lineFault_ || event == comm::ErRxParity || event == comm::ErFrame;
    }
    c_.host.setStatus1(s.StatusText);
}

void Transfers::MSComm2_OnComm(int event)
{
    if (event != comm::EvSend && event != comm::EvReceive)
        monitorEvent(eventText(event, c_.MSComm2));
    // A change of a line pauses the tape run. Received bytes are judged by
    // the run itself, byte by byte: a repeated start or request code must
    // not hold it for a request code that will not come.
    if (event >= comm::EvCTS && event <= comm::EvCD)
        apply({0, false, Paused, false, "回線の状態が変化しました。"}, c_.status, &c_.MSComm2);
    else if (event >= comm::EvRing)
        applyError(event, c_.status);
    c_.host.setStatus1(c_.status.StatusText);
}

} // namespace tarvex
