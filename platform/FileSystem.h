#pragma once
#include "platform/Error.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

constexpr std::uint64_t noLimit = ~std::uint64_t{0};
// Colour, profile, marking and settings files hold a few KB: one beyond this
// is no file of ours, and is read as absent.
constexpr std::uint64_t smallFileLimit = 1 << 20;

// A file being written: nothing replaces the old file until commit(), and a
// writer destroyed without commit leaves the old file as it was.
class FileWriter {
public:
    virtual ~FileWriter() = default;
    virtual Error write(std::string_view bytes) = 0;
    virtual Error commit() = 0;
};

// A file read piece by piece.
class FileReader {
public:
    virtual ~FileReader() = default;
    // Appends up to max bytes to out; no bytes added means the end of the file.
    virtual Error read(std::size_t max, std::string& out) = 0;
};

// Files as the logic sees them. Paths are full paths or relative to the
// current folder; folders end in the platform separator where a Part says so.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The names of the files (not folders) in a folder, in listing order:
    // byte-wise ascending, the same on every machine. nullopt when the
    // folder does not exist or cannot be read.
    virtual std::optional<std::vector<std::string>> list(const std::string& folder) const = 0;
    virtual bool isFolder(const std::string& path) const = 0;
    virtual bool exists(const std::string& path) const = 0;
    virtual Error makeFolder(const std::string& path) = 0;
    // Whether a new file can be made in the folder (tried, not guessed from
    // the permission bits).
    virtual bool canWrite(const std::string& folder) = 0;
    virtual Error removeFile(const std::string& path) = 0;
    // A file larger than limit bytes is not read (tooLargeError); one larger
    // than the memory that can be had fails with error 7.
    virtual Error readFile(const std::string& path, std::string& bytes, std::uint64_t limit = noLimit) const = 0;
    // Replaces the file atomically: a temporary file in the same folder,
    // flushed, then renamed over the old one. A failure leaves the old file
    // intact. Work files need not reach the disk before the call returns
    // (durable false); the user's files do.
    virtual Error writeFile(const std::string& path, std::string_view bytes, bool durable = true) = 0;
    virtual Error setCurrentFolder(const std::string& path) = 0;
    // Adds bytes at the end of a regular file, made when missing: for text
    // kept as it arrives (a received program), the one write that is not
    // atomic. Appending nothing makes nothing and only tells whether the
    // file could be appended to.
    virtual Error appendFile(const std::string& path, std::string_view bytes) = 0;
    // The same atomic replacement as writeFile, for files written in pieces.
    virtual std::unique_ptr<FileWriter> createFile(const std::string& path, bool durable, Error& error) = 0;
    virtual std::unique_ptr<FileReader> openFile(const std::string& path, Error& error) const = 0;
};

class TextCodec;

// A file name or path as the user reads it: names on Linux are bytes, mostly
// UTF-8; those that are not (copied from a Windows machine) are cp932.
std::string displayName(std::string_view pathBytes, const TextCodec& codec);

// Whether a name (of a profile, a registration) can be a file of its folder
// and nothing else: not empty, no path separator, no "..", no control character.
bool isPlainFileName(std::string_view name);

// The text after the last "\" or "/" (the whole text when it has neither).
std::string fileTitle(std::string_view path);
// The path with the extension of its file name replaced (or added): "a/O1.nc"
// with ".dxf" gives "a/O1.dxf". An empty path stays empty.
std::string withExtension(std::string_view path, std::string_view extension);
// Joins a folder (with or without a trailing separator) and a name.
std::string joinPath(std::string_view folder, std::string_view name);
// The folder with the platform separator appended unless it ends in one.
std::string withSeparator(std::string_view folder);

} // namespace tarvex
