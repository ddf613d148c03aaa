#include "platform/posix/Cp932Codec.h"
#include "platform/posix/PortInbox.h"
#include "serial/ProfileFolder.h"
#include "serial/Transfers.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace tarvex;
using namespace std::chrono_literals;

namespace {

// The main window as the transfers see it, recording what they do to it.
struct SpyWindow final : TransferHost {
    std::string text;
    std::vector<std::string> status, labels, captions;
    std::vector<std::size_t> selected;
    std::vector<bool> control;
    std::map<PanelControl, bool> panel;
    bool cancel = false;
    int slider = 0, inputs = 0, ioEnds = 0;

    void Control(bool enable) override { control.push_back(enable), cancel = !enable; }
    void setPanelEnabled(PanelControl c, bool e) override { panel[c] = e; }
    bool panelEnabled(PanelControl c) const override { return !panel.count(c) || panel.at(c); }
    void setCancelEnabled(bool e) override { cancel = e; }
    void setStatus1(const std::string& t) override { status.push_back(t); }
    void setLabel2(const std::string& t) override { labels.push_back(t); }
    void setCaption(const std::string& c) override { captions.push_back(c); }
    void IOEnd() override { ++ioEnds; }
    int slider1() const override { return slider; }
    std::string editorText() const override { return text; }
    void setEditorText(std::string_view t) override { text = std::string(t); }
    void appendEditorText(std::string_view t) override { text += t; }
    void selectInEditor(std::size_t offset) override { selected.push_back(offset); }
    void focusEditor() override {}
    void afterInput() override { ++inputs; }
    std::vector<std::string> cutShort;
    void inputCutShort(const std::string& why, const std::string& message) override
    {
        cutShort.push_back(why + "|" + message);
    }
};

struct TransferTest : ::testing::Test {
    fakes::MemorySettings settings;
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    fakes::FakeMessageBox box;
    fakes::FakeEvents events;
    fakes::FakeSerialPort port1, port2;
    SpyWindow window;
    DeviceProfile profile;
    TransferStatus status;
    Transfers t{{profile, status, settings, port1, port2, window, events, box, fs, codec, "/home/"}};
    LineMonitor monitor;

    TransferTest()
    {
        t.monitor = &monitor; // always listening: it must change nothing the transfers do
        fs.folders.insert("/home");
        parseProfile(sampleProfileText(), profile); // ISO, DC1 start and request, DC3+parity stop, DC4 end
        t.endPause = 0ms;
    }
    // The partner's bytes arrive at the n-th wait of the transfer.
    void atWait(int n, std::string bytes, fakes::FakeSerialPort* port = nullptr)
    {
        auto* p = port ? port : &port1;
        auto previous = events.onWait;
        int count = 0;
        events.onWait = [=, this]() mutable {
            if (previous)
                previous();
            if (++count == n)
                p->receive(bytes);
        };
        (void)this;
    }
    std::string last(const std::vector<std::string>& v) const { return v.empty() ? "" : v.back(); }
    // The monitor's log of the last transfer, without the times.
    std::string log() const
    {
        std::string out;
        for (const std::string& l : monitor.records().back().lines)
            out += l.substr(12) + "\n";
        // How long a pause lasted is the clock's, not the transfer's.
        return std::regex_replace(out, std::regex("停止 [0-9.]+ 秒"), "停止 - 秒");
    }
};

} // namespace

