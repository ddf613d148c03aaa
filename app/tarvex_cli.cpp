// tarvex-cli: the logic of Tarvex without a window, for scripts and tests.
// Everything it prints is stable; the README documents it.
#include "editor/LineEnds.h"
#include "editor/TextTools.h"
#include "platform/TextLines.h"
#include "platform/UiServices.h"
#include "platform/posix/Cp932Codec.h"
#include "platform/posix/PosixEventLoop.h"
#include "platform/posix/DevicePort.h"
#include "platform/qt/QtSettingsStore.h"
#include "platform/posix/PosixFileSystem.h"
#include "program/Compare.h"
#include "program/Estimate.h"
#include "program/Renumber.h"
#include "platform/qt/QtImageSurface.h"
#include "serial/DeviceProfile.h"
#include "serial/ProfileFolder.h"
#include "serial/TapeCode.h"
#include "serial/Transfers.h"
#include "toolpath/Graphics.h"
#include "toolpath/SubprogramStore.h"
#include "view/PlotTools.h"
#include "toolpath/ConditionTable.h"

#include <QBuffer>
#include <QGuiApplication>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace tarvex;

namespace {

const char* const usage =
    "usage: tarvex-cli COMMAND ARGS\n"
    "  save-copy IN OUT   write IN to OUT as the save command does (line ends CR LF)\n"
    "  roundtrip FILE     check that opening then saving FILE keeps every byte\n"
    "  expand FILE [--home DIR] [--block-skip] [--incremental] [--conditions T1,T2,...] [--summary]\n"
    "                     expand FILE as opening it in graphics mode does; print the segments\n"
    "  dxf FILE OUT.dxf [expand options]\n"
    "                     write the DXF drawing of FILE's toolpath to OUT.dxf\n"
    "  plot FILE OUT.png [--size WxH] [--rapids] [--markings] [expand options]\n"
    "                     draw FILE's toolpath into a PNG image\n"
    "  encode --code iso|eia|ascii [FILE]\n"
    "                     the bytes an output puts on the line for the text (standard input without FILE)\n"
    "  decode --code iso|eia|ascii [FILE]\n"
    "                     the characters that received line bytes give\n"
    "  profile show NAME [--home DIR]\n"
    "                     the eighteen fields of a device profile as loaded\n"
    "  send --profile NAME [--device PATH] [--partner controller|puncher|tape] [--home DIR] [--settings FILE]\n"
    "       [--from-line N | --from-block N1234 [--clearance Z]] [--log LOG] FILE\n"
    "                     send FILE over the serial line as the output commands do; from a block:\n"
    "                     the opening lines, the restart preamble (printed) and the rest\n"
    "  restart-preamble FILE (--from-line N | --from-block N1234) [--clearance Z] [--text]\n"
    "                     print the restart preamble for that block (with --text the whole text\n"
    "                     that would be sent); notes go to standard error\n"
    "  receive --profile NAME [--device PATH] [--partner controller|puncher|inspection] [--home DIR]\n"
    "          [--settings FILE] [--log LOG] OUT\n"
    "                     receive a program over the serial line and append it to OUT\n"
    "  replace --find S --with R [--out OUT] FILE\n"
    "                     replace every S by R (the edit menu's replace); print the count\n"
    "  line-replace --match S --with B [--out OUT] FILE\n"
    "                     replace every line holding S by B, each # the line's number; print the count\n"
    "  check --code iso|eia FILE\n"
    "                     the first character the code cannot carry: exit 1 and where it stands\n"
    "  strip-spaces [--out OUT] FILE\n"
    "                     remove every half-width space; print the count\n"
    "  compare A B        the blocks that differ: \"< LINE TEXT\" of A, \"> LINE TEXT\" of B; exit 0 the\n"
    "                     same machine program, 1 they differ\n"
    "  estimate FILE [--rapid MM_PER_MIN] [--tool-change SECONDS] [--seconds] [--home DIR]\n"
    "                     how long the program runs: cutting, rapid, dwell, tool changes, total\n"
    "  renumber [--start N] [--step N] [--width D] [--existing] [--every N] [--remove] [--out OUT] FILE\n"
    "                     number every block anew (N10, N20…) or take the N words away; print the count\n"
    "  measure FILE [--chain] [--release] --at X,Y [--at X,Y ...] [expand options]\n"
    "                     presses of the path length window; per press the element and the total\n"
    "  measure FILE --total [expand options]\n"
    "                     the lengths of the cutting moves and of the rapid moves\n";

// expand, dxf, plot and measure: a program of the file could not be stored in
// the subprogram store (told on standard error), the expansion ran all the same.
constexpr int storeFailedExit = 3;

int usageError()
{
    std::fputs(usage, stderr);
    return 64;
}

int fail(const std::string& what, const Error& e)
{
    std::fprintf(stderr, "tarvex-cli: %s: %s\n", what.c_str(), e.description.c_str());
    return 2;
}

// Options and positional arguments of a command.
struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options; // "--name" -> value ("" for flags)
    std::vector<std::string> at;                // every --at, in order

