// The plotting pass on the real image surface: what reaches the pixels.
#include "platform/posix/Cp932Codec.h"
#include "platform/qt/QtImageSurface.h"
#include "tests/fakes/Fakes.h"
#include "toolpath/ConditionTable.h"
#include "toolpath/Graphics.h"

#include <QtTest>
#include <cmath>

using namespace tarvex;

class PlotSurfaceTest : public QObject {
    Q_OBJECT

    struct World {
        fakes::MemoryFileSystem fs;
        Cp932Codec codec;
        ConditionTable conditions;
        std::unique_ptr<SegmentTable> table = std::make_unique<SegmentTable>();
        Graphics g{fs, codec, "/home/", *table, conditions};
        QtImageSurface surface{QSize(400, 400)};
        World()
        {
            for (const char* f : {"/home", "/home/SUBPRO", "/home/Mcode"})
                fs.folders.insert(f);
        }
        void plot(const std::string& program)
        {
            g.WirFmt(program);
            g.GrSub(surface);
        }
        // Whether the pixel at a toolpath point, or one next to it, is drawn.
        bool lit(float x, float y) const
        {
            const double px = (x - g.plotLeft) * surface.width() / (g.plotRight - g.plotLeft);
            const double py = (y - g.plotTop) * surface.height() / (g.plotBottom - g.plotTop);
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int ix = static_cast<int>(std::floor(px)) + dx, iy = static_cast<int>(std::floor(py)) + dy;
                    if (surface.image().rect().contains(ix, iy) && surface.image().pixel(ix, iy) != qRgb(0, 0, 0))
                        return true;
                }
            return false;
        }
    };

private slots:
    void onlyTheArcIsDrawn()
    {
        struct Row {
            const char* name;
            const char* program;
            std::vector<std::pair<float, float>> on, off;
        };
        const Row rows[] = {
            // A half circle over its chord: the arc's top is drawn, the chord is not.
            {"half circle", "G02X10.I5.J0", {{5, 5}, {0.2f, 1.4f}, {9.8f, 1.4f}}, {{3, 0}, {5, 0}, {7, 0}, {5, 2.5f}}},
            // A homing move read as an arc of radius 0: no line to its end.
            {"radius 0", "G00X0Y0\r\nG28X10.Y10.", {}, {{2, 2}, {5, 5}, {8, 8}, {10, 10}}},
            // An end off the circle gets no straight tail to it.
            {"end off the circle", "G03X10.Y3.I5.J0", {{5, -5}}, {{10, 2}, {10, 2.5f}}},
            // A full circle from a point where the centre rounds.
            {"full circle", "G00X-129.108Y-31.624998\r\nG03X-129.108Y-31.624998I-5.J-4.",
             {{-134.108f + 6.4031243f, -35.624998f}, {-134.108f, -35.624998f + 6.4031243f},
              {-134.108f, -35.624998f - 6.4031243f}}, // its left half lies outside the view
             {{-134.108f, -35.624998f}}},
        };
        for (const Row& r : rows) {
            World w;
            w.plot(r.program);
            for (auto [x, y] : r.on)
                QVERIFY2(w.lit(x, y), qPrintable(QString("%1: nothing at %2, %3").arg(r.name).arg(x).arg(y)));
            for (auto [x, y] : r.off)
                QVERIFY2(!w.lit(x, y), qPrintable(QString("%1: drawn at %2, %3").arg(r.name).arg(x).arg(y)));
        }
    }
};

QTEST_MAIN(PlotSurfaceTest)
#include "plot_surface_test.moc"