TEST_F(TransferTest, LineEventsSetTheStateAndTheMessage)
{
    struct Row {
        int event;
        bool line; // CTS, DSR or CD after the change
        short before, after;
        const char* text; // nullptr: unchanged
    };
    const Row rows[] = {
        {1, true, 0, 0, nullptr},
        {2, true, 0, 0, nullptr},
        {3, true, 999, 999, nullptr}, // CTS on resumes a pause only: never a cancel or an end
        {5, true, 9, 9, nullptr},
        {3, true, 0, 0, nullptr},
        {3, false, 999, 999, nullptr},
        {3, true, 1, 0, ""},
        {3, false, 0, 1, "CS ラインの状態が変化しました。"},
        {4, false, 0, 1, "DR ラインがオフになりました。"},
        {4, true, 1, 1, nullptr},
        {5, true, 1, 0, ""},
        {5, false, 0, 1, "CD ラインの状態が変化しました。"},
        {6, true, 0, 0, "呼び出し信号を検出しました。"},
        {7, true, 0, 9, "EOF を受信しました。"},
        {1001, true, 0, 9, "ﾌﾞﾚｰｸ信号を検出しました。"},
        {1002, true, 0, 9, "CTS ﾀｲﾑｱｳﾄを検出しました。"},
        {1003, true, 0, 9, "DSR ﾀｲﾑｱｳﾄを検出しました。"},
        {1004, true, 0, 9, "ﾌﾚｰﾐﾝｸﾞ ｴﾗｰが発生しました。"},
        {1006, true, 0, 9, "ｵｰﾊﾞｰﾗﾝ ｴﾗｰが発生しました。"},
        {1007, true, 0, 9, "CD ﾀｲﾑｱｳﾄを検出しました。"},
        {1008, true, 0, 9, "受信ﾊﾞｯﾌｧがｵｰﾊﾞｰﾌﾛｰしました。"},
        {1009, true, 0, 9, "ﾊﾟﾘﾃｨ ｴﾗｰが発生しました。"},
        {1010, true, 0, 9, "送信ﾊﾞｯﾌｧ ﾌﾙ ｴﾗｰが発生しました。"},
        {1011, true, 0, 9, "DCB 取得時にｴﾗｰが発生しました。"},
        {1005, true, 0, 9, "未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。"},
    };
    for (const Row& r : rows) {
        status.TransferState = r.before;
        status.StatusText = "before";
        port1.cts = port1.dsr = port1.cd = r.line;
        t.MSComm1_OnComm(r.event);
        EXPECT_EQ(status.TransferState, r.after) << r.event;
        EXPECT_EQ(status.StatusText, r.text ? r.text : "before") << r.event;
        EXPECT_EQ(window.status.back(), status.StatusText); // always shown in status panel 1
    }
    // The tape run's port: a line change pauses; received bytes are judged by the run.
    for (int event : {3, 4, 5}) {
        status = {0, "x"};
        t.MSComm2_OnComm(event);
        EXPECT_EQ(status.TransferState, 1);
        EXPECT_EQ(status.StatusText, "回線の状態が変化しました。");
    }
    status = {0, "x"};
    t.MSComm2_OnComm(1);
    t.MSComm2_OnComm(2);
    EXPECT_EQ(status.TransferState, 0);
    t.MSComm2_OnComm(1009);
    EXPECT_EQ(status.StatusText, "ﾊﾟﾘﾃｨ ｴﾗｰが発生しました。");
}

TEST_F(TransferTest, ControllerOutputAfterTheStartCode)
{
    window.text = "%\r\nO1\r\nM30\r\n%\r\n";
    atWait(3, "\x11");
    t.Command1_Click();
    EXPECT_EQ(port1.written, "\xA5\x8D\x0A\xCF\xB1\x8D\x0A\x4D\x33\x30\x8D\x0A\xA5\x8D\x0A\xA5\x14");
    EXPECT_EQ(status.StatusText, "送信を終了しました。");
    EXPECT_EQ(window.status.front(), "");
    EXPECT_NE(std::find(window.status.begin(), window.status.end(), "出力 : 起動コード &H11 の待機中です。"),
              window.status.end());
    EXPECT_EQ(last(window.status), "送信を終了しました。");
    EXPECT_EQ(last(window.captions), "100%の出力を完了");
    EXPECT_EQ(window.labels, (std::vector<std::string>{"", "%", "O1", "M30", "%"}));
    EXPECT_EQ(window.control, (std::vector<bool>{false, true}));
    EXPECT_EQ(window.panel[PanelControl::Command1], true);
    EXPECT_EQ(status.TransferState, 0);
    EXPECT_FALSE(port1.opened);
    EXPECT_FALSE(fs.files.count("/home/BAK.DAT"));
    EXPECT_EQ(window.ioEnds, 1);
}

TEST_F(TransferTest, ControllerOutputControlCodes)
{
    // Start code "-": at once. End code "-": nothing after the closing "%".
    profile.outCodes[0] = "-";
    profile.outCodes[3] = "-";
    window.text = "G1\r\n";
    t.Command1_Click();
    EXPECT_EQ(port1.written, "\x47\xB1\x8D\x0A\xA5");

    // A stop code mid-program pauses until the request code: nothing goes
    // out between the two.
    profile.outCodes[0] = "&H11";
    profile.outCodes[3] = "&H14";
    port1.written.clear();
    window.text = "X1Y2";
    port1.receive("\x11");
    int waits = 0, requestAt = -1, yWrittenAt = -1;
    port1.onWrite = [&](std::uint8_t b) {
        if (b == 0xB1) // after X1: DC3, then DC1 ten waits later
            port1.receive("\x93");
        if (b == 0x59)
            yWrittenAt = waits;
    };
    events.onWait = [&] {
        if (++waits == 10) {
            port1.receive("\x11");
            requestAt = waits;
        }
    };
    t.Command1_Click();
    EXPECT_EQ(port1.written, "\xD8\xB1\x59\xB2\xA5\x14");
    EXPECT_GE(yWrittenAt, requestAt);
    // The monitor names each code by its role and counts what the port wrote
    // after the stop code came in.
    EXPECT_EQ(log(), "開始: 出力（NC装置）  ポート /dev/ttyS0\n"
                     "設定: 4800 bps  パリティ N  データ 8  ストップ 2  フロー制御 なし\n"
                     "受信 起動/要求コード(出力) DC1 &H11\n"
                     "ここまでに送信 2 文字\n"
                     "受信 停止コード(出力) DC3 &H93\n"
                     "  停止コードの到着後に書いた文字 0 以上（出力キューがわからないため、相手に届いた数はこれより多いことがあります）\n"
                     "受信 起動/要求コード(出力) DC1 &H11\n"
                     "再開（停止 - 秒）\n"
                     "ここまでに送信 3 文字\n"
                     "送信 終了コード(出力) DC4 &H14\n"
                     "終了: 送信を終了しました。\n");
    const LineMonitor::Record& r = monitor.records().back();
    EXPECT_EQ(std::tie(r.sent, r.received, r.stops, r.resumptions), std::make_tuple(6LL, 3LL, 1, 1));
    events.onWait = nullptr;
    EXPECT_NE(std::find(window.status.begin(), window.status.end(), "停止コード &H93 を受信しました。"),
              window.status.end());

    // An end code from the controller: no closing "%", the profile's end code still goes.
    port1.written.clear();
    port1.onWrite = [&](std::uint8_t b) {
        if (b == 0xD8)
            port1.receive("\x14");
    };
    port1.receive("\x11\x11"); // a repeated start code is harmless
    t.Command1_Click();
    EXPECT_EQ(port1.written, "\xD8\x14");
    EXPECT_EQ(status.StatusText, "終了コード &H14 を受信しました。");
}