    static bool takesValue(const std::string& o)
    {
        return o == "--home" || o == "--conditions" || o == "--size" || o == "--code" || o == "--profile"
               || o == "--device" || o == "--partner" || o == "--settings" || o == "--find" || o == "--with"
               || o == "--match" || o == "--out" || o == "--from-line" || o == "--from-block" || o == "--clearance"
               || o == "--log" || o == "--start" || o == "--step" || o == "--rapid" || o == "--tool-change"
               || o == "--width" || o == "--every";
    }
    bool parse(const std::vector<std::string>& args)
    {
        for (std::size_t k = 0; k < args.size(); ++k) {
            const std::string& a = args[k];
            if (a.rfind("--", 0) != 0) {
                positional.push_back(a);
            } else if (a == "--at") {
                if (k + 1 >= args.size())
                    return false;
                at.push_back(args[++k]);
            } else if (takesValue(a)) {
                if (k + 1 >= args.size())
                    return false;
                options[a] = args[++k];
            } else if (a == "--block-skip" || a == "--incremental" || a == "--summary" || a == "--rapids"
                       || a == "--markings" || a == "--chain" || a == "--release" || a == "--total" || a == "--text"
                       || a == "--remove" || a == "--existing" || a == "--seconds") {
                options[a] = "";
            } else {
                return false;
            }
        }
        return true;
    }
    bool has(const std::string& o) const { return options.count(o) != 0; }
};

// The program of FILE, stored and expanded as opening it in graphics mode does.
struct Opened {
    PosixFileSystem fs;
    Cp932Codec codec;
    std::string progDir;
    ConditionTable conditions;
    SegmentTable segments;
    std::unique_ptr<Graphics> graphics;
    int status = 0;            // 2: the program cannot be read, nothing was expanded
    bool storeFailed = false;  // a program of the file could not be stored
    // The exit code of a command that ran: 3 when the storing failed.
    int done() const { return storeFailed ? storeFailedExit : 0; }

    Opened(const std::string& path, const Args& args)
    {
        progDir = resolveProgDir(args.has("--home") ? args.options.at("--home") : "");
        if (!fs.isFolder(joinPath(progDir, "Mcode")))
            fs.makeFolder(joinPath(progDir, "Mcode"));
        if (args.has("--conditions")) {
            const std::string& list = args.options.at("--conditions");
            int k = 1;
            for (std::size_t from = 0; k < ConditionTable::count; ++k) {
                auto comma = list.find(',', from);
                conditions.conditionName[k] = list.substr(from, comma == std::string::npos ? comma : comma - from);
                if (comma == std::string::npos)
                    break;
                from = comma + 1;
            }
        } else {
            if (loadColourFile(conditions, fs, codec, progDir))
                std::fprintf(stderr, "tarvex-cli: %s: %s\n", joinPath(progDir, colourFileName).c_str(),
                             tooLargeError().description.c_str());
        }
        graphics = std::make_unique<Graphics>(fs, codec, progDir, segments, conditions);
        graphics->blockSkip = args.has("--block-skip");
        if (args.has("--incremental"))
            graphics->coordMode = 91;
        graphics->showRapids = args.has("--rapids");
        graphics->showMarkings = args.has("--markings");

        std::string text;
        SubprogramStore store(fs, codec, progDir);
        std::optional<std::string> failure;
        {
            std::string bytes;
            if (Error e = fs.readFile(path, bytes)) {
                status = fail(path, e);
                return;
            }
            text = codec.decode(bytes);
            failure = store.LoadSub(path, bytes);
        }
        // As in the window: the storing error is told, and the expansion runs.
        if (failure) {
            std::replace(failure->begin(), failure->end(), '\n', ' ');
            std::fprintf(stderr, "tarvex-cli: %s\n", failure->c_str());
            storeFailed = true;
        }
        // Storing the programs expands once, then the open command expands again;
        // the coordinate mode carries from one to the next, and only a change of
        // it can make the second result differ from the first.
        const short before = graphics->coordMode;
        graphics->WirFmt(text);
        if (graphics->coordMode != before)
            graphics->WirFmt(text);
    }

    // How the expansion ended: "end ok", or "end error KIND line L".
    std::string ending() const
    {
        const ExpansionStop& s = graphics->lastStop;
        if (s.kind == ExpansionStop::None)
            return "end ok\n";
        return std::string("end error ") + s.word() + " line " + std::to_string(s.line) + "\n";
    }
};

