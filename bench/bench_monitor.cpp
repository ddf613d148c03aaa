// The controller output in the real window with 通信モニタ open, on a
// pseudo-terminal and through a network port:
// - 10,000 characters at 19,200 baud to a partner that echoes every byte
//   back: the time against the line time, and the memory before and after;
// - 10 s of modem-state notifications flooding in from an RFC 2217 server
//   while the output runs: the monitor's lines and the peak memory.
// - the same flood to tarvex-cli send --log, its peak memory.
// Prints figures; never a test. Usage: bench_monitor [TARVEX_CLI] (offscreen by itself).
#include "app/ui/QtUi.h"
#include "app/ui/TarvexFrm.h"
#include "editor/ui/RichTextBox.h"
#include "app/ProcessState.h"
#include "platform/posix/Cp932Codec.h"
#include "platform/posix/DevicePort.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "platform/qt/QtFileDialog.h"
#include "platform/qt/QtSettingsStore.h"
#include "platform/qt/QtUiServices.h"
#include "serial/LineMonitor.h"
#include "serial/ui/CommPanel.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <signal.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace tarvex;
using Clock = std::chrono::steady_clock;

namespace {

double rssMB()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1048576.0);
}

std::string program(std::size_t characters)
{
    std::string text;
    while (text.size() + 11 <= characters)
        text += "G01X1.Y2.\r\n";
    text.append(characters - text.size(), 'N');
    return text;
}

// An RFC 2217 server that agrees to the settings, then sends modem-state
// notifications as fast as it can for 10 s, and takes what the client sends
// until it closes.
class FloodServer {
public:
    FloodServer()
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener_, 1);
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
    long finish()
    {
        thread_.join();
        close(listener_);
        return notes_;
    }

