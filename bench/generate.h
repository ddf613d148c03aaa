#pragma once
// Programs for the benchmarks, as a CAM system writes them: G90, decimal
// points, N numbers, short moves (0.05 to 0.5 mm) wandering over a 100 mm
// square, G00/G01/G02/G03 with arcs by I/J and by R; about 30 bytes a line,
// CR LF; no subprogram calls.
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

namespace tarvex::bench {

inline std::string generateProgram(long lines, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::string out = "%\r\nO1000(BENCH)\r\nG90G17G21\r\nG00X50.Y50.\r\n";
    out.reserve(static_cast<std::size_t>(lines) * 32);
    double x = 50, y = 50, heading = 0;
    char line[128];
    auto rounded = [](double v) { return std::round(v * 1000) / 1000; };
    for (long n = 5; n < lines - 2; ++n) {
        const int kind = static_cast<int>(rng() % 20);
        heading += (unit(rng) - 0.5) * 0.8;
        // Turn back towards the middle near the edges of the square.
        if (x < 5 || x > 95 || y < 5 || y > 95)
            heading = std::atan2(50 - y, 50 - x);
        if (kind < 14 || kind == 19) {
            const double step = 0.05 + unit(rng) * 0.45;
            x = rounded(x + step * std::cos(heading));
            y = rounded(y + step * std::sin(heading));
            std::snprintf(line, sizeof line, kind == 19 ? "N%ldG00X%.3fY%.3f\r\n" : "N%ldG01X%.3fY%.3f\r\n", n, x, y);
        } else {
            // An arc of 20 to 90 degrees on a radius of 0.2 to 1 mm.
            const double r = 0.2 + unit(rng) * 0.8;
            const double toCentre = heading + (kind % 2 ? M_PI / 2 : -M_PI / 2);
            const double cx = x + r * std::cos(toCentre), cy = y + r * std::sin(toCentre);
            const bool ccw = kind % 2 == 1;
            const double sweep = (20 + unit(rng) * 70) * M_PI / 180;
            const double from = std::atan2(y - cy, x - cx), to = from + (ccw ? sweep : -sweep);
            const double ex = rounded(cx + r * std::cos(to)), ey = rounded(cy + r * std::sin(to));
            if (kind < 17)
                std::snprintf(line, sizeof line, "N%ldG0%dX%.3fY%.3fI%.3fJ%.3f\r\n", n, ccw ? 3 : 2, ex, ey, cx - x,
                              cy - y);
            else
                std::snprintf(line, sizeof line, "N%ldG0%dX%.3fY%.3fR%.3f\r\n", n, ccw ? 3 : 2, ex, ey, r);
            heading += ccw ? sweep : -sweep;
            x = ex;
            y = ey;
        }
        out += line;
    }
    out += "M30\r\n%\r\n";
    return out;
}

} // namespace tarvex::bench