TEST_F(TransferTest, CancelledOutputStillClosesWithPercentAndEndCode)
{
    // A CTS-on arriving in the same wait as the cancel resumes nothing: the
    // rest of the program stays here, and the caption says how much went out.
    profile.outCodes[0] = "-";
    window.text = "N1N2N3";
    t.progressInterval = 0ms;
    port1.onWrite = [&](std::uint8_t b) {
        if (b == 0x4E) {
            t.CommandCancel_Click();
            port1.cts = true;
            port1.events.push_back(3);
        }
    };
    t.Command1_Click();
    EXPECT_EQ(port1.written, "\x4E\xA5\x14");
    EXPECT_EQ(window.captions.back(), "16%の出力を完了");
    EXPECT_EQ(status.StatusText, "送信を中止しました。");
    EXPECT_NE(log().find("中止ボタン\nここまでに送信 1 文字\n回線: CTS オン\nここまでに送信 1 文字\n"
                         "送信 終了コード(出力) DC4 &H14\n終了: 送信を中止しました。\n"),
              std::string::npos) << log();
    EXPECT_FALSE(window.cancel);
}

TEST_F(TransferTest, ProgressEveryHundredCharacters)
{
    profile.outCodes[0] = "-";
    window.text = std::string(250, 'N');
    t.progressInterval = 0ms; // every caption reaches the screen
    t.Command1_Click();
    EXPECT_EQ(window.captions, (std::vector<std::string>{"40%の出力を完了", "80%の出力を完了", "100%の出力を完了"}));
}

TEST_F(TransferTest, PausesSleepOnTimeWhateverWaits)
{
    // The partner's stop code and one more byte, without a request code: each
    // output pauses, sleeps on time (never spins on the waiting byte), keeps
    // handling events, sends nothing more, and ends on the cancel button.
    struct Row {
        const char* name;
        void (Transfers::*command)();
        fakes::FakeSerialPort& port;
        std::string afterStop; // what still goes out after the cancel
    };
    const Row rows[] = {
        {"controller", &Transfers::Command1_Click, port1, "\xA5"}, // the closing "%"
        {"puncher", &Transfers::Command10_Click, port1, ""},
        {"tape run", &Transfers::Command11_Click, port2, ""},
    };
    for (const Row& r : rows) {
        profile.outCodes = {"-", "-", "&H93", "-"};
        window.text = "G01X1.\r\nG01X2.\r\n";
        r.port.written.clear();
        std::size_t atStop = 0;
        r.port.onWrite = [&](std::uint8_t b) {
            if (b == 0x47 && atStop == 0) {
                r.port.receive("\x93X");
                r.port.events.push_back(comm::EvReceive);
                atStop = r.port.written.size();
            }
        };
        long polls = 0;
        r.port.onPoll = [&] {
            if (++polls == 100000)
                t.CommandCancel_Click(); // a pause that spins still ends
        };
        int waits = 0;
        events.waited = 0us;
        events.onWait = [&] {
            if (++waits == 20)
                t.CommandCancel_Click();
        };
        (t.*r.command)();
        EXPECT_LT(polls, 1000) << r.name;
        EXPECT_GE(events.waited, 19 * 50ms) << r.name;
        EXPECT_EQ(r.port.written.substr(atStop), r.afterStop) << r.name;
        EXPECT_EQ(status.StatusText, "送信を中止しました。") << r.name;
        r.port.onWrite = nullptr;
        r.port.onPoll = nullptr;
    }
}

