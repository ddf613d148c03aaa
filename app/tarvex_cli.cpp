// tarvex-cli: the logic of Tarvex without a window, for scripts and tests.
#include "editor/LineEnds.h"
#include "platform/posix/Cp932Codec.h"
#include "platform/posix/PosixFileSystem.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace tarvex;

namespace {

const char* const usage =
    "usage: tarvex-cli COMMAND ARGS\n"
    "  save-copy IN OUT   write IN to OUT as the save command does (line ends CR LF)\n"
    "  roundtrip FILE     check that opening then saving FILE keeps every byte\n";

int fail(const std::string& what, const Error& e)
{
    std::fprintf(stderr, "tarvex-cli: %s: %s\n", what.c_str(), e.description.c_str());
    return 2;
}

int saveCopy(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return std::fputs(usage, stderr), 64;
    PosixFileSystem fs;
    std::string bytes;
    if (Error e = fs.readFile(args[0], bytes))
        return fail(args[0], e);
    if (Error e = fs.writeFile(args[1], normaliseLineEnds(bytes)))
        return fail(args[1], e);
    return 0;
}

int roundtrip(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return std::fputs(usage, stderr), 64;
    PosixFileSystem fs;
    Cp932Codec codec;
    std::string bytes;
    if (Error e = fs.readFile(args[0], bytes))
        return fail(args[0], e);
    const std::string back = codec.encode(codec.decode(bytes));
    if (back == bytes) {
        std::printf("identical %zu\n", bytes.size());
        return 0;
    }
    std::size_t at = 0;
    while (at < back.size() && at < bytes.size() && back[at] == bytes[at])
        ++at;
    std::printf("differs %zu\n", at);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
        {"save-copy", saveCopy},
        {"roundtrip", roundtrip},
    };
    if (argc < 2 || !commands.count(argv[1])) {
        std::fputs(usage, argc < 2 || std::strcmp(argv[1], "help") == 0 ? stdout : stderr);
        return argc < 2 || std::strcmp(argv[1], "help") != 0 ? 64 : 0;
    }
    return commands.at(argv[1])(std::vector<std::string>(argv + 2, argv + argc));
}
