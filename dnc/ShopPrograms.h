#pragma once
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace tarvex {

// The program number a received text begins with, as written ("O0012",
// ":12"): its first line that is one. Empty when it has none.
std::string firstProgramNumber(std::string_view text);

// The program a request names: the first comment on its program-number line
// or the line after it, trimmed, a leading "PRG=" (any case) removed. Empty
// when there is none.
std::string requestedName(std::string_view text);
// Whether a requested name can be looked for: letters, digits, "-", "_" and
// "." only, and not "." or "..".
bool plainProgramName(std::string_view name);

// A program of the library by the name a request gives: NAME, NAME.nc,
// NAME.NC, and for a number also ONAME, ONAME.nc, in the library and its
// folders. path is empty and refusal says why when there is no one answer.
struct LibraryMatch {
    std::string path;
    std::string refusal;
};
LibraryMatch findInLibrary(const std::string& library, const std::string& name);

// A moment in local time, written with strftime's format.
std::string localTime(std::time_t t, const char* format);

} // namespace tarvex