int expand(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1 || args.has("--size"))
        return usageError();
    Opened o(args.positional[0], args);
    if (o.status)
        return o.status;
    const SegmentTable& t = o.segments;
    std::string out;
    char line[256];
    if (!args.has("--summary")) {
        for (int n = 0; n <= t.segmentCount; ++n) {
            const PathSegment& s = t[n];
            std::snprintf(line, sizeof line, "%d %.9g %.9g %.9g %.9g %.9g %.9g\n", n, s.x, s.y, s.i, s.j, s.motion,
                          s.condition);
            out += line;
        }
    }
    const PlotView& v = o.graphics->view;
    std::snprintf(line, sizeof line, "count %d\nextents %.9g %.9g %.9g %.9g\n", t.segmentCount + 1, v.minX, v.maxX,
                  v.minY, v.maxY);
    out += line;
    const MarkingTable& m = o.graphics->markings;
    for (int k = 0; k <= m.markingCount; ++k) {
        std::snprintf(line, sizeof line, "marking %d %.9g %.9g ", k, m.markingTable[k].x, m.markingTable[k].y);
        out += line + m.markingTable[k].name + "\n";
    }
    out += o.ending();
    std::fwrite(out.data(), 1, out.size(), stdout);
    return o.done();
}

int dxf(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 2)
        return usageError();
    Opened o(args.positional[0], args);
    if (o.status)
        return o.status;
    std::string text;
    o.fs.readFile(args.positional[0], text);
    PosixEventLoop events;
    o.graphics->DxfSave(o.codec.decode(text), events);
    std::fputs(o.ending().c_str(), stderr);
    if (Error e = o.graphics->writeDxf(args.positional[1]))
        return fail(args.positional[1], e);
    return o.done();
}

int plot(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 2)
        return usageError();
    int w = 1280, h = 800;
    if (args.has("--size") && std::sscanf(args.options.at("--size").c_str(), "%dx%d", &w, &h) != 2)
        return usageError();
    if (w <= 0 || h <= 0 || w > 20000 || h > 20000)
        return usageError();
    Opened o(args.positional[0], args);
    if (o.status)
        return o.status;
    QtImageSurface surface(QSize(w, h));
    o.graphics->GrSub(surface);
    std::fputs(o.ending().c_str(), stderr);
    // Encoded in memory, then written like every file: a full disk leaves
    // the old image whole and fails the command.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!surface.image().save(&buffer, "PNG"))
        return fail(args.positional[1], fileError(ENOMEM));
    Error e;
    auto writer = o.fs.createFile(args.positional[1], true, e);
    if (writer && !(e = writer->write(std::string_view(png.constData(), static_cast<std::size_t>(png.size())))))
        e = writer->commit();
    if (e)
        return fail(args.positional[1], e);
    return o.done();
}

// FILE's bytes, or standard input's.
bool readInput(const Args& args, std::string& bytes)
{
    if (!args.positional.empty()) {
        PosixFileSystem fs;
        if (Error e = fs.readFile(args.positional[0], bytes)) {
            fail(args.positional[0], e);
            return false;
        }
        return true;
    }
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;)
        bytes.append(buf, n);
    return true;
}

std::optional<TapeCode> codeOption(const Args& args)
{
    if (!args.has("--code"))
        return std::nullopt;
    const std::string& c = args.options.at("--code");
    if (c == "iso")
        return TapeCode::Iso;
    if (c == "eia")
        return TapeCode::Eia;
    if (c == "ascii")
        return TapeCode::Ascii;
    return std::nullopt;
}

