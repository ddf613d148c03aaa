#pragma once
#include <string_view>

namespace tarvex {

// The text without the spaces and tabs around it.
inline std::string_view trimBlanks(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
        t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.remove_suffix(1);
    return t;
}

} // namespace tarvex
