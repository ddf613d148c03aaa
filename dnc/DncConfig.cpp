#include "dnc/DncConfig.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "platform/Blanks.h"
#include "platform/TextLines.h"
#include "platform/posix/NetSerialPort.h"
#include "platform/posix/PosixFileSystem.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <filesystem>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvex {

bool splitListen(const std::string& listen, std::string& host, int& port)
{
    // The rule of a network serial port's address, the same HOST:PORT.
    NetSerialPort::Address address;
    if (listen.find('/') != std::string::npos || !NetSerialPort::parseAddress("tcp://" + listen, address))
        return false;
    host = address.host;
    port = std::stoi(address.port);
    return true;
}

bool loopbackHost(const std::string& host)
{
    return host == "localhost" || host == "::1" || host.starts_with("127.");
}

namespace {

bool plainName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

// A program number as a control punches it: O or a colon, then digits.
bool programNumber(std::string_view v)
{
    return v.size() >= 2 && (v[0] == 'O' || v[0] == ':')
           && v.find_first_not_of("0123456789", 1) == std::string_view::npos;
}

} // namespace

std::vector<std::string> parseDncConfig(std::string_view text, DncConfig& config)
{
    config = {};
    std::vector<std::string> faults;
    auto fault = [&](std::size_t line, const std::string& what) {
        faults.push_back("line " + std::to_string(line) + ": " + what);
    };
    enum class Section { None, Shop, Machine, Unknown } section = Section::None;
    std::string sectionName;
    std::map<std::string, std::set<std::string>> seen; // keys given per section
    std::map<std::string, std::size_t> sectionLine;
    TextLines lines(text);
    std::string_view raw;
    std::size_t number = 0;
    while (lines.next(raw)) {
        ++number;
        const std::string_view line = trimBlanks(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const std::string_view inner = line.back() == ']' ? trimBlanks(line.substr(1, line.size() - 2)) : "";
            sectionName = std::string(inner);
            if (sectionLine.count(sectionName))
                fault(number, "section [" + sectionName + "] given twice");
            sectionLine.emplace(sectionName, number);
            if (inner == "Shop") {
                section = Section::Shop;
            } else if (inner.rfind("Machine ", 0) == 0) {
                section = Section::Machine;
                MachineConfig m;
                m.name = std::string(trimBlanks(inner.substr(8)));
                if (!plainName(m.name))
                    fault(number, "machine name \"" + m.name + "\": only letters, digits, - and _");
                config.machines.push_back(m);
            } else {
                section = Section::Unknown;
                fault(number, "unknown section " + std::string(line));
            }
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            fault(number, "not KEY=VALUE: " + std::string(line));
            continue;
        }
        const std::string key(trimBlanks(line.substr(0, eq)));
        const std::string value(trimBlanks(line.substr(eq + 1)));
        if (section == Section::Unknown)
            continue; // said once, at the section
        if (section == Section::None) {
            fault(number, "key " + key + " outside a section");
            continue;
        }
        if (!seen[sectionName].insert(key).second)
            fault(number, "key " + key + " given twice in [" + sectionName + "]");
        if (section == Section::Shop) {
            const std::map<std::string, std::string*> keys = {
                {"Library", &config.library},   {"Received", &config.received}, {"Profiles", &config.profiles},
                {"Logs", &config.logs},         {"Listen", &config.listen},     {"AccessToken", &config.accessToken}};
            if (auto k = keys.find(key); k != keys.end())
                *k->second = value;
            else
                fault(number, "unknown key " + key + " in [Shop]");
            continue;
        }
        MachineConfig& m = config.machines.back();
        if (key == "Device") {
            m.device = value;
            NetSerialPort::Address address;
            if (value.find("://") != std::string::npos ? !NetSerialPort::parseAddress(value, address)
                                                       : value.empty() || value.front() != '/')
                fault(number, "Device " + value
                                  + ": a device path (/dev/ttyUSB0), rfc2217://HOST:PORT or tcp://HOST:PORT (a port "
                                    "1-65535, an IPv6 host in brackets)");
        } else if (key == "Profile") {
            m.profile = value;
        } else if (key == "Enabled") {
            if (value != "yes" && value != "no")
                fault(number, "Enabled " + value + ": yes or no");
            m.enabled = value != "no";
        } else if (key == "RequestProgram" || key == "DripProgram") {
            if (!programNumber(value))
                fault(number, key + " " + value + ": a program number such as O9999");
            (key == "RequestProgram" ? m.requestProgram : m.dripProgram) = value;
        } else if (key == "RequestDelay" || key == "RequestTimeout") {
            const auto v = parseNumber(value);
            if (!v || !std::isfinite(*v) || *v < 0 || *v > 86400)
                fault(number, key + " " + value + ": seconds from 0 to 86400");
            else
                (key == "RequestDelay" ? m.requestDelay : m.requestTimeout) = *v;
        } else {
            fault(number, "unknown key " + key + " in [" + sectionName + "]");
        }
    }
    // The status page: a place to listen, and beyond this computer a token
    // no one guesses.
    std::string host;
    int port = 0;
    if (seen["Shop"].count("Listen") && !splitListen(config.listen, host, port))
        fault(sectionLine["Shop"], "Listen " + config.listen + ": HOST:PORT (a port 1-65535, an IPv6 host in brackets)");
    else if (!config.listen.empty() && !loopbackHost(host) && config.accessToken.size() < 20)
        fault(sectionLine["Shop"], "Listen " + config.listen
                                       + ": beyond this computer the page needs AccessToken= (20 characters or more)");
    if (!sectionLine.count("Shop"))
        faults.push_back("no [Shop] section");
    else
        for (const char* key : {"Library", "Received", "Profiles", "Logs"})
            if (!seen["Shop"].count(key))
                fault(sectionLine["Shop"], "[Shop] lacks " + std::string(key) + "=");
    std::map<std::string, std::string> devices;
    for (const MachineConfig& m : config.machines) {
        const std::string s = "Machine " + m.name;
        for (const char* key : {"Device", "Profile"})
            if (!seen[s].count(key))
                fault(sectionLine[s], "[" + s + "] lacks " + std::string(key) + "=");
        if (!m.requestProgram.empty() && m.requestProgram == m.dripProgram)
            fault(sectionLine[s], "[" + s + "]: RequestProgram and DripProgram are the same");
        if (m.device.empty())
            continue;
        if (auto [at, fresh] = devices.emplace(m.device, m.name); !fresh)
            fault(sectionLine[s], "machines " + at->second + " and " + m.name + " on one device " + m.device);
    }
    return faults;
}