// The bytes on the line for a text (encode), or the text of received bytes.
int convert(const std::vector<std::string>& argv, bool encoding)
{
    Args args;
    std::string bytes;
    auto code = args.parse(argv) ? codeOption(args) : std::nullopt;
    if (!code || args.positional.size() > 1)
        return usageError();
    if (!readInput(args, bytes))
        return 2;
    Cp932Codec codec;
    const std::string out = encoding ? encodeForLine(codec.decode(bytes), *code, bytes) : decodeFromLine(bytes, *code);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int encode(const std::vector<std::string>& argv) { return convert(argv, true); }
int decode(const std::vector<std::string>& argv) { return convert(argv, false); }

int profile(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 2 || args.positional[0] != "show")
        return usageError();
    PosixFileSystem fs;
    Cp932Codec codec;
    const std::string progDir = resolveProgDir(args.has("--home") ? args.options.at("--home") : "");
    const std::string& name = args.positional[1];
    std::string bytes;
    if (!isPlainFileName(name))
        return fail(name, {52, "not a profile name"});
    if (Error e = fs.readFile(joinPath(profileFolder(progDir), name), bytes, smallFileLimit))
        return fail(joinPath(profileFolder(progDir), name), e);
    DeviceProfile p;
    LoadProfile(name, p, fs, codec, progDir);
    char timeout[32];
    std::snprintf(timeout, sizeof timeout, "%g", static_cast<double>(p.timeout));
    const std::pair<const char*, std::string> fields[] = {
        {"port", std::to_string(p.port)},       {"baud", std::to_string(p.baud)},
        {"parity", p.parity},                   {"dataBits", std::to_string(p.dataBits)},
        {"stopBits", std::to_string(p.stopBits)}, {"handshake", p.handshake},
        {"code", std::to_string(p.code)},       {"partner", p.partner},
        {"inStart", p.inCodes[0]},              {"inRequest", p.inCodes[1]},
        {"inStop", p.inCodes[2]},               {"inEnd", p.inCodes[3]},
        {"outStart", p.outCodes[0]},            {"outRequest", p.outCodes[1]},
        {"outStop", p.outCodes[2]},             {"outEnd", p.outCodes[3]},
        {"timeout", timeout},                   {"wait", std::to_string(p.wait)},
    };
    for (const auto& [field, value] : fields)
        std::printf("%s %s\n", field, value.c_str());
    return 0;
}

// ---- transfers without a window ----

std::atomic<bool> interrupted{false};

// The window of a transfer, on a terminal: the status texts and the progress
// captions go to standard error, the editor is a text in memory.
class CliWindow final : public TransferHost {
public:
    std::string text;
    int wait = 0;
    // Received text goes to the end of this file as it arrives: while bytes
    // stream in, every 50 ms; when the line goes quiet, at once. A killed
    // process or a failing line still leaves it there.
    FileSystem* fs = nullptr;
    std::string out;
    Error outError;
    void Control(bool) override {}
    void setPanelEnabled(PanelControl, bool) override {}
    bool panelEnabled(PanelControl) const override { return true; }
    void setCancelEnabled(bool) override {}
    void setStatus1(const std::string& t) override
    {
        if (!t.empty() && t != lastStatus_)
            std::fprintf(stderr, "status %s\n", t.c_str());
        lastStatus_ = t;
    }
    void setLabel2(const std::string&) override {}
    void setCaption(const std::string& c) override
    {
        if (c != lastCaption_)
            std::fprintf(stderr, "progress %s\n", c.c_str());
        lastCaption_ = c;
    }
    void IOEnd() override {}
    void inputCutShort(const std::string&, const std::string& message) override
    {
        std::fprintf(stderr, "status %s\n", message.c_str());
    }
    int slider1() const override { return wait; }
    std::string editorText() const override { return text; }
    void setEditorText(std::string_view t) override { text = std::string(t); }
    void appendEditorText(std::string_view t) override { text += t; }
    void selectInEditor(std::size_t) override {}
    void focusEditor() override {}
    void afterInput() override {}
    void receivedText(std::string_view bytes) override
    {
        pending_ += bytes;
        const auto now = std::chrono::steady_clock::now();
        if (pending_.size() >= (1 << 16) || now - lastWrite_ >= std::chrono::milliseconds(50)) {
            writeOut();
            lastWrite_ = now;
        }
    }
    void writeOut()
    {
        if (!pending_.empty() && fs && !outError) {
            outError = fs->appendFile(out, pending_);
            if (outError && onWriteFailure)
                onWriteFailure();
        }
        pending_.clear();
    }
    std::function<void()> onWriteFailure;

private:
    std::string lastStatus_, lastCaption_;
    std::string pending_;
    std::chrono::steady_clock::time_point lastWrite_{};
};

class CliMessageBox final : public MessageBox {
public:
    std::vector<std::string> shown;
    MsgAnswer show(const std::string& text, const std::string&, MsgIcon, MsgButtons) override
    {
        std::fprintf(stderr, "error %s\n", text.c_str());
        shown.push_back(text);
        return MsgAnswer::Ok;
    }
};

// Waits in short steps, so that Ctrl-C acts as the cancel button within 50 ms.
class CliEvents final : public EventLoop {
public:
    std::function<void()> onInterrupt;
    std::function<void()> onIdle; // the transfer waits: a moment for work left over
    void yield() override { check(); }
    void wait(std::chrono::microseconds time) override
    {
        if (time <= std::chrono::microseconds(0))
            return check(); // no window: nothing to let run
        if (onIdle)
            onIdle();
        const auto until = std::chrono::steady_clock::now() + time;
        do {
            check();
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - std::chrono::steady_clock::now());
            inner_.wait(std::min(left, std::chrono::microseconds(50000)));
            if (woken_.exchange(false))
                break;
        } while (std::chrono::steady_clock::now() < until);
        check();
    }
    void wake() override
    {
        woken_ = true;
        inner_.wake();
    }
    void setBusy(bool) override {}

