#include "editor/LineEnds.h"

namespace tarvex {

std::string normaliseLineEnds(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    const char* end = bytes.data() + bytes.size();
    char lineEnd = 0; // of CR and LF, the one met first; the other is dropped
    for (const char* p = bytes.data(); p < end;) {
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n')
            ++q;
        out.append(p, q);
        if (q == end)
            break;
        if (!lineEnd)
            lineEnd = *q;
        if (*q == lineEnd)
            out += "\r\n";
        p = q + 1;
    }
    return out;
}

} // namespace tarvex
