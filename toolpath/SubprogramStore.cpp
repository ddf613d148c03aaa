#include "toolpath/SubprogramStore.h"
#include "platform/FileSystem.h"

namespace tarvex {

void SubprogramStore::LoadSub(const std::string& path)
{
    documentPath_ = path;
}

std::string SubprogramStore::folder() const
{
    return withSeparator(joinPath(progDir_, subprogramFolderName));
}

} // namespace tarvex