private:
    void check()
    {
        if (interrupted.exchange(false) && onInterrupt)
            onInterrupt();
    }
    PosixEventLoop inner_;
    std::atomic<bool> woken_{false};
};

// The restart that --from-line or --from-block names: the plan, or an exit
// status (64 no such line or block, 65 no restart possible there).
std::optional<int> planFrom(const Args& args, std::string_view text, RestartPlan& plan)
{
    std::optional<std::size_t> line;
    if (args.has("--from-line")) {
        const std::string& n = args.options.at("--from-line");
        if (!n.empty() && n.size() < 10 && n.find_first_not_of("0123456789") == std::string::npos && std::stol(n) > 0)
            line = static_cast<std::size_t>(std::stol(n) - 1);
        else
            return usageError();
    } else if (!(line = findBlockNumber(text, args.options.at("--from-block")))) {
        std::fprintf(stderr, "tarvex-cli: no block %s\n", args.options.at("--from-block").c_str());
        return 64;
    }
    if (!lineOffset(text, *line)) {
        std::fprintf(stderr, "tarvex-cli: no line %zu\n", *line + 1);
        return 64;
    }
    const std::string clearance = args.has("--clearance") ? args.options.at("--clearance") : "";
    if (!clearance.empty() && !clearanceWord(clearance)) {
        std::fprintf(stderr, "tarvex-cli: --clearance %s is no number\n", clearance.c_str());
        return 64;
    }
    plan = planRestart(text, *line, clearance);
    for (const std::string& note : plan.notes)
        std::fprintf(stderr, "note %s\n", note.c_str());
    if (!plan.refusal.empty()) {
        std::fprintf(stderr, "tarvex-cli: %s\n", plan.refusal.c_str());
        return 65;
    }
    if (plan.clearanceMissing) {
        std::fprintf(stderr, "tarvex-cli: the program moves Z before the block: give --clearance Z\n");
        return 64;
    }
    return std::nullopt;
}

bool restartAsked(const Args& args) { return args.has("--from-line") || args.has("--from-block"); }