TEST_F(TransferTest, FailedOutputsSayWhatHappened)
{
    // A failure ends an output with its message and leaves its text as the
    // status; the end code still goes out unless the port itself failed.
    struct Row {
        const char* name;
        void (Transfers::*command)();
        bool portFails;
        std::string status;
        bool endCode;
    };
    const Row rows[] = {
        {"controller, line", &Transfers::Command1_Click, true, "回線が切断されました。", false},
        {"puncher, line", &Transfers::Command10_Click, true, "回線が切断されました。", false},
    };
    for (const Row& r : rows) {
        profile.outCodes = {"-", "-", "-", "&H14"};
        window.text = "G1";
        port1.written.clear();
        port1.failed = r.portFails ? Error{57, "回線が切断されました。"} : Error{};
        box.shown.clear();
        window.control.clear();
        (t.*r.command)();
        ASSERT_EQ(box.shown.size(), 1u) << r.name;
        EXPECT_EQ(box.shown[0].title, "TARVEX");
        EXPECT_EQ(box.shown[0].text, r.status);
        EXPECT_EQ(status.StatusText, r.status) << r.name;
        EXPECT_EQ(window.status.back(), r.status) << r.name;
        EXPECT_EQ(port1.written.find('\x14') != std::string::npos, r.endCode) << r.name;
        EXPECT_EQ(window.control, (std::vector<bool>{false, true})) << r.name;
        EXPECT_FALSE(port1.opened);
    }
}

TEST_F(TransferTest, PortThatCannotBeOpened)
{
    port1.openError = {53, "x"};
    t.Command1_Click();
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, "プロパティの値が正しくありません");
    EXPECT_EQ(box.shown[0].title, "TARVEX");
    EXPECT_EQ(status.TransferState, 9);
    EXPECT_TRUE(window.control.empty()); // the window was never locked
    // The port number leads to a device through the settings.
    setPortDevice(settings, 1, "/dev/ttyUSB0");
    port1.openError = {};
    profile.outCodes[0] = "-";
    t.Command1_Click();
    EXPECT_EQ(port1.device, "/dev/ttyUSB0");
    EXPECT_EQ(port1.line.baud, 4800);
    EXPECT_EQ(port1.line.parity, 'N');
    EXPECT_EQ(port1.line.stopBits, 2);
    EXPECT_EQ(port1.line.handshake, 0);
    // A handshake that is no small whole number reaches the port as one it
    // refuses, never as an out-of-range conversion.
    profile.handshake = "1e10";
    t.Command1_Click();
    EXPECT_EQ(port1.line.handshake, -1);
    // A code that is no byte is refused before the port opens.
    profile.handshake = "0";
    profile.outCodes[3] = "&H114";
    port1.device.clear();
    box.shown.clear();
    t.Command10_Click();
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, "プロパティの値が正しくありません");
    EXPECT_TRUE(port1.device.empty());
}

TEST_F(TransferTest, PuncherOutputTurnsSpacesIntoFeeds)
{
    profile.outCodes = {"&H12", "-", "-", "&H14"};
    settings.write("Tarvex", "Pcheck1", "1");
    for (auto [feed, expected] : {std::pair{"10", std::string("\x12\x47\xB1") + std::string(10, '\0') + "\xD8\xB2\x14"},
                                  std::pair{"0", std::string("\x12\x47\xB1\xD8\xB2\x14")}}) {
        settings.write("Tarvex", "Feed", feed);
        port1.written.clear();
        window.text = "G1 X2";
        t.Command10_Click();
        EXPECT_EQ(port1.written, expected) << feed;
        EXPECT_EQ(status.StatusText, "送信を終了しました。");
    }
    // The editor follows: each character selected, the one after the character sent.
    EXPECT_EQ(window.selected.back(), 5u);
    // EIA: a line end is the single end-of-block code.
    profile.code = 1;
    port1.written.clear();
    window.text = "N10\r\n";
    t.Command10_Click();
    EXPECT_EQ(port1.written, std::string("\x12\x45\x01\x20\x80\x14"));
}

