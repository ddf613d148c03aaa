#include "editor/StoreCleanup.h"
#include "platform/FileSystem.h"
#include "platform/UiServices.h"

namespace tarvex {

Error deleteListedFiles(FileSystem& fs, const std::string& folder, const std::vector<std::string>& files)
{
    for (auto it = files.rbegin(); it != files.rend(); ++it)
        if (Error e = fs.removeFile(joinPath(folder, *it)))
            return e;
    return {};
}

Error emptyStore(FileSystem& fs, const std::string& folder)
{
    auto files = fs.list(folder);
    return files ? deleteListedFiles(fs, folder, *files) : Error{};
}

void MnuSubDel_Click(FileSystem& fs, const std::string& folder, MessageBox& box)
{
    auto files = fs.list(folder);
    if (!files)
        return; // a missing folder ends the command silently
    if (files->empty()) {
        box.show("プログラムは登録されていませんでした。");
        return;
    }
    if (deleteListedFiles(fs, folder, *files))
        return;
    box.show(std::to_string(files->size()) + " 個のプログラムを削除しました。");
}

} // namespace tarvex