int restartPreamble(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1 || !restartAsked(args))
        return usageError();
    std::string text;
    if (!readInput(args, text))
        return 2;
    const Cp932Codec codec;
    RestartPlan plan;
    const std::string program = codec.decode(text);
    if (auto status = planFrom(args, program, plan))
        return *status;
    const std::string out = codec.encode(args.has("--text") ? restartText(program, plan, plan.preamble) : plan.preamble);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int transfer(const std::vector<std::string>& argv, bool sending)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1 || !args.has("--profile"))
        return usageError();
    PosixFileSystem fs;
    Cp932Codec codec;
    const std::string progDir = resolveProgDir(args.has("--home") ? args.options.at("--home") : "");
    std::string settingsFile = args.has("--settings") ? args.options.at("--settings") : "";
    if (settingsFile.empty())
        if (const char* env = std::getenv("TARVEX_SETTINGS"))
            settingsFile = env;
    QtSettingsStore settings(QString::fromStdString(settingsFile));
    if (!settings.usable())
        std::fprintf(stderr, "tarvex-cli: %s is %s: the settings are kept for this run only\n",
                     settingsFile.empty() ? "the settings file" : settingsFile.c_str(),
                     settings.tooLarge() ? "too large" : "not a regular file");
    DeviceProfile profile;
    const std::string& name = args.options.at("--profile");
    std::string bytes;
    if (!isPlainFileName(name))
        return fail(name, {53, "no such profile"});
    if (Error e = fs.readFile(joinPath(profileFolder(progDir), name), bytes, smallFileLimit))
        return fail(name, e == tooLargeError() ? e : Error{53, "no such profile"});
    LoadProfile(name, profile, fs, codec, progDir);

    std::string partner = args.has("--partner") ? args.options.at("--partner")
                          : profile.partner == "0"  ? "puncher"
                          : profile.partner == "1"  ? "controller"
                          : profile.partner == "2"  ? "inspection"
                                                    : "";
    const std::string& file = args.positional[0];
    CliWindow window;
    window.wait = std::clamp<int>(profile.wait, 0, 1000); // the range of the window's speed slider
    bytes.clear();
    if (sending) {
        if (Error e = fs.readFile(file, bytes))
            return fail(file, e);
    } else {
        // Nothing is received into a file that cannot take it.
        if (fs.exists(file))
            if (Error e = fs.readFile(file, bytes))
                return fail(file, e);
        if (Error e = fs.appendFile(file, {}))
            return fail(file, e);
        window.fs = &fs;
        window.out = file;
    }
    window.text = codec.decode(bytes);
    std::optional<RestartSend> restart;
    if (restartAsked(args)) {
        RestartPlan plan;
        // A restart is for the controller output and the tape run.
        if (!sending || partner == "puncher")
            return usageError();
        if (auto status = planFrom(args, window.text, plan))
            return *status;
        std::fputs(codec.encode(plan.preamble).c_str(), stdout);
        std::fflush(stdout);
        restart = restartSend(window.text, plan, plan.preamble);
    }

    TransferStatus status;
    DevicePort port1, port2;
    CliMessageBox box;
    CliEvents events;
    port1.onActivity = port2.onActivity = [&events] { events.wake(); };
    Transfers t({profile, status, settings, port1, port2, window, events, box, fs, codec, progDir});
    if (args.has("--device"))
        t.deviceOverride = args.options.at("--device");
    LineMonitor monitor;
    if (args.has("--log"))
        t.monitor = &monitor;
    bool cancelled = false;
    events.onIdle = [&window] { window.writeOut(); }; // a quiet line: what arrived goes to OUT now
    events.onInterrupt = [&] {
        cancelled = true;
        t.CommandCancel_Click();
    };
    // Ctrl-C, a terminal that goes away and a request to stop all end the
    // transfer as the cancel button does: end code sent, what came kept, log written.
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, [](int) { interrupted = true; });

    const std::map<std::string, void (Transfers::*)()> commands = sending
        ? std::map<std::string, void (Transfers::*)()>{{"controller", &Transfers::Command1_Click},
                                                       {"puncher", &Transfers::Command10_Click},
                                                       {"tape", &Transfers::Command11_Click}}
        : std::map<std::string, void (Transfers::*)()>{{"controller", &Transfers::Command2_Click},
                                                       {"puncher", &Transfers::Command20_Click},
                                                       {"inspection", &Transfers::Command21_Click}};
    if (!commands.count(partner)) {
        std::fprintf(stderr, "tarvex-cli: profile %s: partner kind \"%s\" cannot %s; name one with --partner\n",
                     name.c_str(), profile.partner.c_str(), sending ? "send" : "receive");
        return 64;
    }
    // A file that stops taking what arrives ends the transfer at once.
    window.onWriteFailure = [&] {
        cancelled = true;
        t.CommandCancel_Click();
    };
    if (restart)
        t.sendFrom(*restart, partner == "tape");
    else
        (t.*commands.at(partner))();
    // The box only says the port could not be opened; a script needs to know
    // whether it is missing, busy or refused its settings.
    if (const Error& why = t.openError(); why && (box.shown.empty() || why.description != box.shown.back()))
        std::fprintf(stderr, "error %s\n", why.description.c_str());

    window.writeOut();
    if (args.has("--log")) {
        const std::string& log = args.options.at("--log");
        const std::string text = monitor.records().empty() ? "（通信は始まりませんでした）\n" : monitor.records().back().text();
        if (Error e = fs.writeFile(log, text))
            return fail(log, e);
    }
    if (window.outError)
        return fail(file, window.outError);
    // 0 a normal end, 1 cancelled, 2 a port that failed or could not be opened,
    // or a received byte that failed its check, 3 a time-out, 4 ended by a
    // line event. A whole program received is 0 whatever ended the input after
    // it; a program cut short is never 0. (The inspection input receives
    // measurements, not a program: it ends as cancelled.)
    const std::string& text = status.StatusText;
    const Transfers::InputEnd& input = t.lastInput();
    if (!sending && input.dataFault)
        return 2;
    if (!sending && partner != "inspection" && input.bytes > 0 && input.complete)
        return 0;
    if (!box.shown.empty())
        return 2;
    if (cancelled)
        return 1;
    if (text == "タイムアウトを検出しました。")
        return 3;
    if ((text.empty() || text == "送信を終了しました。" || text.rfind("終了コード ", 0) == 0)
        && (sending || input.bytes == 0))
        return 0;
    return 4;
}

int send(const std::vector<std::string>& argv) { return transfer(argv, true); }
int receive(const std::vector<std::string>& argv) { return transfer(argv, false); }

int saveCopy(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return usageError();
    PosixFileSystem fs;
    std::string bytes;
    if (Error e = fs.readFile(args[0], bytes))
        return fail(args[0], e);
    if (Error e = fs.writeFile(args[1], normaliseLineEnds(bytes)))
        return fail(args[1], e);
    return 0;
}

int roundtrip(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return usageError();
    PosixFileSystem fs;
    Cp932Codec codec;
    std::string bytes;
    if (Error e = fs.readFile(args[0], bytes))
        return fail(args[0], e);
    // What Save writes after an open: the decoded text encoded again, with its line ends made CR LF.
    const std::string back = normaliseLineEnds(codec.encode(codec.decode(bytes)));
    if (back == bytes) {
        std::printf("identical %zu\n", bytes.size());
        return 0;
    }
    std::size_t at = 0;
    while (at < back.size() && at < bytes.size() && back[at] == bytes[at])
        ++at;
    std::printf("differs %zu\n", at);
    return 1;
}