TEST_F(TransferTest, OnlyTheCodesSteerATapeRun)
{
    profile.outCodes = {"-", "&H11", "&H93", "&H14"};
    window.text = "ABCD";
    status.TransferState = TransferStatus::Cancelled; // left by an earlier transfer
    // Noise while A goes out and an echo of B go by, said once; DC3 without
    // its parity bit holds the run after C, DC1 with it (&H91) resumes it.
    int waits = 0, heldAt = -1, resumedAt = -1, dWrittenAt = -1;
    port2.onWrite = [&](std::uint8_t b) {
        port2.receive(b == 0x41 ? "?" : b == 0x42 ? "B" : b == 0xC3 ? "\x13" : "");
        port2.events.push_back(comm::EvReceive);
        heldAt = b == 0xC3 ? waits : heldAt;
        dWrittenAt = b == 0x44 ? waits : dWrittenAt;
        // A second start while it runs does nothing.
        t.Command11_Click();
        t.Command2_Click();
    };
    events.onWait = [&] {
        if (++waits == heldAt + 10 && resumedAt < 0) {
            port2.receive("\x91");
            resumedAt = waits;
        }
    };
    t.Command11_Click();
    EXPECT_EQ(port2.written, "\x41\x42\xC3\x44\x14");
    EXPECT_GE(dWrittenAt, resumedAt); // D only once DC1 came
    EXPECT_GT(resumedAt, 0);
    EXPECT_EQ(std::count(window.status.begin(), window.status.end(), "受信コード &H3F を無視しました。"), 1);
    EXPECT_EQ(status.StatusText, "送信を終了しました。");
    EXPECT_TRUE(port2.receiveEvents);
    EXPECT_FALSE(port1.opened);
    EXPECT_TRUE(port1.written.empty());
    // Every start button was locked while it ran, and is back as it was.
    EXPECT_TRUE(window.panel[PanelControl::Command2] && window.panel[PanelControl::Command21]);

    // The end code during a hold ends the run: nothing more goes out.
    port2.written.clear();
    port2.onWrite = [&](std::uint8_t b) { port2.receive(b == 0x41 ? "\x93" : ""); };
    waits = 0;
    events.onWait = [&] {
        if (++waits == 5)
            port2.receive("\x94");
    };
    t.Command11_Click();
    EXPECT_EQ(port2.written, "\x41\x14");
    EXPECT_EQ(status.StatusText, "終了コード &H14 を受信しました。");

    // The start code's own arrival does not pause it: the program follows at once.
    profile.outCodes = {"&H11", "&H11", "&H93", "-"};
    window.text = "ABC";
    port2.written.clear();
    port2.onWrite = nullptr;
    int passes = 0;
    events.onWait = [&] {
        if (port2.incoming.empty() && port2.written.empty()) {
            port2.receive("\x11");
            port2.events.push_back(comm::EvReceive);
        }
        if (++passes == 50)
            t.CommandCancel_Click(); // a run that waits for a second DC1 ends here
    };
    t.Command11_Click();
    EXPECT_EQ(port2.written, "\x41\x42\xC3");
}

TEST_F(TransferTest, ControllerInputOfTheIsoExample)
{
    window.text = "A";
    port1.receive(std::string("\x12\xA5\x8D\x0A\x00\x7F\x12\xCF\xB1\x8D\x0A\x14", 12)); // feed, rub-out, DC2 again: no text
    t.Command2_Click();
    EXPECT_EQ(window.text, "A\r\n%\r\nO1\r\n"); // on a line of its own
    EXPECT_EQ(status.StatusText, "終了コード &H14 を受信しました。");
    EXPECT_EQ(window.captions.front(), "0文字の入力を完了");
    EXPECT_EQ(window.inputs, 1);
    EXPECT_FALSE(fs.files.count("/home/bak.dat"));
    // ASCII with CR LF: one CR LF per line, the CR dropped.
    profile.code = 0;
    profile.inCodes[0] = "-";
    window.text.clear();
    port1.receive("G1\r\nX2\r\n\x14");
    t.Command2_Click();
    EXPECT_EQ(window.text, "G1\r\nX2\r\n");
}

