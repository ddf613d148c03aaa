#pragma once
#include "serial/DeviceProfile.h"
#include "serial/Transfers.h"
#include "toolpath/Segments.h"
#include "toolpath/ConditionTable.h"

#include <string>

namespace tarvex {

class SettingsStore;

// State that lives for the whole run and is shared by the windows: made once
// at start-up and passed by reference to whoever needs it.
struct ProcessState {
    ProcessState(std::string dataFolder, SettingsStore& store)
        : progDir(std::move(dataFolder)), settings(store) {}

    // The data folder, ending in the separator; every data file is relative to it.
    const std::string progDir;
    SettingsStore& settings;
    ConditionTable conditions;
    SegmentTable segments;
    DeviceProfile profile; // the profile last selected
    TransferStatus transfer; // TransferState and StatusText
    bool CharValid = true; // whether the last output conversion met a legal character
};

// What the shell finds outside the data folder.
struct SystemFolders {
    std::string homePage; // the address the home-page item opens
};

} // namespace tarvex