// ---- measuring the path ----

// Presses of the path length window at toolpath points, or the totals.
int measure(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1 || (args.at.empty() != args.has("--total"))
        || (args.has("--total") && (args.has("--chain") || args.has("--release"))))
        return usageError();
    std::vector<std::pair<float, float>> points;
    for (const std::string& p : args.at) {
        float x, y;
        char extra;
        if (std::sscanf(p.c_str(), "%f,%f%c", &x, &y, &extra) != 2)
            return usageError();
        points.emplace_back(x, y);
    }
    Opened o(args.positional[0], args);
    if (o.status)
        return o.status;
    if (args.has("--total")) {
        const PathTotals t = pathTotals(o.segments);
        std::printf("cutting %.3f\nrapid %.3f\n", t.cutting, t.rapid);
        return o.done();
    }
    PlotTools tools(*o.graphics, o.conditions.conditionVisible.data());
    tools.toolMode = lengthToolMode(!args.has("--chain"), args.has("--chain"), !args.has("--release"));
    QtImageSurface surface(QSize(1, 1)); // the redraw after a pick goes nowhere
    for (auto [x, y] : points) {
        tools.press(x, y, surface);
        const long picked = tools.lastPress;
        std::printf("%s %s\n", picked >= 0 ? std::to_string(picked).c_str() : "none",
                    lengthReport(tools.selectedLength).c_str());
    }
    return o.done();
}

// ---- the text tools on a program file ----

// FILE rewritten by change (on its text as the editor holds it), in place or
// to --out; prints the count.
// A change may refuse (refusal set): then nothing is written and the exit is 1.
int rewriteFile(const Args& args, const std::function<std::string(const std::string&, long&)>& change,
                const std::string* refusal = nullptr)
{
    PosixFileSystem fs;
    Cp932Codec codec;
    const std::string& in = args.positional[0];
    std::string bytes;
    if (Error e = fs.readFile(in, bytes))
        return fail(in, e);
    long count = 0;
    const std::string text = change(codec.decode(bytes), count);
    if (refusal && !refusal->empty()) {
        std::fprintf(stderr, "tarvex-cli: %s\n", refusal->c_str());
        return 1;
    }
    const std::string out = codec.encode(text);
    const std::string target = args.has("--out") ? args.options.at("--out") : in;
    if (Error e = fs.writeFile(target, out))
        return fail(target, e);
    std::printf("%ld\n", count);
    return 0;
}

int replace(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1 || !args.has("--find") || !args.has("--with"))
        return usageError();
    return rewriteFile(args, [&](const std::string& text, long& count) {
        return replaceAll(text, args.options.at("--find"), args.options.at("--with"), count);
    });
}

int lineReplaceCommand(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1 || !args.has("--match") || !args.has("--with"))
        return usageError();
    return rewriteFile(args, [&](const std::string& text, long& count) {
        return lineReplace(text, args.options.at("--match"), withCrLf(args.options.at("--with")), count);
    });
}

int estimateCommand(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1)
        return usageError();
    EstimateOptions o;
    for (auto [name, value] : {std::pair{"--rapid", &o.rapid}, {"--tool-change", &o.toolChange}}) {
        if (!args.has(name))
            continue;
        char* end = nullptr;
        const std::string& v = args.options.at(name);
        *value = std::strtod(v.c_str(), &end);
        if (v.empty() || *end || !std::isfinite(*value) || *value < 0 || (*value == 0 && name == std::string("--rapid")))
            return usageError();
    }
    std::string text;
    if (!readInput(args, text))
        return 2;
    // Calls the file cannot answer go to the subprogram store, as the expansion's do.
    PosixFileSystem fs;
    Cp932Codec codec;
    o.stored = storedPrograms(fs, codec, resolveProgDir(args.has("--home") ? args.options.at("--home") : ""));
    const Estimate e = estimate(codec.decode(text), o);
    if (!e.refusal.empty()) {
        std::fprintf(stderr, "tarvex-cli: %s\n", e.refusal.c_str());
        return 65;
    }
    // --seconds: the times as seconds to the millisecond, for comparing.
    auto time = [&](double s) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", s);
        return args.has("--seconds") ? std::string(seconds) : clockText(s);
    };
    std::printf("cutting %s\nrapid %s\ndwell %s\ntool changes %ld\nno feed %ld moves\n", time(e.cutting).c_str(),
                time(e.rapid).c_str(), time(e.dwell).c_str(), e.toolChanges, e.noFeed);
    // What it could not time, only where there is some.
    if (e.unknown)
        std::printf("unknown %ld\n", e.unknown);
    if (e.callsNotFollowed)
        std::printf("calls not followed %ld (%s)\n", e.callsNotFollowed, e.firstCallNotFollowed.c_str());
    if (!e.notTimed.empty()) {
        std::string codes;
        for (const std::string& c : e.notTimed)
            codes += " " + c;
        std::printf("not timed%s\n", codes.c_str());
    }
    std::printf("total %s\n", time(e.total(o)).c_str());
    return 0;
}

