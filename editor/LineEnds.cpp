#include "editor/LineEnds.h"
#include "platform/FileSystem.h"

namespace tarvex {

void LineEndNormaliser::feed(std::string_view bytes, std::string& out)
{
    out.reserve(out.size() + bytes.size() + bytes.size() / 16);
    const char* end = bytes.data() + bytes.size();
    const char* p = bytes.data();
    if (p == end)
        return;
    if (partner_ && *p == partner_)
        ++p; // the second half of a line end cut between two pieces
    partner_ = 0;
    while (p < end) {
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n')
            ++q;
        out.append(p, q);
        if (q == end)
            break;
        out += "\r\n";
        const char partner = *q == '\r' ? '\n' : '\r';
        p = q + 1;
        if (p == end)
            partner_ = partner;
        else if (*p == partner)
            ++p;
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
