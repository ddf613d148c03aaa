#pragma once
#include <string>

namespace tarvex {

inline constexpr const char* subprogramFolderName = "SUBPRO";

// The subprogram store: the folder SUBPRO of the data folder, and the path of
// the program file last opened or appended (the document path).
class SubprogramStore {
public:
    explicit SubprogramStore(std::string progDir) : progDir_(std::move(progDir)) {}

    // Called for every program file opened or appended.
    void LoadSub(const std::string& path);

    const std::string& documentPath() const { return documentPath_; }
    std::string folder() const;

private:
    std::string progDir_;
    std::string documentPath_;
};

} // namespace tarvex