int compareCommand(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 2)
        return usageError();
    PosixFileSystem fs;
    Cp932Codec codec;
    std::string texts[2];
    for (int k = 0; k < 2; ++k) {
        std::string bytes;
        if (Error e = fs.readFile(args.positional[k], bytes))
            return fail(args.positional[k], e);
        texts[k] = codec.decode(bytes);
    }
    const auto differences = compareBlocks(texts[0], texts[1]);
    std::string out;
    for (const BlockDifference& d : differences)
        out.append(d.inFirst ? "< " : "> ").append(std::to_string(d.line)).append(" ").append(d.text).append("\n");
    std::fwrite(out.data(), 1, out.size(), stdout);
    return differences.empty() ? 0 : 1;
}

int renumberCommand(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1)
        return usageError();
    RenumberOptions o;
    o.remove = args.has("--remove");
    o.existing = args.has("--existing");
    long width = 0;
    for (auto [name, value] : {std::pair{"--start", &o.start}, {"--step", &o.step}, {"--width", &width}, {"--every", &o.every}}) {
        if (!args.has(name))
            continue;
        const std::string& v = args.options.at(name);
        if (v.empty() || v.size() > 5 || v.find_first_not_of("0123456789") != std::string::npos)
            return usageError();
        *value = std::stol(v);
    }
    if (width > 5)
        return usageError();
    o.width = static_cast<int>(width);
    std::string refusal;
    return rewriteFile(
        args,
        [&](const std::string& text, long& count) {
            Renumbered r = renumber(text, o);
            count = r.blocks;
            refusal = r.refusal;
            return std::move(r.text);
        },
        &refusal);
}

int stripSpacesCommand(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1)
        return usageError();
    return rewriteFile(args, [](const std::string& text, long& count) { return stripSpaces(text, count); });
}

int check(const std::vector<std::string>& argv)
{
    Args args;
    if (!args.parse(argv) || args.positional.size() != 1 || !args.has("--code"))
        return usageError();
    const std::string& c = args.options.at("--code");
    if (c != "iso" && c != "eia")
        return usageError();
    std::string bytes;
    if (!readInput(args, bytes))
        return 2;
    const std::string text = Cp932Codec().decode(bytes);
    const CheckResult r = checkCharacters(text, c == "iso" ? TapeCode::Iso : TapeCode::Eia, nullptr);
    if (r.clean) {
        std::printf("ok %zu\n", r.read);
        return 0;
    }
    std::printf("invalid line %zu column %zu offset %zu %s\n", r.line, r.column, r.read - 1,
                text.substr(r.offset, r.length).c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
        {"save-copy", saveCopy}, {"roundtrip", roundtrip}, {"expand", expand}, {"dxf", dxf}, {"plot", plot},
        {"encode", encode},      {"decode", decode},       {"profile", profile},
        {"send", send},          {"receive", receive},
        {"replace", replace},    {"line-replace", lineReplaceCommand},
        {"check", check},        {"strip-spaces", stripSpacesCommand},
        {"renumber", renumberCommand},
        {"compare", compareCommand},
        {"estimate", estimateCommand},
        {"measure", measure},    {"restart-preamble", restartPreamble},
    };
    // A closed standard output or error stops nothing, a socket written after
    // the server left is a dropped line, and a file-size limit fails a write
    // (as a full disk does) instead of killing the process with what it holds.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc < 2 || !commands.count(argv[1])) {
        const bool help = argc >= 2 && (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 ||
                                        std::strcmp(argv[1], "-h") == 0);
        std::fputs(usage, help ? stdout : stderr);
        return help ? 0 : 64;
    }
    // Memory that cannot be had is an input too large, told like any failed
    // read, never an abort.
    try {
        if (std::strcmp(argv[1], "plot") == 0) {
            // Images are drawn without a screen, and Qt's own remarks stay out of the output.
            qputenv("QT_QPA_PLATFORM", "offscreen");
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
            int qargc = 1;
            QGuiApplication app(qargc, argv);
            return commands.at(argv[1])(std::vector<std::string>(argv + 2, argv + argc));
        }
        return commands.at(argv[1])(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::bad_alloc&) {
        return fail(argv[1], fileError(ENOMEM));
    }
}
