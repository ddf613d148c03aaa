#pragma once
// Programs for the benchmarks: G90, decimal points, G00/G01/G02/G03 with
// I/J and R, about 30 bytes a line, CR LF.
#include <cstdio>
#include <random>
#include <string>

namespace tarvex::bench {

inline std::string generateProgram(long lines, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coord(-200.0, 200.0);
    std::string out = "%\r\nO1000(BENCH)\r\nG90G17G21\r\n";
    out.reserve(static_cast<std::size_t>(lines) * 32);
    char line[96];
    for (long n = 3; n < lines - 2; ++n) {
        const double x = coord(rng), y = coord(rng);
        switch (rng() % 8) {
        case 0: std::snprintf(line, sizeof line, "G00X%.3fY%.3f\r\n", x, y); break;
        case 1: std::snprintf(line, sizeof line, "G02X%.3fY%.3fI%.3fJ%.3f\r\n", x, y, x / 4, y / 4); break;
        case 2: std::snprintf(line, sizeof line, "G03X%.3fY%.3fR%.3f\r\n", x, y, 150.0 + x / 2); break;
        default: std::snprintf(line, sizeof line, "G01X%.3fY%.3fF1200.\r\n", x, y); break;
        }
        out += line;
    }
    out += "M30\r\n%\r\n";
    return out;
}

} // namespace tarvex::bench
