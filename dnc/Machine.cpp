#include "dnc/Machine.h"
#include "dnc/ReceivedStore.h"
#include "dnc/ShopPrograms.h"
#include "platform/SettingsStore.h"
#include "platform/UiServices.h"
#include "platform/posix/Cp932Codec.h"
#include "platform/posix/DevicePort.h"
#include "platform/posix/PosixEventLoop.h"
#include "platform/posix/PosixFileSystem.h"
#include "serial/DeviceProfile.h"
#include "serial/LineMonitor.h"
#include "serial/Transfers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <sys/stat.h>

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string now() { return localTime(std::time(nullptr), "%Y-%m-%d %H:%M:%S"); }

// The settings the transfers read (ports, puncher details): the service has
// none of its own, the device comes from the configuration.
class MemorySettings final : public SettingsStore {
public:
    std::string read(std::string_view section, std::string_view key, std::string_view fallback) const override
    {
        const auto it = values_.find(std::string(section) + "/" + std::string(key));
        return it == values_.end() ? std::string(fallback) : it->second;
    }
    void write(std::string_view section, std::string_view key, std::string_view value) override
    {
        values_[std::string(section) + "/" + std::string(key)] = std::string(value);
    }

private:
    std::map<std::string, std::string> values_;
};

class LoggedBox final : public MessageBox {
public:
    std::vector<std::string> shown;
    MsgAnswer show(const std::string& text, const std::string&, MsgIcon, MsgButtons) override
    {
        shown.push_back(text);
        return MsgAnswer::Ok;
    }
};

// Waits until the time is up or something wakes it (a byte, a line event,
// the stop), and looks at the stop and a request's time-out before and after.
class MachineEvents final : public EventLoop {
public:
    std::function<void()> onStep;
    void yield() override
    {
        if (onStep)
            onStep();
    }
    void wait(std::chrono::microseconds time) override
    {
        // A byte, a line event or the stop wakes it: no need to look more often.
        if (onStep)
            onStep();
        inner_.wait(time);
        if (onStep)
            onStep();
    }
    void wake() override { inner_.wake(); }
    void setBusy(bool) override {}

private:
    PosixEventLoop inner_;
};

// A library program read and converted as it goes out, a piece at a time:
// the memory a request takes does not grow with its program, and the port
// listens before the first byte is read. A file rewritten in place meanwhile
// (a new one renamed over it is no harm: the old one is read on) fails the
// output: the machine must not get a program of two.
Transfers::TextPieces programPieces(std::shared_ptr<FileReader> reader, const std::string& path,
                                    const struct stat& opened, const TextCodec& codec)
{
    constexpr std::size_t pieceSize = 64 * 1024;
    auto carry = std::make_shared<std::string>();
    const auto stamp = [](const struct stat& st) {
        return std::tuple(st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    };
    return {[=, &codec](std::string& piece) -> Error {
                std::string bytes = std::exchange(*carry, {});
                for (;;) {
                    const std::size_t had = bytes.size();
                    if (Error e = reader->read(pieceSize, bytes))
                        return e;
                    const bool end = bytes.size() == had;
                    struct stat now{};
                    if (::stat(path.c_str(), &now) == 0 && now.st_dev == opened.st_dev && now.st_ino == opened.st_ino
                        && stamp(now) != stamp(opened))
                        return {57, path + " は送信中に書き換えられました。"};
                    // Whole characters, and a CR together with its LF.
                    std::size_t cut = end ? bytes.size() : codec.wholeCharacters(bytes);
                    if (!end && cut > 0 && bytes[cut - 1] == '\r')
                        --cut;
                    if (cut > 0 || end) {
                        *carry = bytes.substr(cut);
                        piece = codec.decode(std::string_view(bytes).substr(0, cut));
                        return {};
                    }
                }
            },
            static_cast<std::uint64_t>(opened.st_size)};
}

} // namespace

// A received program on its way to the disk.
struct Machine::Unsaved {
    std::string bytes, number;
    bool partial = false;
    std::string why; // what cut it short
    std::time_t arrival = 0;
    std::unique_ptr<ReceiveSpool> spool; // what came, as it came, where it could be written
    std::string error;                   // why it could not be written

    // Its name in a folder, the n-th that is tried.
    std::string name(int n) const { return receivedName(number, arrival, n, partial); }
};

