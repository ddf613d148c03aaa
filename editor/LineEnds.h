#pragma once
#include <string>
#include <string_view>

namespace tarvex {

// The copy that Save makes: the first CR or LF met decides which character
// marks a line end (the other becomes its companion); every line end is
// written as CR LF and every companion character is dropped. No line end is
// added at the end.
std::string normaliseLineEnds(std::string_view bytes);

} // namespace tarvex
