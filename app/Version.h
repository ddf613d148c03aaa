#pragma once
#include <string>

namespace tarvex {

// The release: major, minor and revision.
inline constexpr int versionMajor = 2, versionMinor = 1, versionRevision = 25;

// "Ver 2.1.25", as the version window shows it.
inline std::string versionText()
{
    return "Ver " + std::to_string(versionMajor) + "." + std::to_string(versionMinor) + "." +
           std::to_string(versionRevision);
}

} // namespace tarvex