// The window of the machine's transfers: the program to send, what arrives,
// and the status texts turned into the machine's state.
struct Machine::Impl final : TransferHost {
    Machine& m;
    enum class Phase { Input, Output, Drip } phase = Phase::Input;
    std::string received; // what arrived, cp932 with CR LF
    std::unique_ptr<ReceiveSpool> spool; // and on the disk as it arrives
    std::optional<Clock::time_point> deadline; // a request's wait for the start code
    bool waiting = false;                      // an output waits for its start code
    bool listening = false;                    // an input waits for its start code or first byte
    bool dropped = false;                      // a request given up for want of its start code
    bool cancelled = false;

    MemorySettings settings;
    PosixFileSystem fs;
    Cp932Codec codec;
    LoggedBox box;
    MachineEvents events;
    DevicePort port1, port2;
    DeviceProfile profile;
    TransferStatus transferStatus;
    LineMonitor monitor;
    Transfers t;

    explicit Impl(Machine& machine)
        : m(machine),
          t({profile, transferStatus, settings, port1, port2, *this, events, box, fs, codec, machine.shop_.received})
    {
        t.deviceOverride = m.config_.device;
        t.holdPortOpen = true; // programs sent back to back
        t.quietStep = 1s; // 32 idle lines: under 1 % of a core
        t.monitor = &monitor;
        port1.onActivity = port2.onActivity = [this] { events.wake(); };
        // A punch goes before a request that waits for its start code.
        t.givesWay = [this](std::uint8_t b) { return sameCode(controlCode(profile.inCodes[0]), b); };
        events.onStep = [this] { step(); };
    }

    void step()
    {
        // Only while the line is quiet: a transfer is never held up by a slow disk.
        if (listening)
            m.retryUnsaved(false);
        if (cancelled)
            return;
        const bool late = deadline && Clock::now() > *deadline;
        // A machine that goes away leaves at once only while nothing comes.
        const bool leave = m.retiring_ && listening && port1.InBufferCount() == 0
                           && (controlCode(profile.inCodes[0]) || t.inputCount() == 0);
        if (m.stopping_ || late || leave) {
            cancelled = true;
            if (late) {
                dropped = true;
                MachineStatus st = m.status();
                st.lastError = "要求の出力: 起動コードが " + std::to_string(static_cast<long>(m.config_.requestTimeout))
                               + " 秒来ないため取りやめました";
                m.setStatus(st);
                m.error(st.lastError);
            }
            t.CommandCancel_Click();
        }
    }

    void state(const std::string& s, int percent = -1)
    {
        MachineStatus st = m.status();
        st.state = s == "idle" && !m.unsaved_.empty() ? "unsaved" : s;
        st.percent = percent;
        if (s != "receiving")
            st.bytes = -1;
        m.setStatus(st);
    }

    // TransferHost
    void Control(bool) override {}
    void setPanelEnabled(PanelControl, bool) override {}
    bool panelEnabled(PanelControl) const override { return true; }
    void setCancelEnabled(bool) override {}
    void setStatus1(const std::string& s) override
    {
        // The wait for the start code, of an input, an output or a tape run.
        if (s.find("待機中") != std::string::npos) {
            state(phase == Phase::Input ? "idle" : "waiting-start");
            waiting = phase != Phase::Input;
            listening = phase == Phase::Input;
        } else if (s.empty() && listening) {
            listening = false; // the start code came
        } else if (s.empty() && waiting) {
            waiting = false;
            deadline.reset(); // the start code came: the output runs to its end
        }
    }
    void setLabel2(const std::string&) override {}
    void setCaption(const std::string& c) override
    {
        if (phase == Phase::Input) {
            // Without a start code the count starts while the line is still
            // quiet: the machine listens until a character comes.
            const bool quiet = c.starts_with("0文字") && !controlCode(profile.inCodes[0]);
            state(quiet ? "idle" : "receiving");
            listening = quiet;
            return;
        }
        const auto percent = c.find('%');
        state(phase == Phase::Drip ? "drip" : "sending",
              percent == std::string::npos ? -1 : std::atoi(c.substr(0, percent).c_str()));
    }
    void IOEnd() override {}
    int slider1() const override { return std::clamp<int>(profile.wait, 0, 1000); }
    std::string editorText() const override { return {}; } // outputs read their pieces
    void setEditorText(std::string_view) override {}
    void appendEditorText(std::string_view) override {}
    void selectInEditor(std::size_t) override {}
    void focusEditor() override {}
    void afterInput() override {}
    void receivedText(std::string_view bytes) override
    {
        received += bytes;
        if (!spool) {
            spool = std::make_unique<ReceiveSpool>();
            spool->open(joinPath(m.shop_.received, m.config_.name), fs.newFileMode()); // else kept in memory only
        }
        spool->append(bytes);
        MachineStatus st = m.status();
        st.state = "receiving";
        st.bytes = static_cast<long long>(received.size());
        m.setStatus(st);
    }

