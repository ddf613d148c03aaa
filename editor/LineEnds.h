#pragma once
#include <string>
#include <string_view>

namespace tarvex {

// The copy that Save makes: the first CR or LF met decides which character
// marks a line end (the other becomes its companion); every line end is
// written as CR LF and every companion character is dropped. No line end is
// added at the end.
std::string normaliseLineEnds(std::string_view bytes);

// The same rule applied piece by piece, for copies too large to hold.
class LineEndNormaliser {
public:
    void feed(std::string_view bytes, std::string& out);

private:
    char lineEnd_ = 0; // of CR and LF, the one met first; the other is dropped
};

class FileSystem;
struct Error;

// Copies a file with the rule above, replacing the target atomically.
Error copyWithCrLf(FileSystem& fs, const std::string& from, const std::string& to);

} // namespace tarvex
