// The program document with a large program: open (from the command to the
// editor showing the text), save, a keystroke and a caret move at the end, in
// the middle and at the start, and the peak memory. Each size runs in its own
// process, with the words coloured unless --plain is given.
//   bench_document [--plain] [LINES...]   (default 100000 1000000 -20)
// A negative size is a program of one line of that many MB.
#include "bench/generate.h"
#include "bench/measure.h"
#include "tests/ui/window_world.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvex;
using namespace tarvex::bench;

namespace {

// FNV-1a, so that the benchmark keeps no copy of the program of its own: the
// peak memory is the editor's.
std::uint64_t fnv(std::string_view bytes, std::uint64_t h = 14695981039346656037ull)
{
    for (unsigned char c : bytes)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

std::uint64_t fileHash(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string chunk(1 << 20, '\0');
    std::uint64_t h = fnv({});
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
        h = fnv(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())), h);
    return h;
}

bool plain = false;

int runSize(long lines, int argc, char** argv)
{
    QApplication app(argc, argv);
    testing::WindowWorld w;
    const std::string program = w.path("big.nc");
    std::uint64_t hash = 0;
    std::size_t size = 0;
    {
        std::string bytes;
        if (lines > 0) {
            bytes = bench::generateProgram(lines);
        } else {
            for (long k = 0; static_cast<long>(bytes.size()) < -lines * 1'000'000; ++k)
                bytes += "G01X" + std::to_string(k % 1000) + ".Y2.";
        }
        w.write("big.nc", bytes);
        hash = fnv(bytes);
        size = bytes.size();
    }
    w.settings.write("Tarvex", "Width", "16000");
    w.settings.write("Tarvex", "Height", "12000");
    w.settings.write("Tarvex", "WordColours", plain ? "False" : "True");
    TarvexFrm& frm = w.start();
    fakes::FakeChooser& chooser = w.chooser;
    RichTextBox& ed = *frm.editor();

    const double open = median5([&] {
        chooser.answers.push_back({FileChooser::Outcome::Chosen, program});
        frm.menuAction(Menu::fileload)->trigger();
        ed.repaint();
    });
    const std::string saved = w.path("saved.nc");
    const double save = median5([&] {
        chooser.answers.push_back({FileChooser::Outcome::Chosen, saved});
        frm.menuAction(Menu::MnuSave)->trigger();
    });
    const bool identical = fileHash(saved) == hash;

    auto at = [&](double where) {
        const long length = ed.SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
        ed.SendScintilla(QsciScintillaBase::SCI_GOTOPOS, std::min(static_cast<long>(length * where), length - 2));
        ed.repaint();
    };
    auto key = [&](Qt::Key k) {
        QTest::keyClick(ed.viewport(), k);
        ed.repaint();
    };
    at(1);
    const double keyEnd = median5([&] { key(Qt::Key_A); });
    const double caretEnd = median5([&] { key(Qt::Key_Left); });
    at(0.5);
    const double keyMid = median5([&] { key(Qt::Key_A); });
    const double caretMid = median5([&] { key(Qt::Key_Down); });
    at(0);
    const double keyStart = median5([&] { key(Qt::Key_A); });
    const double caretStart = median5([&] { key(Qt::Key_Right); });

    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double peakEditing = ru.ru_maxrss / 1024.0;
    std::printf("%8ld lines %5.1f MB (%s): open %7.1f ms  save %7.1f ms  peak %6.1f MB  save unedited %s\n"
                "%8ld lines: key end %6.2f ms  mid %6.2f ms  start %6.2f ms"
                "  caret end %6.2f ms  mid %6.2f ms  start %6.2f ms\n",
                lines, size / 1e6, plain ? "plain" : "coloured", open, save, peakEditing, identical ? "identical" : "DIFFERS", lines,
                keyEnd, keyMid, keyStart, caretEnd, caretMid, caretStart);
    std::fflush(stdout);

    // The text tools of the edit menu on the same program, each once (each
    // changes the text): the editor update is included.
    TextCommands& tools = frm.logic().textCommands();
    auto once = [](auto&& f) {
        const auto a = Clock::now();
        f();
        return ms(a, Clock::now());
    };
    ed.SendScintilla(QsciScintillaBase::SCI_GOTOPOS, 0L);
    const double findFar = once([&] { tools.findNext("O1000(BENCH)X"); });  // not there: the whole text
    const double findNear = once([&] { tools.findNext("G01"); });
    const double iso = once([&] { tools.MnuISOCheck_Click(); });
    const double eia = once([&] { tools.MnuEIACheck_Click(); });
    const double replace = once([&] { tools.replaceAll("G01", "G1"); });
    const double lineReplace = once([&] { tools.lineReplace("G00", "N#G00\r\n"); });
    const double spaces = once([&] { tools.MnuSpDel_Click(); });
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%8ld lines: find next %6.1f ms (whole text %6.1f ms)  ISO check %6.1f ms  EIA check %6.1f ms"
                "  replace all %7.1f ms  line replace %7.1f ms  space deletion %7.1f ms  peak %6.1f MB\n",
                lines, findNear, findFar, iso, eia, replace, lineReplace, spaces, ru.ru_maxrss / 1024.0);
    std::fflush(stdout);
    return identical ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--plain")
            plain = true;
        else
            sizes.push_back(std::atol(argv[i]));
    }
    if (sizes.empty())
        sizes = {100000, 1000000, -20};
    int rc = 0;
    for (long lines : sizes) {
        // A process per size, so that the peak memory is that size's own.
        pid_t pid = fork();
        if (pid == 0)
            _exit(runSize(lines, 1, argv));
        int status = 0;
        waitpid(pid, &status, 0);
        rc |= WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    return rc;
}