    bool loadProfile()
    {
        std::string bytes;
        const std::string path = joinPath(m.shop_.profiles, m.config_.profile);
        if (Error e = fs.readFile(path, bytes, smallFileLimit)) {
            m.log("装置設定 " + path + " を読めません: " + e.description);
            return false;
        }
        profile = {};
        parseProfile(codec.decode(bytes), profile);
        return true;
    }

    // After a byte that failed its check the control sends on: the rest of
    // that program is no program of its own. It is read and dropped until
    // the end code, or until the line has been quiet for the time-out (3 s
    // without one), so that the next punch starts clean. A start code ends
    // it too: the control sends the program again, or the next one.
    void discardRest()
    {
        const auto start = controlCode(profile.inCodes[0]), end = controlCode(profile.inCodes[3]);
        const auto quiet = std::chrono::duration<double>(profile.timeout > 0 ? profile.timeout : 3.0);
        std::size_t dropped = 0;
        auto last = Clock::now();
        while (!m.stopping_ && port1.isOpen() && !port1.failure() && Clock::now() - last < quiet) {
            if (port1.InBufferCount() == 0) {
                events.wait(std::chrono::milliseconds(100));
                continue;
            }
            const auto b = port1.readByte();
            last = Clock::now();
            const bool marked = !b || port1.byteError();
            if (!marked && start && inputCode(profile, start, *b)) {
                t.startCodeTaken();
                break;
            }
            ++dropped;
            if (!marked && codeAmongData(profile, end, *b))
                break;
        }
        port1.takeEvents();
        m.log("誤ったバイトの後の残りを捨てました（" + std::to_string(dropped) + " バイト）");
    }

    // The monitor's log of the transfer just ended goes to the machine's log.
    void logTransfer()
    {
        if (!monitor.records().empty() && monitor.records().back().added > 0)
            m.log(monitor.records().back().text());
    }
};

Machine::Machine(const DncConfig& shop, MachineConfig config, const std::atomic<bool>& stopping, EventSink event)
    : shop_(shop), config_(std::move(config)), stopping_(stopping), event_(std::move(event)),
      impl_(std::make_unique<Impl>(*this))
{
    status_.since = std::time(nullptr);
}

Machine::~Machine() = default;

void Machine::wake() { impl_->events.wake(); }

MachineStatus Machine::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void Machine::setStatus(const MachineStatus& s)
{
    std::lock_guard lock(mutex_);
    const bool changed = s.state != status_.state;
    status_ = s;
    if (changed)
        status_.since = std::time(nullptr);
}

void Machine::log(const std::string& line)
{
    appendRotated(joinPath(shop_.logs, config_.name + ".log"), now() + " " + line + (line.ends_with('\n') ? "" : "\n"));
}

void Machine::error(const std::string& line, bool event)
{
    log(line);
    std::fprintf(stderr, "tarvex-dnc: %s: %s\n", config_.name.c_str(), line.c_str());
    if (event && event_)
        event_(config_.name, line, true);
}

void Machine::retire()
{
    retiring_ = true;
    wake();
}

void Machine::pause(std::chrono::duration<double> time, bool untilRetired)
{
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(time);
    while (!stopping_ && !(untilRetired && retiring_) && Clock::now() < until)
        impl_->events.wait(std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()));
}

void Machine::take(const std::string& received, bool complete, const std::string& why)
{
    Impl& m = *impl_;
    const std::string number = firstProgramNumber(received);
    const bool drip = !config_.dripProgram.empty() && number == config_.dripProgram;
    const bool request = drip || (!config_.requestProgram.empty() && number == config_.requestProgram);
    if (request && complete) {
        if (m.spool)
            m.spool->drop();
        m.spool.reset();
        return answer(received, number, drip);
    }
    if (request)
        log("要求 " + number + " は途中で終わったため、答えずに保存します");
    auto program = std::make_unique<Unsaved>();
    program->bytes = received;
    program->number = number;
    program->partial = !complete;
    program->why = why;
    program->arrival = std::time(nullptr);
    program->spool = std::move(m.spool);
    save(std::move(program));
}

