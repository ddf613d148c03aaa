#pragma once
#include "platform/FileSystem.h"

#include <set>

namespace tarvex {

class PosixFileSystem final : public FileSystem {
public:
    PosixFileSystem();
    std::optional<std::vector<std::string>> list(const std::string& folder) const override;
    bool isFolder(const std::string& path) const override;
    bool exists(const std::string& path) const override;
    Error makeFolder(const std::string& path) override;
    bool canWrite(const std::string& folder) override;
    Error removeFile(const std::string& path) override;
    Error readFile(const std::string& path, std::string& bytes, std::uint64_t limit = noLimit) const override;
    Error writeFile(const std::string& path, std::string_view bytes, bool durable = true) override;
    Error appendFile(const std::string& path, std::string_view bytes) override;
    Error setCurrentFolder(const std::string& path) override;
    std::unique_ptr<FileWriter> createFile(const std::string& path, bool durable, Error& error) override;
    std::unique_ptr<FileReader> openFile(const std::string& path, Error& error) const override;
    // The permissions a new file gets: 0666 less the process's umask.
    unsigned newFileMode() const { return newFileMode_; }

private:
    unsigned newFileMode_ = 0644;
    std::set<std::string> cleanedFolders_; // where old temporaries were removed on the first save
};

// Removes the temporary files that writes killed more than a day ago left in
// the folder (".tarvex-" and six characters, regular, ours).
void removeOldTemporaries(const std::string& folder);

// Where the application keeps its data (ProgDir), ending in "/".
// An explicit home (--home DIR or TARVEX_HOME) wins; else the executable's
// folder when it is writable; else a per-user data folder. The folder is
// created when missing; old temporaries are removed from it and its subfolders.
// The memory this process can still have (free and reclaimable, swap
// included), or nullopt where the system does not say.
std::optional<std::uint64_t> availableMemory();

std::string resolveProgDir(const std::string& explicitHome);

// The folder of the running executable, ending in "/".
std::string executableFolder();

} // namespace tarvex