private:
    void serve()
    {
        const int c = accept(listener_, nullptr, nullptr);
        const unsigned char hello[] = {255, 253, 44, // DO COM-PORT, and the four settings acknowledged
                                       255, 250, 44, 101, 0, 0, 75, 0, 255, 240, 255, 250, 44, 102, 8, 255, 240,
                                       255, 250, 44, 103, 1, 255, 240, 255, 250, 44, 104, 1, 255, 240};
        (void)!send(c, hello, sizeof hello, MSG_NOSIGNAL);
        char sink[4096];
        const auto until = Clock::now() + std::chrono::seconds(10);
        for (int k = 0; Clock::now() < until; ++k) {
            const unsigned char note[] = {255, 250, 44, 107, static_cast<unsigned char>(k % 2 ? 0x11 : 0x01), 255, 240};
            if (send(c, note, sizeof note, MSG_NOSIGNAL) > 0)
                ++notes_;
            while (recv(c, sink, sizeof sink, MSG_DONTWAIT) > 0) {
            }
        }
        // Quiet now: the rest of the program is taken until the transfer closes.
        while (recv(c, sink, sizeof sink, 0) > 0) {
        }
        close(c);
    }
    int listener_ = -1, port_ = 0;
    std::thread thread_;
    long notes_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QtSettingsStore settings(dir.filePath("s.ini"));
    PosixFileSystem fs;
    Cp932Codec codec;
    QtUi qt(codec);
    UiServices& ui = qt.ui;
    ProcessState state(dir.path().toStdString() + "/", settings);
    DevicePort MSComm1, MSComm2;
    TarvexFrm window(state, fs, codec, ui, SystemFolders{}, MSComm1, MSComm2);
    window.logic().startUp("");
    window.menuAction(Menu::MnuMonitor)->trigger(); // 通信モニタ open, refreshing as it does
    Transfers& t = window.logic().transfers();
    t.endPause = std::chrono::milliseconds(0);
    DeviceProfile& p = state.profile;
    p.baud = 19200;
    p.parity = "N";
    p.dataBits = 8;
    p.stopBits = 1;
    p.handshake = "0";
    p.code = 0;
    p.port = 1;
    p.outCodes = {"-", "-", "-", "-"};
    p.inCodes = {"-", "-", "-", "-"};

    // 1. A partner that echoes every byte it gets.
    {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return 1;
        termios raw{};
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        t.deviceOverride = ttyname(slave);
        const std::size_t characters = 10000;
        std::atomic<bool> stop{false};
        std::atomic<long> got{0};
        Clock::time_point first{}, last{};
        std::thread partner([&] {
            char buf[256];
            while (!stop) {
                pollfd pf{master, POLLIN, 0};
                if (poll(&pf, 1, 50) <= 0)
                    continue;
                const ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0)
                    break;
                if (got == 0)
                    first = Clock::now();
                got += n;
                last = Clock::now();
                (void)!write(master, buf, static_cast<std::size_t>(n)); // the echo
            }
        });
        static_cast<TextEditor*>(window.editor())->setText(program(characters));
        const double before = rssMB();
        window.frame1()->Command1->click();
        stop = true;
        partner.join();
        const double seconds = std::chrono::duration<double>(last - first).count();
        const double lineTime = (characters + 1) * 10.0 / 19200; // the closing "%" too
        const LineMonitor::Record& r = window.logic().lineMonitor().records().back();
        std::printf("echo: %ld characters at 19,200 baud in %.3f s (line time %.3f s, %+.1f %%); memory %.1f MB "
                    "before, %.1f MB after; the log %zu lines, %lld characters received counted\n",
                    got.load(), seconds, lineTime, (seconds / lineTime - 1) * 100, before, rssMB(), r.added,
                    r.received);
        close(master);
        close(slave);
    }

    // 2. An RFC 2217 server flooding modem-state notifications for 10 s,
    // to the window with its monitor, then to tarvex-cli send --log.
    const std::string text = program(19200 / 10 * 12); // 12 s of line time
    {
        FloodServer server;
        t.deviceOverride = server.url();
        static_cast<TextEditor*>(window.editor())->setText(text);
        const double before = rssMB();
        window.frame1()->Command1->click();
        const long notes = server.finish();
        const LineMonitor::Record& r = window.logic().lineMonitor().records().back();
        std::printf("flood (window): %ld modem-state notifications in 10 s while sending; the log %zu lines kept of "
                    "%zu (%zu left out); memory %.1f MB before, %.1f MB after\n",
                    notes, r.lines.size() + r.tail.size(), r.added, r.omitted, before, rssMB());
    }
    if (argc > 1) {
        FloodServer server;
        const std::string home = dir.filePath("home").toStdString(), file = dir.filePath("p.nc").toStdString();
        fs.makeFolder(home);
        fs.makeFolder(home + "/RS232C");
        fs.writeFile(home + "/RS232C/P", formatProfile(p));
        fs.writeFile(file, text);
        const std::string command = std::string(argv[1]) + " send --profile P --partner controller --device "
                                    + server.url() + " --home " + home + " --settings " + home + "/s.ini --log "
                                    + home + "/line.log " + file + " 2>/dev/null & echo $!";
        FILE* f = popen(command.c_str(), "r");
        long pid = 0;
        if (!f || std::fscanf(f, "%ld", &pid) != 1)
            return 1;
        pclose(f);
        long peak = 0;
        for (;;) { // the process's high-water mark, until it ends
            FILE* st = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
            if (!st)
                break;
            char row[256];
            while (std::fgets(row, sizeof row, st))
                std::sscanf(row, "VmHWM: %ld kB", &peak);
            std::fclose(st);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (kill(static_cast<pid_t>(pid), 0) != 0)
                break;
        }
        const long notes = server.finish();
        std::string log;
        fs.readFile(home + "/line.log", log);
        std::printf("flood (tarvex-cli send --log): %ld notifications; peak memory %.1f MB; the log %.1f KB\n",
                    notes, peak / 1024.0, log.size() / 1024.0);
    }
    return 0;
}
