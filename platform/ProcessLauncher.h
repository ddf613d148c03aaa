#pragma once
#include "platform/Error.h"

#include <string>
#include <vector>

namespace tarvex {

// Starts another program and does not wait for it. The program and its
// arguments are handed over as they are, never through a shell: spaces,
// quotes and shell characters in them are safe.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // program: a path, or a name looked up in the PATH. maximised asks for a
    // large window where the program takes such a wish. An error when the
    // program cannot be started.
    virtual Error start(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& folder = {}, bool maximised = false) = 0;
};

} // namespace tarvex
