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
    bool enabled = true; // Enabled=no: kept, its port left alone
    bool operator==(const MachineConfig&) const = default;
};

struct DncConfig {
    std::string library, received, profiles, logs;
    // The status page: HOST:PORT to listen on (none: no page), and the
    // token its requests must carry (required beyond this computer).
    std::string listen, accessToken;
    std::vector<MachineConfig> machines;
    // The shop's folders only: what every machine shares.
    bool sameFolders(const DncConfig& o) const
    {
        return library == o.library && received == o.received && profiles == o.profiles && logs == o.logs;
    }
};

// Where Listen= asks to listen: the host (brackets of an IPv6 address gone)
// and the port; false when the text is no HOST:PORT with a port 1 to 65535.
bool splitListen(const std::string& listen, std::string& host, int& port);
// Whether a host is this computer only (127.0.0.0/8, ::1, localhost).
bool loopbackHost(const std::string& host);

// Reads the INI text; every fault found is one line of the result
// ("line 12: unknown key Baud in [Machine MC1]"). The configuration is
// usable only when the result is empty.
std::vector<std::string> parseDncConfig(std::string_view text, DncConfig& config);

// The service's lock and its status file, in the logs' folder.
std::string lockPath(const DncConfig& config);
std::string statusPath(const DncConfig& config);

// What the configuration needs of the machine: the profiles it names, the
// folders it reads and writes, as the process's own user.
std::vector<std::string> checkDncFolders(const DncConfig& config, FileSystem& fs);

// The same checks as another user (the one the service runs as), the
// configuration file itself among them: done by a child process that takes
// on the user's identity and groups. Only root can; a user that does not
// exist is a fault.
std::vector<std::string> checkDncFoldersAs(const DncConfig& config, const std::string& configFile,
                                           const std::string& user);

// What the service's systemd unit (a unit file and the drop-ins after it,
// in systemd's order) keeps read-only, hides or makes private, the devices
// it allows and the user it runs as.
struct UnitSandbox {
    bool found = false;
    std::string protectSystem = "no", protectHome = "no", user, devicePolicy = "auto";
    bool privateTmp = false;
    std::vector<std::string> readWrite, logs, deviceAllow;
};
UnitSandbox readDncUnit(const std::vector<std::string>& unitFiles);
// The unit files systemd reads for tarvex-dnc, or unit and its FILE.d/*.conf.
std::vector<std::string> dncUnitFiles(const std::string& unit = {});
// What the sandbox would keep from the service: a folder it must write kept
// read-only, one it reads hidden or private, a device left out. Empty when
// no unit was found.
std::vector<std::string> checkDncSandbox(const DncConfig& config, const std::string& configFile, const UnitSandbox& unit);

} // namespace tarvex
