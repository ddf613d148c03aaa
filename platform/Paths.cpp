#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "platform/Utf8.h"

namespace tarvex {

bool isPlainFileName(std::string_view name)
{
    if (name.empty() || name == "." || name.find("..") != std::string_view::npos)
        return false;
    for (char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

std::string fileTitle(std::string_view path)
{
    auto cut = path.find_last_of("\\/");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string displayName(std::string_view pathBytes, const TextCodec& codec)
{
    return utf8::valid(pathBytes) ? std::string(pathBytes) : codec.decode(pathBytes);
}

std::string withExtension(std::string_view path, std::string_view extension)
{
    if (path.empty())
        return {};
    const auto name = path.find_last_of("\\/") + 1; // 0 when there is no folder
    const auto dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string_view::npos && dot > name;
    return std::string(path.substr(0, hasExtension ? dot : path.size())) + std::string(extension);
}

std::string withSeparator(std::string_view folder)
{
    std::string out(folder);
    if (!out.empty() && (out.back() != '/' && out.back() != '\\'))
        out += '/';
    return out;
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    return withSeparator(folder) + std::string(name);
}

} // namespace tarvex
