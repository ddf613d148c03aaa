#include "toolpath/SubprogramStore.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "platform/UiServices.h"
#include "platform/Numbers.h"
#include "platform/TextLines.h"

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

Error readStored(FileSystem& fs, const std::string& progDir, const std::string& name, std::string& bytes)
{
    return fs.readFile(joinPath(joinPath(progDir, subprogramFolderName), name), bytes);
}

std::function<std::optional<std::string>(long)> storedPrograms(FileSystem& fs, const TextCodec& codec,
                                                               std::string progDir)
{
    return [&fs, &codec, progDir = std::move(progDir)](long number) -> std::optional<std::string> {
        std::string bytes;
        if (readStored(fs, progDir, "O" + std::to_string(number), bytes))
            return std::nullopt;
        return codec.decode(bytes);
    };
}

std::string SubprogramStore::folder() const
{
    return withSeparator(joinPath(progDir_, subprogramFolderName));
}

namespace {

// A line of the file as characters: pure ASCII lines (nearly all) as they are,
// others decoded, so that a trail byte of a Japanese character never reads as
// a letter.
std::string_view asText(std::string_view bytes, const TextCodec& codec, std::string& scratch)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            scratch = codec.decode(bytes);
            return scratch;
        }
    return bytes;
}

} // namespace

std::optional<std::string> SubprogramStore::LoadSub(const std::string& path)
{
    std::string bytes;
    if (Error e = fs_.readFile(path, bytes)) {
        documentPath_ = path;
        return errorBoxText(e) + displayName(path, codec_);
    }
    return LoadSub(path, bytes);
}

std::optional<std::string> SubprogramStore::LoadSub(const std::string& path, std::string_view bytes)
{
    documentPath_ = path;
    // The line being processed, for the message: the path until a line is read.
    std::string_view lineBuffer;
    const std::string pathText = displayName(path, codec_);
    auto fail = [&](const Error& e) {
        return std::optional<std::string>(errorBoxText(e) + (lineBuffer.data() ? std::string(lineBuffer) : pathText));
    };

    if (!fs_.isFolder(folder()))
        if (Error e = fs_.makeFolder(folder()))
            return fail(e);

    // The program files are copied line by line as bytes, which is what
    // decoding and encoding again would give.
    TextLines lines(bytes);
    std::string_view raw, line;
    std::string scratch;
    bool more = lines.next(raw);
    while (more) {
        line = asText(raw, codec_, scratch);
        lineBuffer = line;
        if (!isHeader(line)) {
            more = lines.next(raw);
            continue;
        }
        std::string name;
        if (Error e = storeName(line, name))
            return fail(e);
        // Storing stops at a failure; the program it failed on must not then
        // be found in its old form by a later call.
        const std::string file = joinPath(folder(), name);
        auto failStored = [&](const Error& e) {
            fs_.removeFile(file);
            return fail(e);
        };
        Error e;
        auto program = fs_.createFile(file, false, e);
        if (!program || (e = program->write(raw)) || (e = program->write("\r\n")))
            return failStored(e);
        bool ends = false;
        while (!ends && (more = lines.next(raw))) {
            if (raw.empty())
                continue;
            line = asText(raw, codec_, scratch);
            lineBuffer = line;
            if ((e = program->write(raw)) || (e = program->write("\r\n")) || (e = endsProgram(line, ends))) {
                program.reset(); // the temporary file goes before the old one is removed
                return failStored(e);
            }
        }
        if ((e = program->commit()))
            return failStored(e);
        if (more)
            more = lines.next(raw);
    }
    return std::nullopt;
}

} // namespace tarvex
