#include "dnc/ShopPrograms.h"
#include "platform/Blanks.h"
#include "platform/TextLines.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

namespace tarvex {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number a line starts with when it is a program-number line.
std::string numberOf(std::string_view line)
{
    line = trimBlanks(line);
    if (line.size() < 2 || (line[0] != 'O' && line[0] != ':') || !isDigit(line[1]))
        return {};
    std::size_t end = 1;
    while (end < line.size() && isDigit(line[end]))
        ++end;
    return std::string(line.substr(0, end));
}

} // namespace

std::string firstProgramNumber(std::string_view text)
{
    TextLines lines(text);
    std::string_view line;
    while (lines.next(line))
        if (std::string n = numberOf(line); !n.empty())
            return n;
    return {};
}

std::string requestedName(std::string_view text)
{
    TextLines lines(text);
    std::string_view line;
    while (lines.next(line) && numberOf(line).empty()) {
    }
    for (int k = 0; k < 2 && !line.empty(); ++k) {
        const auto open = line.find('(');
        const auto close = open == std::string_view::npos ? open : line.find(')', open);
        if (close != std::string_view::npos) {
            std::string_view name = trimBlanks(line.substr(open + 1, close - open - 1));
            if (name.size() >= 4 && (name[0] == 'P' || name[0] == 'p') && (name[1] == 'R' || name[1] == 'r')
                && (name[2] == 'G' || name[2] == 'g') && name[3] == '=')
                name = trimBlanks(name.substr(4));
            return std::string(name);
        }
        if (!lines.next(line))
            break;
    }
    return {};
}

bool plainProgramName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == '-' || c == '_' || c == '.';
    });
}

LibraryMatch findInLibrary(const std::string& library, const std::string& name)
{
    namespace fs = std::filesystem;
    std::vector<std::string> candidates = {name, name + ".nc", name + ".NC"};
    if (std::all_of(name.begin(), name.end(), isDigit))
        for (const char* form : {"", ".nc"})
            candidates.push_back("O" + name + form);
    std::error_code ec;
    const fs::path root = fs::canonical(library, ec);
    if (ec)
        return {{}, "ライブラリ " + library + " を読めません"};
    // The first candidate in each folder that holds one.
    std::map<fs::path, fs::path> found;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string file = it->path().filename().string();
        const auto rank = std::find(candidates.begin(), candidates.end(), file);
        if (rank == candidates.end())
            continue;
        const fs::path folder = it->path().parent_path();
        auto [at, fresh] = found.emplace(folder, it->path());
        if (!fresh && std::find(candidates.begin(), candidates.end(), at->second.filename().string()) > rank)
            at->second = it->path();
    }
    if (found.empty())
        return {{}, "ライブラリに " + name + " がありません"};
    if (found.size() > 1)
        return {{}, name + " がライブラリの " + std::to_string(found.size()) + " つのフォルダにあります"};
    const fs::path target = fs::canonical(found.begin()->second, ec);
    const std::string inside = root.string() + "/";
    if (ec || target.string().rfind(inside, 0) != 0)
        return {{}, found.begin()->second.string() + " はライブラリの外を指しています"};
    if (!fs::is_regular_file(target, ec))
        return {{}, found.begin()->second.string() + " は通常のファイルではありません"};
    return {target.string(), {}};
}

std::string localTime(std::time_t t, const char* format)
{
    std::tm local{};
    localtime_r(&t, &local);
    char text[40];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

} // namespace tarvex