bool Machine::store(Unsaved& p, bool retry)
{
    const std::string folder = joinPath(shop_.received, config_.name);
    auto name = [&](int n) { return p.name(n); };
    std::string taken;
    int e = p.spool && p.spool->isOpen() ? p.spool->publish(name, taken) : EBADF;
    if (e) {
        e = storeReceived(folder, p.bytes, impl_->fs.newFileMode(), name, taken);
        if (!e && p.spool)
            p.spool->drop();
    }
    if (e) {
        p.error = joinPath(folder, name(1)) + ": " + std::strerror(e);
        return false;
    }
    const std::string path = joinPath(folder, taken);
    const std::string size = "（" + std::to_string(p.bytes.size()) + " バイト）";
    MachineStatus s = status();
    if (!retry)
        s.program = taken;
    if (p.partial) {
        s.lastError = taken + ": 途中まで（" + p.why + "）";
        setStatus(s);
        error("受信（途中まで）: " + path + size + ": " + p.why);
        return true;
    }
    if (!retry)
        s.lastError.clear(); // a transfer that ended well
    setStatus(s);
    log(std::string(retry ? "保存し直しました: " : "受信: ") + path + size);
    if (event_)
        event_(config_.name, std::string(retry ? "保存し直しました: " : "受信: ") + taken + size, false);
    return true;
}

void Machine::save(std::unique_ptr<Unsaved> program)
{
    if (store(*program, false))
        return;
    error("受信したプログラムを保存できません（メモリに置き、" + std::to_string(saveRetry.count())
          + " 秒ごとに保存し直します）: " + program->error);
    MachineStatus s = status();
    s.lastError = program->error;
    if (s.state == "idle")
        s.state = "unsaved";
    unsaved_.push_back(std::move(program));
    nextRetry_ = Clock::now() + saveRetry;
    setStatus(s);
}

void Machine::retryUnsaved(bool force)
{
    if (unsaved_.empty() || (!force && Clock::now() < nextRetry_))
        return;
    nextRetry_ = Clock::now() + saveRetry;
    const std::string shown = status().lastError;
    for (auto it = unsaved_.begin(); it != unsaved_.end();)
        it = store(**it, true) ? unsaved_.erase(it) : it + 1;
    MachineStatus s = status();
    if (!unsaved_.empty())
        s.lastError = unsaved_.front()->error;
    else if (s.lastError == shown)
        s.lastError.clear(); // a program cut short says so instead
    if (unsaved_.empty() && s.state == "unsaved")
        s.state = "idle";
    setStatus(s);
}

// The last chance: the Received folder once more, else the logs' folder.
// A program that neither takes is still in its spool, where there is one,
// and the next start names it.
void Machine::keepUnsavedAtStop()
{
    retryUnsaved(true);
    const std::string folder = joinPath(joinPath(shop_.logs, "unsaved"), config_.name);
    for (auto& p : unsaved_) {
        std::string taken, line;
        if (int e = storeReceived(folder, p->bytes, impl_->fs.newFileMode(),
                                  [&](int n) { return p->name(n); }, taken)) {
            line = "受信したプログラム（" + std::to_string(p->bytes.size()) + " バイト）をどこにも保存できません: " + folder
                   + ": " + std::strerror(e);
        } else {
            line = "受信したプログラムを " + joinPath(folder, taken) + " に保存しました（" + p->error + "）";
            if (p->spool)
                p->spool->drop();
        }
        error(line);
    }
    unsaved_.clear();
}

void Machine::answer(const std::string& received, const std::string& number, bool drip)
{
    Impl& m = *impl_;
    const std::string name = requestedName(received);
    const std::string kind = drip ? "ドリップ要求 " : "要求 ";
    MachineStatus s = status();
    auto refuse = [&](const std::string& why) {
        s.lastError = kind + number + ": " + why;
        setStatus(s);
        error("要求を断りました: " + s.lastError);
    };
    if (name.empty())
        return refuse("プログラム名がありません（\"" + number + " (1234)\" の形で指定）");
    if (!plainProgramName(name)) {
        std::string shown = name; // a control byte is not written to the log
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = '?';
        return refuse("使えない文字を含むプログラム名（" + shown + "）");
    }
    log(kind + number + ": " + name);
    const LibraryMatch match = findInLibrary(shop_.library, name);
    if (!match.refusal.empty())
        return refuse(match.refusal);
    Error e;
    std::shared_ptr<FileReader> reader = m.fs.openFile(match.path, e);
    struct stat st{};
    if (!reader || ::stat(match.path.c_str(), &st) != 0)
        return refuse(match.path + ": " + (e ? e.description : std::string(std::strerror(errno))));
    if (stopping_)
        return;
    m.t.pieces = programPieces(reader, match.path, st, m.codec);
    s.program = name;
    setStatus(s);
    m.phase = drip ? Impl::Phase::Drip : Impl::Phase::Output;
    m.box.shown.clear();
    m.cancelled = false;
    m.dropped = false;
    // A control that sends its start code early is served: the wait starts
    // at once. Without a start code it is given time to get ready.
    const bool startCode = controlCode(m.profile.outCodes[0]).has_value();
    if (startCode)
        m.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(config_.requestTimeout));
    else
        pause(std::chrono::duration<double>(config_.requestDelay));
    // "waiting-start" comes once the port is open and listens: a start code
    // sent before that would be flushed with the opening.
    if (!startCode)
        m.state(drip ? "drip" : "sending");
    if (drip)
        m.t.Command11_Click();
    else
        m.t.Command1_Click();
    m.t.pieces.reset();
    m.logTransfer();
    m.deadline.reset();
    if (m.t.gaveWay()) {
        log(kind + number + ": " + name + " は送りません（機械がパンチを始めました）");
        return;
    }
    s = status();
    const std::string& said = m.transferStatus.StatusText;
    const bool well = m.box.shown.empty() && (said == "送信を終了しました。" || said.starts_with("終了コード "));
    if (!m.box.shown.empty())
        s.lastError = m.box.shown.back();
    else if (well)
        s.lastError.clear();
    else if (!m.dropped)
        s.lastError = kind + number + ": " + said; // a drop said its own
    setStatus(s);
    const std::string line = kind + number + " " + match.path + ": " + (m.box.shown.empty() ? said : m.box.shown.back());
    if (well) {
        log(line);
        if (event_)
            event_(config_.name, kind + number + ": " + name + " を送りました", false);
    } else {
        error(line);
    }
}

