#pragma once
#include "platform/Error.h"

#include <string>
#include <vector>

namespace tarvex {

class FileSystem;
class MessageBox;

// Deletes the listed files of a folder, from the last in the listing to the
// first, stopping at the first that cannot be deleted.
Error deleteListedFiles(FileSystem& fs, const std::string& folder, const std::vector<std::string>& files);

// Deletes every file of the subprogram store; a missing folder is an empty store.
Error emptyStore(FileSystem& fs, const std::string& folder);

// The menu command "今すぐに削除": deletes the store and reports how many
// programs went, or that there were none.
void MnuSubDel_Click(FileSystem& fs, const std::string& folder, MessageBox& box);

} // namespace tarvex
