#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

class FileSystem;

// One machine of the shop as the service's configuration names it.
struct MachineConfig {
    std::string name;
    std::string device;  // a device path, rfc2217://HOST:PORT or tcp://HOST:PORT
    std::string profile; // a file of the profiles folder
    std::string requestProgram, dripProgram; // program numbers as written ("O9999"); empty: none
    double requestDelay = 3, requestTimeout = 600; // seconds
};

struct DncConfig {
    std::string library, received, profiles, logs;
    std::vector<MachineConfig> machines;
};

// Reads the INI text; every fault found is one line of the result
// ("line 12: unknown key Baud in [Machine MC1]"). The configuration is
// usable only when the result is empty.
std::vector<std::string> parseDncConfig(std::string_view text, DncConfig& config);

// What the configuration needs of the machine: the profiles it names, the
// folders it reads and writes.
std::vector<std::string> checkDncFolders(const DncConfig& config, FileSystem& fs);

} // namespace tarvex
