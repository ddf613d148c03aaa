#pragma once
#include "platform/ProcessLauncher.h"

namespace tarvex {

// fork and exec, twice: the started program belongs to no one here and
// leaves no zombie; a program that cannot be executed is reported.
class PosixProcessLauncher final : public ProcessLauncher {
public:
    Error start(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder,
                bool maximised) override;
};

} // namespace tarvex
