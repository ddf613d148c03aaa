#pragma once
#include "platform/Error.h"

#include <functional>
#include <optional>
#include <string>

namespace tarvex {

class FileSystem;
class TextCodec;

inline constexpr const char* subprogramFolderName = "SUBPRO";

// The subprogram store: one file per program in the folder SUBPRO of the data
// folder, named by the header's letter and number (O0100 is stored as O100).
// It also keeps the path of the program file last opened or appended.
class SubprogramStore {
public:
    SubprogramStore(FileSystem& fs, const TextCodec& codec, std::string progDir)
        : fs_(fs), codec_(codec), progDir_(std::move(progDir)) {}

    // Remembers path as the document path and stores every program of the
    // file (a header line beginning with "O", "L" or ":" up to its end line).
    // On failure returns the text of the warning box: the error and the line
    // being processed (the path when the file could not be read).
    std::optional<std::string> LoadSub(const std::string& path);
    // The same for a file already read: its bytes are not read again.
    std::optional<std::string> LoadSub(const std::string& path, std::string_view bytes);

    const std::string& documentPath() const { return documentPath_; }
    // Remembers the document path without storing anything.
    void setDocumentPath(const std::string& path) { documentPath_ = path; }
    std::string folder() const;

private:
    FileSystem& fs_;
    const TextCodec& codec_;
    std::string progDir_;
    std::string documentPath_;
};

// The store's file name for a header line: its first character and the
// leading-number value after it as a 16-bit integer. Fails with an overflow
// beyond 16 bits.
Error storeName(std::string_view header, std::string& name);

// The bytes of the stored program of a name ("O100"); error 53 when none is
// stored, 52 or 75 when no file can have that name or another thing has it.
Error readStored(FileSystem& fs, const std::string& progDir, const std::string& name, std::string& bytes);
// The stored O programs by number, as text (what the estimate follows).
std::function<std::optional<std::string>(long)> storedPrograms(FileSystem& fs, const TextCodec& codec,
                                                               std::string progDir);

inline Error overflowError() { return {6, "オーバーフローしました。"}; }

} // namespace tarvex