TEST_F(TransferTest, ControllerInputTimesOutOnlyAfterTheFirstCharacter)
{
    profile.inCodes[0] = "-";
    profile.timeout = 0.05f;
    int waits = 0;
    events.onWait = [&] {
        if (++waits == 5)
            port1.receive("G\xB1");
    };
    const auto start = std::chrono::steady_clock::now();
    t.Command2_Click();
    EXPECT_EQ(status.StatusText, "タイムアウトを検出しました。");
    EXPECT_NE(log().find("ここまでに受信 2 文字\nタイムアウト\n受信は途中で終わりました（2 バイト）。最後の行は不完全かもしれません。\n"
                         "終了: タイムアウトを検出しました。\n"),
              std::string::npos)
        << log();
    EXPECT_GE(waits, 5); // it waited before the first character without timing out
    EXPECT_EQ(window.text, "G1");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(TransferTest, AnInputIsWholeOnlyWhenItsEndCame)
{
    struct Row {
        void (Transfers::*command)();
        const char* end; // the profile's input end code
        std::string bytes;
        std::map<std::size_t, int> lineErrors; // the driver's, by byte read
        bool complete;
        const char* why; // the status when cut short
        short code = 0; // ISO and EIA with the start code DC2
        const char* text = nullptr; // what reaches the editor, where it matters
    };
    const std::string program = "%\nO1\n%\n";
    const Row rows[] = {
        {&Transfers::Command2_Click, "&H14", "%\nO1X\x14", {{4, comm::ErFrame}}, false,
         "行 2 の 3 文字目でフレーミングエラーです（&H58）。"},
        {&Transfers::Command2_Click, "&H14", program + "\x14", {}, true, ""},
        {&Transfers::Command2_Click, "&H14", program, {}, false, "タイムアウトを検出しました。"},
        {&Transfers::Command2_Click, "-", program + std::string("\0\0", 2), {}, true, ""},
        {&Transfers::Command2_Click, "-", "%\nO1\n", {}, false, "タイムアウトを検出しました。"},
        {&Transfers::Command20_Click, "&H14", program, {}, true, ""},
        {&Transfers::Command20_Click, "&H14", "%\nO1\nG1", {}, false, "タイムアウトを検出しました。"},
        // EIA's DC4 with its parity bit ends; an ISO "4" that lost a bit to read the same does not.
        {&Transfers::Command2_Click, "&H14", std::string("\x12\x0B\x80\x00\x7F\x92\x46\x01\x80\x0B\x80\x94", 12), {}, true, "",
         1, "%\r\nO1\r\n%\r\n"},
        {&Transfers::Command2_Click, "&H14", "\x12\xA5\x0A\xCF\x94\x14", {}, false, "行 2 の 2 文字目でパリティエラーです（&H94）。", 2},
        {&Transfers::Command2_Click, "&H14", "%\nO\x14\x14", {{3, comm::ErRxParity}}, false,
         "行 2 の 2 文字目でパリティエラーです（&H14）。"},
    };
    // One port held open from one input to the next, as the service holds it:
    // what a fault leaves behind must not end the next input.
    t.holdPortOpen = true;
    profile.timeout = 0.05f;
    for (const Row& r : rows) {
        profile.code = r.code;
        profile.inCodes = {r.code ? "&H12" : "-", "-", "-", r.end};
        window.text.clear();
        window.cutShort.clear();
        port1.incoming.clear();
        port1.bytesRead = 0;
        port1.byteErrors = r.lineErrors;
        port1.receive(r.bytes);
        (t.*r.command)();
        EXPECT_EQ(t.lastInput().complete, r.complete) << r.bytes;
        EXPECT_EQ(t.lastInput().dataFault, std::string(r.why).find("エラーです") != std::string::npos) << r.bytes;
        EXPECT_EQ(window.text, r.text ? r.text : window.text) << r.bytes;
        if (r.complete)
            EXPECT_TRUE(window.cutShort.empty()) << r.bytes;
        else
            EXPECT_EQ(last(window.cutShort), r.why + std::string("|受信は途中で終わりました（") + std::to_string(t.lastInput().bytes)
                                                 + " バイト）。最後の行は不完全かもしれません。")
                << r.bytes;
    }
    // The byte with the error and what followed it never reach the text; an
    // end code with an error is none.
    EXPECT_EQ(window.text, "%\r\nO");
}

TEST(PortInboxTest, DriverMarksKeepTheirPlace)
{
    // FF FF is a true FF, FF 00 c a byte c with an error, FF 00 00 a break:
    // in one read or cut anywhere between two.
    const std::string line("A\xFF\xFF" "B\xFF\x00" "C\xFF\x00\x00" "D", 11);
    for (std::size_t cut = 0; cut <= line.size(); ++cut) {
        LineMarks marks;
        std::string got;
        auto byte = [&](std::uint8_t b, bool marked) { got += marked ? std::string("!") + char(b) : std::string(1, char(b)); };
        auto lineBreak = [&] { got += "|"; };
        const auto* p = reinterpret_cast<const std::uint8_t*>(line.data());
        marks.feed(p, cut, byte, lineBreak);
        marks.feed(p + cut, line.size() - cut, byte, lineBreak);
        EXPECT_EQ(got, "A\xFF" "B!C|D") << cut;
    }
    // A marked byte is read in its place; its event comes after it.
    fakes::FakeSerialPort owner;
    PortInbox inbox(owner);
    ASSERT_FALSE(inbox.open(false));
    inbox.put(reinterpret_cast<const std::uint8_t*>("AB"), 2);
    inbox.putFaulty('C', comm::ErRxParity);
    inbox.put(reinterpret_cast<const std::uint8_t*>("D"), 1);
    std::string errors;
    while (auto b = inbox.take())
        errors += std::string(1, char(*b)) + std::to_string(inbox.takenError()) + std::to_string(inbox.takeEvents().size()) + " ";
    EXPECT_EQ(errors, "A00 B00 C10091 D00 ");
}

TEST(OutputQueueTest, HoldsOnlyAsThePartnersCodesSay)
{
    // Received bytes, then what the caller does ('t' takes the next byte
    // it has not read, 'r' releases): is the output held at the end? Codes
    // count on their seven bits.
    struct Case {
        std::string in, caller;
        bool held;
    } cases[] = {
        {"\x93", "", true},       {"\x13\x91", "", false}, {"X\x11", "", false},
        {"\x93", "r", true},      // a stop the caller has not read is never lifted
        {"\x93", "tr", false},    {"\x14\x11", "", true}, // the end code holds for good
        {"\x93\x11\x13", "ttr", true}, {"\x93\x11\x13", "tttr", false},
    };
    for (const Case& c : cases) {
        OutputQueue q;
        q.start(1ms);
        q.holdOn({0x13, 0x14, {0x11}});
        q.push('A');
        for (char b : c.in)
            q.received(static_cast<std::uint8_t>(b));
        std::size_t next = 0;
        for (char step : c.caller)
            step == 't' ? q.taken(static_cast<std::uint8_t>(c.in[next++])) : q.release();
        std::chrono::nanoseconds wait{};
        EXPECT_EQ(q.due(std::nullopt, wait).empty(), c.held) << testing::PrintToString(c.in) << " " << c.caller;
    }
}

TEST_F(TransferTest, ControllerInputHoldsThePartnerBack)
{
    profile.inCodes = {"-", "&H11", "&H93", "&H14"};
    profile.code = 0;
    port1.receive(std::string(1200, 'X') + "\x14");
    t.Command2_Click();
    // The stop code once above 1000 waiting, the request code below 10: each
    // on its own, at the moment its threshold is crossed.
    EXPECT_EQ(port1.written, "\x93\x11");
    ASSERT_EQ(port1.flushes.size(), 2u);
    EXPECT_EQ(port1.flushes[0].first, "\x93");
    EXPECT_GT(port1.flushes[0].second, 1000u);
    EXPECT_EQ(port1.flushes[1].first, "\x11");
    EXPECT_LT(port1.flushes[1].second, 10u);
    EXPECT_EQ(window.text, std::string(1200, 'X'));
    EXPECT_NE(log().find("送信 停止コード(入力) DC3 &H93\n"), std::string::npos) << log();
    EXPECT_NE(log().find("送信 要求コード(入力) DC1 &H11\n"), std::string::npos) << log();
    EXPECT_NE(log().find("受信 終了コード(入力) DC4 &H14\n"), std::string::npos) << log();
    EXPECT_EQ(monitor.records().back().received, 1201);
}

TEST_F(TransferTest, PuncherInputCollapsesLineEnds)
{
    profile.inCodes = {"&H12", "-", "-", "&H14"};
    profile.code = 0;
    profile.timeout = 0.05f;
    port1.receive(std::string("G1\0\0\r\n\nX2", 9));
    t.Command20_Click();
    EXPECT_EQ(window.text, "G1\r\nX2");
    EXPECT_EQ(port1.written, "\x12\x14"); // start code sent, end code sent
    settings.write("Tarvex", "Pcheck2", "1");
    window.text.clear();
    port1.receive("G 1\r\nX 2");
    t.Command20_Click();
    EXPECT_EQ(window.text, "G1\r\nX2");
}

TEST_F(TransferTest, InspectionInputDropsTheUnfinishedLine)
{
    profile.code = 0;
    window.text = "OLD\r\n";
    port1.receive("L1\r\nL2\nL3");
    int waits = 0;
    events.onWait = [&] {
        if (++waits == 3)
            t.CommandCancel_Click();
    };
    t.Command21_Click();
    EXPECT_EQ(window.text, "OLD\r\nL1\r\n\r\nL2\r\n"); // CR and LF each end a line
    EXPECT_EQ(status.StatusText, "終了しました。");
    EXPECT_TRUE(window.panel[PanelControl::Command21]);
}

TEST_F(TransferTest, ReceiveThatFailsKeepsWhatArrived)
{
    // The line hangs up with bytes still in the receive buffer: every input
    // keeps all it received (what its code keeps), the unfinished line too,
    // says what happened, and sends no end code into the dead line.
    struct Row {
        const char* name;
        void (Transfers::*command)();
        std::string expected;
    };
    const Row rows[] = {
        {"controller", &Transfers::Command2_Click, "A\r\nB1\r\nX2 Y"},
        {"puncher", &Transfers::Command20_Click, "A\r\nB1\r\nX2Y"},
        {"inspection", &Transfers::Command21_Click, "A\r\nB1\r\n\r\nX2 Y"}, // CR and LF each end a line
    };
    settings.write("Tarvex", "Pcheck2", "1"); // the puncher input ignores spaces
    for (const Row& r : rows) {
        profile.inCodes = {"-", "&H11", "&H93", "&H14"};
        profile.code = 0;
        window.text = "A";
        port1.written.clear();
        port1.incoming.clear();
        port1.receive("B1\r\nX2 Y");
        port1.failed = {};
        box.shown.clear();
        int waits = 0;
        events.onWait = [&] {
            if (++waits == 1)
                port1.failed = {57, "回線が切断されました。"};
        };
        (t.*r.command)();
        EXPECT_EQ(window.text, r.expected) << r.name;
        EXPECT_EQ(box.shown.size(), 1u) << r.name;
        EXPECT_EQ(status.StatusText, "回線が切断されました。") << r.name;
        EXPECT_EQ(port1.written.find('\x14'), std::string::npos) << r.name;
    }
    port1.failed = {};
    events.onWait = nullptr;
    // A data folder that takes no file stops nothing: the text stays in memory.
    fs.readOnly.insert("/home");
    window.text = "KEEP";
    profile.inCodes = {"-", "-", "-", "&H14"};
    port1.receive("G1\r\n\x14");
    t.Command2_Click();
    EXPECT_EQ(window.text, "KEEP\r\nG1\r\n");
    EXPECT_TRUE(fs.files.empty() || !fs.files.count("/home/bak.dat"));
}

TEST_F(TransferTest, ScrollBoxAndCancel)
{
    t.Check1_Click(true);
    EXPECT_TRUE(t.ScrollFollow);
    EXPECT_EQ(window.labels.back(), "");
    EXPECT_EQ(window.status.back(), "");
    t.CommandCancel_Click();
    EXPECT_EQ(status.TransferState, 999);
    EXPECT_EQ(status.StatusText, "--- 中止しました。---");
}

TEST_F(TransferTest, EveryLineEndGoesOutAsTheEndOfBlock)
{
    // A lone LF, a lone CR and an LF CR are each one line end, as Save has
    // them: none may join two blocks at the machine.
    struct Row {
        const char* name;
        void (Transfers::*command)();
        fakes::FakeSerialPort& port;
        short code;
        std::string line;
    };
    const std::string eia("\x67\x01\x80\x67\x02\x80\x67\x13\x80\x54\x13", 11);
    const std::string iso("\x47\xB1\x8D\x0A\x47\xB2\x8D\x0A\x47\x33\x8D\x0A\x4D\x33", 14);
    const Row rows[] = {
        {"controller, EIA", &Transfers::Command1_Click, port1, 1, eia + "\x0B"}, // and the closing "%"
        {"controller, ISO", &Transfers::Command1_Click, port1, 2, iso + "\xA5"},
        {"puncher, EIA", &Transfers::Command10_Click, port1, 1, eia},
        {"tape run, ISO", &Transfers::Command11_Click, port2, 2, iso},
    };
    for (const Row& r : rows) {
        profile.outCodes = {"-", "-", "-", "-"};
        profile.code = r.code;
        window.text = "G1\nG2\rG3\n\rM3";
        r.port.written.clear();
        window.selected.clear();
        (t.*r.command)();
        EXPECT_EQ(r.port.written, r.line) << r.name;
    }
    // The editor follows the characters as they stand in it.
    EXPECT_EQ(window.selected, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12}));
}