void Machine::run()
{
    Impl& m = *impl_;
    std::chrono::seconds backOff = 1s;
    std::string told; // the failure the shop's events heard of: once, not at every try
    auto fail = [&](const std::string& error) {
        MachineStatus s = status();
        const bool again = std::exchange(told, error) == error;
        s.state = "retrying";
        s.percent = -1;
        s.lastError = error;
        setStatus(s);
        const std::string line = "エラー: " + error + "（" + std::to_string(backOff.count()) + " 秒後に再試行）";
        this->error(line, !again);
        pause(backOff, true); // a reload takes effect at once, not after the back-off
        backOff = std::min<std::chrono::seconds>(backOff * 2, maxBackOff);
    };
    log("開始: " + config_.device + " 装置設定 " + config_.profile);
    for (const std::string& line : recoverSpools(joinPath(shop_.received, config_.name)))
        log(line);
    while (!stopping_ && !retiring_) {
        retryUnsaved(false);
        if (!m.loadProfile()) {
            fail("装置設定 " + config_.profile + " を読めません");
            continue;
        }
        m.phase = Impl::Phase::Input;
        m.listening = false;
        m.received.clear();
        m.spool.reset();
        m.box.shown.clear();
        m.cancelled = false;
        // "idle" once the input waits on the open port: a punch before that may be flushed.
        m.t.Command2_Click();
        m.logTransfer();
        // What arrived is kept whatever ended the input, marked when it is not whole.
        const Transfers::InputEnd& input = m.t.lastInput();
        if (!m.received.empty()) {
            take(m.received, input.complete, stopping_ ? "サービスの停止" : m.transferStatus.StatusText);
        } else if (input.dataFault) {
            MachineStatus s = status();
            s.lastError = m.transferStatus.StatusText;
            setStatus(s);
        }
        if (input.dataFault)
            m.discardRest();
        if (!m.box.shown.empty()) {
            // The device's own words where it could not be opened.
            const Error& cause = m.t.openError();
            fail(cause ? config_.device + ": " + cause.description : m.box.shown.back());
            continue;
        }
        backOff = 1s;
        told.clear();
    }
    m.port1.close();
    m.port2.close();
    keepUnsavedAtStop();
    m.state("idle");
    log("終了");
    finished_ = true;
}

std::string statusLine(const std::string& name, const MachineStatus& s)
{
    auto field = [](const std::string& v) { return v.empty() ? std::string("-") : v; };
    std::string error = s.lastError;
    for (char& c : error)
        if (c == '\n' || c == '\t')
            c = ' ';
    return name + "\t" + s.state + "\t" + field(s.program) + "\t" + (s.percent < 0 ? "-" : std::to_string(s.percent))
           + "\t" + field(error) + "\t" + (s.bytes < 0 ? "-" : std::to_string(s.bytes)) + "\n";
}

void appendRotated(const std::string& path, const std::string& text, std::uintmax_t limit, int keep)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (const auto size = fs::file_size(path, ec); !ec && size + text.size() > limit) {
        fs::remove(path + "." + std::to_string(keep), ec);
        for (int k = keep - 1; k >= 1; --k)
            fs::rename(path + "." + std::to_string(k), path + "." + std::to_string(k + 1), ec);
        fs::rename(path, path + ".1", ec);
    }
    if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

} // namespace tarvex
