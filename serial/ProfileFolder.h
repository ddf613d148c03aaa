#pragma once
#include "platform/Error.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvex {

class FileSystem;

inline constexpr const char* profileFolderName = "RS232C";
inline constexpr const char* sampleProfileName = "FANUC";

std::string profileFolder(const std::string& progDir);

// The profile names (file names of the profile folder) in listing order;
// nullopt when the folder does not exist.
std::optional<std::vector<std::string>> ListProfiles(const FileSystem& fs, const std::string& progDir);

// The sample profile "FANUC": eighteen lines, each ended by CR LF.
std::string sampleProfileText();

// Creates the profile folder with the sample profile in it.
Error createProfileFolder(FileSystem& fs, const std::string& progDir);

} // namespace tarvex