TEST_F(TransferTest, ACancelDuringASlowWaitSendsNothingMore)
{
    profile.outCodes = {"-", "-", "-", "&H14"};
    window.slider = 1000; // five seconds a character for the puncher
    window.text = "G1X2";
    int waits = 0;
    events.onWait = [&] {
        if (++waits == 1)
            t.CommandCancel_Click();
    };
    const auto start = std::chrono::steady_clock::now();
    t.Command10_Click();
    // Well under one character's wait, with room for a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_EQ(port1.written, "\x47\x14"); // G, then at once the end code
    EXPECT_EQ(status.StatusText, "送信を中止しました。");
    // The controller output at the slider's end waits 1001 yields before
    // each character (G, 1 and the closing "%"): 100 ms by the clock, the
    // first yield waiting no time.
    events.onWait = nullptr;
    window.text = "G1";
    const auto slow = std::chrono::steady_clock::now();
    t.Command1_Click();
    EXPECT_GE(std::chrono::steady_clock::now() - slow, 3 * 1000 * 100us);
}

TEST(LineMonitorTest, WarnsOnlyWhenAStopCodeWasFollowedByMoreThanTenCharacters)
{
    for (auto [written, queued, warned] : {std::tuple{10u, std::optional<std::size_t>{}, false},
                                           std::tuple{1u, std::optional<std::size_t>{11}, true},
                                           std::tuple{11u, std::optional<std::size_t>{2}, true}}) {
        LineMonitor m;
        m.begin("出力", "/dev/ttyS0", {});
        m.stopCounted({written, queued});
        m.end("送信を終了しました。");
        const std::string text = m.records().back().text();
        EXPECT_EQ(text.find("注意: 停止コードを受けた後に最大 11 文字") != std::string::npos, warned) << text;
        // The queue holds what was just written: the two are not added.
        EXPECT_NE(text.find("停止コードの後の文字: " + std::to_string(std::max<std::size_t>(written, queued.value_or(0)))),
                  std::string::npos);
    }
    // The longest of two pauses is told, not the last one.
    {
        LineMonitor m;
        m.begin("出力", "-", {});
        m.paused();
        std::this_thread::sleep_for(40ms);
        m.resumed();
        m.paused();
        m.resumed();
        m.end({});
        EXPECT_GE(m.records().back().longestPause, 0.04);
    }
    // Only the last ten transfers are kept.
    LineMonitor m;
    for (int k = 0; k < 12; ++k) {
        m.begin(std::to_string(k), "-", {});
        m.end({});
    }
    ASSERT_EQ(m.records().size(), LineMonitor::kept);
    EXPECT_EQ(m.records().front().title, "2");
}
