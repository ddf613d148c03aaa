// The toolpath with large programs: the expansion against a bare loop that
// only reads the lines and converts the X/Y/I/J numbers, the plotting pass
// into a 1920 x 1080 image, the DXF export, and the whole tarvex-cli expand
// process with its peak memory.
//   bench_toolpath [LINES...]     (default 100000 1000000)
//   bench_toolpath --bare FILE    (the bare loop alone, as a process)
#include "bench/generate.h"
#include "bench/measure.h"
#include "editor/LineEnds.h"
#include "platform/UiServices.h"
#include "platform/posix/Cp932Codec.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/qt/QtImageSurface.h"
#include "toolpath/Graphics.h"
#include "view/PlotTools.h"
#include "toolpath/ConditionTable.h"
#include "platform/TextLines.h"
#include "program/Restart.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace tarvex;
using namespace tarvex::bench;

namespace {


// The floor: read the file line by line and convert each X, Y, I and J number.
double bareLoop(const char* path)
{
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return 0;
    char line[4096];
    double sum = 0;
    while (std::fgets(line, sizeof line, f))
        for (const char* p = line; *p; ++p)
            if (*p == 'X' || *p == 'Y' || *p == 'I' || *p == 'J')
                sum += std::strtof(p + 1, nullptr);
    std::fclose(f);
    return sum;
}

// A whole process: wall time and peak memory, as /usr/bin/time reports them
// (the peak of a child started from this large process would count this
// process's memory too).
struct Run {
    double ms = 0, peakMB = 0;
};

Run runProcess(const std::vector<std::string>& args, const std::string& report)
{
    std::string command = "/usr/bin/time -f '%e %M' -o '" + report + "'";
    for (const auto& a : args)
        command += " '" + a + "'";
    command += " > /dev/null";
    if (std::system(command.c_str()) != 0)
        return {};
    Run r;
    if (FILE* f = std::fopen(report.c_str(), "r")) {
        double seconds = 0, kb = 0;
        if (std::fscanf(f, "%lf %lf", &seconds, &kb) == 2)
            r = {seconds * 1000, kb / 1024};
        std::fclose(f);
    }
    return r;
}

Run medianProcess(const std::vector<std::string>& args, const std::string& report)
{
    std::vector<Run> runs;
    for (int k = 0; k < 5; ++k)
        runs.push_back(runProcess(args, report));
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.ms < b.ms; });
    return runs[2];
}

class NoEvents final : public EventLoop {
public:
    void yield() override {}
    void wait(std::chrono::microseconds) override {}
    void wake() override {}
    void setBusy(bool) override {}
};

std::string selfDir()
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string exe(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    return exe.substr(0, exe.find_last_of('/') + 1);
}

