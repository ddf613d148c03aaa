#include "editor/LineEnds.h"
#include "platform/FileSystem.h"

namespace tarvex {

void LineEndNormaliser::feed(std::string_view bytes, std::string& out)
{
    out.reserve(out.size() + bytes.size() + bytes.size() / 16);
    const char* end = bytes.data() + bytes.size();
    for (const char* p = bytes.data(); p < end;) {
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n')
            ++q;
        out.append(p, q);
        if (q == end)
            break;
        if (!lineEnd_)
            lineEnd_ = *q;
        if (*q == lineEnd_)
            out += "\r\n";
        p = q + 1;
    }
}

std::string normaliseLineEnds(std::string_view bytes)
{
    std::string out;
    LineEndNormaliser().feed(bytes, out);
    return out;
}

Error copyWithCrLf(FileSystem& fs, const std::string& from, const std::string& to)
{
    Error e;
    auto reader = fs.openFile(from, e);
    if (!reader)
        return e;
    auto writer = fs.createFile(to, true, e);
    if (!writer)
        return e;
    LineEndNormaliser normaliser;
    std::string in, out;
    for (;;) {
        in.clear();
        if ((e = reader->read(1 << 20, in)))
            return e;
        if (in.empty())
            break;
        out.clear();
        normaliser.feed(in, out);
        if ((e = writer->write(out)))
            return e;
    }
    return writer->commit();
}

} // namespace tarvex
