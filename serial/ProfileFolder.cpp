#include "serial/ProfileFolder.h"
#include "platform/FileSystem.h"

namespace tarvex {

std::string profileFolder(const std::string& progDir)
{
    return withSeparator(joinPath(progDir, profileFolderName));
}

std::optional<std::vector<std::string>> ListProfiles(const FileSystem& fs, const std::string& progDir)
{
    return fs.list(profileFolder(progDir));
}

std::string sampleProfileText()
{
    // port, baud, parity, data bits, stop bits, handshake, code (ISO), partner
    // (controller), input start/request/stop/end, output start/request/stop/end,
    // time-out, wait
    static const char* const lines[] = {"1",    "4800", "N",    "8",    "2",    "0",    "2",    "1",    "&H12",
                                        "&H11", "&H93", "&H14", "&H11", "&H11", "&H93", "&H14", "3",    "0"};
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

Error createProfileFolder(FileSystem& fs, const std::string& progDir)
{
    if (Error e = fs.makeFolder(profileFolder(progDir)))
        return e;
    return fs.writeFile(joinPath(profileFolder(progDir), sampleProfileName), sampleProfileText());
}

} // namespace tarvex