std::string lockPath(const DncConfig& config) { return joinPath(config.logs, "tarvex-dnc.lock"); }
std::string statusPath(const DncConfig& config) { return joinPath(config.logs, "status"); }

namespace {

// who is "the service", or "the user NAME" when the checks run as another user.
std::vector<std::string> checkFolders(const DncConfig& config, FileSystem& fs, const std::string& who, bool asOther)
{
    std::vector<std::string> faults;
    auto folder = [&](const std::string& key, const std::string& path, int access) {
        if (path.empty() || !fs.isFolder(path) || ::access(path.c_str(), access) != 0)
            faults.push_back(key + " " + path + ": no folder " + who + " can " + (access & W_OK ? "write" : "read"));
    };
    folder("Library", config.library, R_OK | X_OK);
    folder("Profiles", config.profiles, R_OK | X_OK);
    folder("Received", config.received, R_OK | W_OK | X_OK);
    folder("Logs", config.logs, R_OK | W_OK | X_OK);
    for (const MachineConfig& m : config.machines) {
        const std::string path = joinPath(config.profiles, m.profile);
        std::string bytes;
        if (!isPlainFileName(m.profile) || fs.readFile(path, bytes, smallFileLimit))
            faults.push_back("machine " + m.name + ": no profile " + m.profile + " in " + config.profiles
                             + (asOther ? " that " + who + " can read" : ""));
    }
    return faults;
}

} // namespace

std::vector<std::string> checkDncFolders(const DncConfig& config, FileSystem& fs)
{
    return checkFolders(config, fs, "the service", false);
}