void runSize(long lines)
{
    QTemporaryDir dir;
    const std::string home = dir.path().toStdString() + "/";
    const std::string program = home + "big.nc";
    const std::string text = bench::generateProgram(lines);
    std::ofstream(program, std::ios::binary) << text;

    PosixFileSystem fs;
    Cp932Codec codec;
    ConditionTable conditions;
    SegmentTable segments;
    Graphics g(fs, codec, home, segments, conditions);
    NoEvents events;

    const double bare = median5([&] { bareLoop(program.c_str()); });
    const double expand = median5([&] { g.WirFmt(text); });
    QtImageSurface surface(QSize(1920, 1080));
    const double plot = median5([&] { g.GrSub(surface); });

    // Markings: an M08 every thousandth line (1,000 places, the most the
    // table holds) with a small symbol, then with a marking of 200,000 lines.
    std::string marked;
    {
        long n = 0;
        for (std::size_t from = 0; from < text.size();) {
            std::size_t end = std::min(text.find('\n', from), text.size() - 1) + 1;
            marked.append(text, from, end - from);
            if (++n % std::max(1L, (lines - 10) / 1000) == 0 && n / std::max(1L, (lines - 10) / 1000) <= 1000)
                marked += "M08\r\n";
            from = end;
        }
    }
    fs.makeFolder(home + "Mcode");
    std::ofstream(home + "Mcode/M08", std::ios::binary)
        << " 2 \r\n 65535 \r\nG00X-1.\r\nG01X2.\r\nG00X-1.Y-1.\r\nG01Y2.\r\nG00Y-1.5\r\nG03J.5\r\n";
    g.WirFmt(marked);
    const int places = g.markings.markingCount + 1;
    const double plotBare = median5([&] { g.GrSub(surface); });
    g.showMarkings = true;
    const double plotMarked = median5([&] { g.GrSub(surface); });
    {
        std::ofstream big(home + "Mcode/M08", std::ios::binary);
        big << " 1 \r\n 255 \r\n";
        for (int k = 0; k < 200000; ++k)
            big << (k % 2 ? "G01X.01\r\n" : "G01X-.01\r\n");
    }
    const double plotHuge = median5([&] { g.GrSub(surface); });
    g.showMarkings = false;
    surface.image().save(QString::fromStdString(home + "plot.png"));
    const std::string out = home + "out.dxf";
    const double dxf = median5([&] {
        g.DxfSave(text, events);
        g.writeDxf(out);
    });
    const int count = segments.segmentCount + 1;

    // The plot's mouse tools on the same path: a pick scans every segment.
    g.WirFmt(text);
    g.GrSub(surface);
    PlotTools tools(g, conditions.conditionVisible.data());
    const PathSegment& middle = segments[count / 2];
    const double pick = median5([&] { tools.pick(-1000, -1000); }); // a miss: the whole table
    const double hit = median5([&] { tools.pick(middle.x, middle.y); }); // among the most elements
    // A whole press: the chain's measure and its elements drawn thick.
    tools.toolMode = tool::chainSelect;
    const double chain = median5([&] { tools.press(middle.x, middle.y, surface); }, [&] { tools.clearSelection(); });
    tools.toolMode = tool::move;
    const PlotView whole = g.view;
    const double move = median5([&] { tools.press(whole.centreX + 1, whole.centreY, surface); });
    tools.toolMode = tool::zoom;
    const double zoom = median5([&] {
        g.view = whole;
        tools.press(whole.centreX, whole.centreY, surface);
    });
    g.view = whole;

    const std::string report = home + "time.txt";
    const Run cli = medianProcess({selfDir() + "../tarvex-cli", "expand", program, "--home", home, "--summary"}, report);
    const Run bareProcess = medianProcess({selfDir() + "bench_toolpath", "--bare", program}, report);

    std::printf("%8ld lines (%d segments): expand %6.1f ms (bare loop %5.1f ms, ratio %.2f)  plot %6.1f ms"
                "  dxf %6.1f ms\n"
                "               tarvex-cli expand --summary %6.1f ms, peak %5.1f MB (bare loop process %5.1f ms,"
                " ratio %.2f)\n"
                "               pick %5.1f ms (a miss), %5.1f ms (a hit)  chain press %5.1f ms  move %6.1f ms"
                "  zoom %6.1f ms (plot %6.1f ms)\n",
                lines, count, expand, bare, expand / bare, plot, dxf, cli.ms, cli.peakMB, bareProcess.ms,
                cli.ms / bareProcess.ms, pick, hit, chain, move, zoom, plot);
    // The restart scan reads every block before the chosen one: at the last block, all of them.
    const std::size_t lastLine = lineOfByte(text, text.rfind("\nN") + 1);
    std::size_t preambleSize = 0;
    const double restart = median5([&] { preambleSize = planRestart(text, lastLine, "50").preamble.size(); });
    std::printf("               restart from the last block: the modal scan %6.1f ms (a preamble of %zu bytes)\n",
                restart, preambleSize);
    std::printf("               markings at %d places: plot %6.1f ms without, %6.1f ms with (ratio %.2f); "
                "a 200,000-line marking %6.1f ms\n",
                places, plotBare, plotMarked, plotMarked / plotBare, plotHuge);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--bare") == 0)
        return bareLoop(argv[2]) == 12345.678 ? 1 : 0;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qargc = 1;
    QGuiApplication app(qargc, argv);
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atol(argv[i]));
    if (sizes.empty())
        sizes = {100000, 1000000};
    for (long lines : sizes)
        runSize(lines);
    return 0;
}
