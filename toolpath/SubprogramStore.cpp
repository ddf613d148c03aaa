#include "toolpath/SubprogramStore.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "platform/UiServices.h"
#include "toolpath/Numbers.h"
#include "toolpath/TextLines.h"

#include <cmath>

namespace tarvex {
namespace {

// A leading-number value taken as a 16-bit integer (rounded half to even).
Error int16Value(std::string_view text, int& value)
{
    bool overflow = false;
    double v = std::nearbyint(leadingValue(text, &overflow));
    if (overflow || v < -32768.0 || v > 32767.0)
        return overflowError();
    value = static_cast<int>(v);
    return {};
}

// Whether a stored program ends with this line: RTS, G23, or M02/M30/M99.
Error endsProgram(std::string_view line, bool& ends)
{
    ends = line.find("RTS") != std::string_view::npos || line.find("G23") != std::string_view::npos;
    auto m = line.find('M');
    if (ends || m == std::string_view::npos)
        return {};
    int code = 0;
    if (Error e = int16Value(line.substr(m + 1), code))
        return e;
    ends = code == 2 || code == 30 || code == 99;
    return {};
}

bool isHeader(std::string_view line)
{
    return !line.empty() && (line[0] == 'O' || line[0] == 'L' || line[0] == ':');
}

} // namespace

Error storeName(std::string_view header, std::string& name)
{
    int n = 0;
    if (Error e = int16Value(header.substr(1), n))
        return e;
    name = std::string(1, header[0]) + std::to_string(n);
    return {};
}

std::string SubprogramStore::folder() const
{
    return withSeparator(joinPath(progDir_, subprogramFolderName));
}

std::optional<std::string> SubprogramStore::LoadSub(const std::string& path)
{
    documentPath_ = path;
    std::string lineBuffer = path;
    auto fail = [&](const Error& e) { return std::optional<std::string>(errorBoxText(e) + lineBuffer); };

    if (!fs_.isFolder(folder()))
        if (Error e = fs_.makeFolder(folder()))
            return fail(e);
    std::string bytes;
    if (Error e = fs_.readFile(path, bytes))
        return fail(e);
    const std::string text = codec_.decode(bytes);
    bytes.clear();

    TextLines lines(text);
    std::string_view line;
    bool more = lines.next(line);
    while (more) {
        lineBuffer = line;
        if (!isHeader(line)) {
            more = lines.next(line);
            continue;
        }
        std::string name;
        if (Error e = storeName(line, name))
            return fail(e);
        std::string program = std::string(line) + "\r\n";
        bool ends = false;
        while (!ends && (more = lines.next(line))) {
            lineBuffer = line;
            if (line.empty())
                continue;
            program.append(line).append("\r\n");
            if (Error e = endsProgram(line, ends))
                return fail(e);
        }
        if (Error e = fs_.writeFile(joinPath(folder(), name), codec_.encode(program), false))
            return fail(e);
        if (more)
            more = lines.next(line);
    }
    return std::nullopt;
}

} // namespace tarvex
