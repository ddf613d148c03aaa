#pragma once
#include <string>
#include <string_view>

namespace tarvex {

// The copy that Save makes: every CR LF, LF CR, lone CR and lone LF is one
// line end and is written as CR LF, so that the file holds the lines the
// editor showed. No line end is added at the end.
std::string normaliseLineEnds(std::string_view bytes);

// The same rule applied piece by piece, for copies too large to hold.
class LineEndNormaliser {
public:
    void feed(std::string_view bytes, std::string& out);

private:
    // After a CR, an LF that follows belongs to the same line end (and the
    // other way round); 0 when the last byte was no line end.
    char partner_ = 0;
};

class FileSystem;
struct Error;

// Copies a file with the rule above, replacing the target atomically.
Error copyWithCrLf(FileSystem& fs, const std::string& from, const std::string& to);

} // namespace tarvex