std::vector<std::string> checkDncFoldersAs(const DncConfig& config, const std::string& configFile,
                                           const std::string& user)
{
    const passwd* pw = ::getpwnam(user.c_str());
    if (!pw)
        return {"user " + user + " does not exist: give the service's user with --user NAME"};
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {std::string("cannot check as ") + user + ": " + std::strerror(errno)};
    const pid_t child = ::fork();
    if (child < 0) {
        const std::string why = std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return {"cannot check as " + user + ": " + why};
    }
    if (child == 0) {
        ::close(out[0]);
        std::string text;
        if (::initgroups(user.c_str(), gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            text = std::string("cannot become ") + user + ": " + std::strerror(errno) + "\n";
        } else {
            if (::access(configFile.c_str(), R_OK) != 0)
                text += configFile + ": the user " + user + " cannot read it\n";
            // A lock left by a run as root must still be opened.
            const std::string lock = lockPath(config);
            if (::access(lock.c_str(), F_OK) == 0 && ::access(lock.c_str(), R_OK) != 0)
                text += lock + ": the user " + user + " cannot read it (remove it while the service is stopped)\n";
            PosixFileSystem fs;
            for (const std::string& f : checkFolders(config, fs, "the user " + user, true))
                text += f + "\n";
        }
        [[maybe_unused]] auto n = ::write(out[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        text += "cannot check as " + user + ": the check ended early\n";
    std::vector<std::string> faults;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        faults.push_back(text.substr(at, end - at));
    return faults;
}

} // namespace tarvex

namespace tarvex {
namespace {

// Whether path is folder or inside it.
bool within(const std::string& path, std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return path == folder || path.rfind(folder == "/" ? folder : folder + "/", 0) == 0;
}

std::string resolved(const std::string& path)
{
    std::error_code ec;
    const auto real = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : real.string();
}

} // namespace

std::vector<std::string> dncUnitFiles(const std::string& unit)
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::vector<std::string> dropFolders;
    std::error_code ec;
    if (!unit.empty()) {
        files.push_back(unit);
        dropFolders.push_back(unit + ".d");
    } else {
        const char* const roots[] = {"/etc/systemd/system", "/run/systemd/system", "/usr/local/lib/systemd/system",
                                     "/usr/lib/systemd/system", "/lib/systemd/system"};
        for (const char* root : roots) {
            const std::string f = std::string(root) + "/tarvex-dnc.service";
            if (files.empty() && fs::is_regular_file(f, ec))
                files.push_back(f);
            dropFolders.push_back(f + ".d");
        }
        for (const char* root : roots)
            dropFolders.push_back(std::string(root) + "/service.d"); // every service's
        if (files.empty())
            return {};
    }
    // Drop-ins by name across their folders; a name met first wins.
    std::map<std::string, std::string> drops;
    for (const std::string& folder : dropFolders)
        for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
            if (it->path().extension() == ".conf")
                drops.emplace(it->path().filename().string(), it->path().string());
    for (const auto& [name, path] : drops)
        files.push_back(path);
    return files;
}

UnitSandbox readDncUnit(const std::vector<std::string>& unitFiles)
{
    UnitSandbox u;
    u.found = !unitFiles.empty();
    PosixFileSystem fs;
    auto yes = [](const std::string& v) { return v == "yes" || v == "true" || v == "on" || v == "1"; };
    auto paths = [](const std::string& value, std::vector<std::string>& list, bool logs) {
        if (value.empty())
            list.clear(); // an empty assignment starts the list again
        std::size_t at = 0;
        while (at < value.size()) {
            const std::size_t end = std::min(value.find(' ', at), value.size());
            std::string path = value.substr(at, end - at);
            at = end + 1;
            if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
                path = path.substr(1, path.size() - 2);
            if (!path.empty())
                list.push_back(logs ? "/var/log/" + path : path);
        }
    };
    for (const std::string& file : unitFiles) {
        std::string text;
        if (fs.readFile(file, text, smallFileLimit))
            continue;
        TextLines lines(text);
        std::string_view raw;
        bool service = false;
        while (lines.next(raw)) {
            const std::string_view line = trimBlanks(raw);
            if (!line.empty() && line.front() == '[')
                service = line == "[Service]";
            const auto eq = line.find('=');
            if (!service || eq == std::string_view::npos)
                continue;
            const std::string key(trimBlanks(line.substr(0, eq)));
            const std::string value(trimBlanks(line.substr(eq + 1)));
            if (key == "ProtectSystem")
                u.protectSystem = yes(value) ? "yes" : value;
            else if (key == "ProtectHome")
                u.protectHome = yes(value) ? "yes" : value;
            else if (key == "PrivateTmp")
                u.privateTmp = yes(value);
            else if (key == "ReadWritePaths")
                paths(value, u.readWrite, false);
            else if (key == "LogsDirectory")
                paths(value, u.logs, true);
            else if (key == "User")
                u.user = value;
            else if (key == "DevicePolicy")
                u.devicePolicy = value;
            else if (key == "DeviceAllow")
                value.empty() ? u.deviceAllow.clear() : u.deviceAllow.push_back(value);
        }
    }
    return u;
}

std::vector<std::string> checkDncSandbox(const DncConfig& config, const std::string& configFile, const UnitSandbox& u)
{
    std::vector<std::string> faults;
    if (!u.found)
        return faults;
    std::vector<std::string> writable = u.logs;
    std::error_code ec;
    for (const std::string& entry : u.readWrite) {
        const bool optional = entry.starts_with("-") || entry.starts_with("+-") || entry.starts_with("-+");
        std::string path = entry;
        while (!path.empty() && (path.front() == '-' || path.front() == '+'))
            path.erase(0, 1);
        if (!optional && !std::filesystem::exists(path, ec))
            faults.push_back("ReadWritePaths " + path + ": no such folder: the service would not start (status 226)");
        writable.push_back(resolved(path));
    }
    const std::string fix = " (add it with systemctl edit tarvex-dnc: [Service] ReadWritePaths=";
    auto check = [&](const std::string& key, const std::string& given, bool writes) {
        if (given.empty())
            return;
        const std::string path = resolved(given);
        const bool home = within(path, "/home") || within(path, "/root") || within(path, "/run/user");
        if (home && (u.protectHome == "yes" || u.protectHome == "tmpfs" || (writes && u.protectHome == "read-only")))
            faults.push_back(key + " " + given + ": the service's unit hides it (ProtectHome=" + u.protectHome + ")");
        else if (u.privateTmp && (within(path, "/tmp") || within(path, "/var/tmp")))
            faults.push_back(key + " " + given + ": the service's unit gives it a /tmp of its own (PrivateTmp=yes)");
        else if (writes && u.protectSystem == "strict"
                 && std::none_of(writable.begin(), writable.end(), [&](const std::string& w) { return within(path, w); }))
            faults.push_back(key + " " + given + ": the service's unit keeps it read-only (ProtectSystem=strict)" + fix
                             + given + ")");
        else if (writes && (u.protectSystem == "yes" || u.protectSystem == "full")
                 && (within(path, "/usr") || within(path, "/boot") || within(path, "/efi")
                     || (u.protectSystem == "full" && within(path, "/etc"))))
            faults.push_back(key + " " + given + ": the service's unit keeps it read-only (ProtectSystem="
                             + u.protectSystem + ")");
    };
    check("the configuration", configFile, false);
    check("Library", config.library, false);
    check("Profiles", config.profiles, false);
    check("Received", config.received, true);
    check("Logs", config.logs, true);
    // A device the unit's allow-list leaves out fails with EPERM at every try.
    if (u.devicePolicy == "closed" || u.devicePolicy == "strict")
        for (const MachineConfig& m : config.machines) {
            if (m.device.empty() || m.device.front() != '/')
                continue;
            const std::string real = resolved(m.device);
            const std::string name = std::filesystem::path(real).filename().string();
            const bool allowed = std::any_of(u.deviceAllow.begin(), u.deviceAllow.end(), [&](const std::string& a) {
                const std::string what = a.substr(0, a.find(' '));
                return what == real || what == m.device
                       || (what.starts_with("char-") && name.starts_with(what.substr(5))
                           && name.find_first_not_of("0123456789", what.size() - 5) == std::string::npos);
            });
            if (!allowed)
                faults.push_back("machine " + m.name + ": device " + m.device + " is not among the unit's DeviceAllow= "
                                 + "(add DeviceAllow=char-" + name.substr(0, name.find_first_of("0123456789"))
                                 + " rw with systemctl edit tarvex-dnc)");
        }
    return faults;
}

} // namespace tarvex
