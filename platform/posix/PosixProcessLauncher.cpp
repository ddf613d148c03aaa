#include "platform/posix/PosixProcessLauncher.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvex {

Error PosixProcessLauncher::start(const std::string& program, const std::vector<std::string>& arguments,
                                  const std::string& folder, bool)
{
    if (program.empty())
        return fileError(ENOENT);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through this pipe; a successful
    // exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return fileError(errno);
    const pid_t child = ::fork();
    if (child < 0) {
        const int e = errno;
        ::close(report[0]);
        ::close(report[1]);
        return fileError(e);
    }
    if (child == 0) {
        // The middle process ends at once: the program is adopted by init.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild < 0 ? 1 : 0);
        ::signal(SIGPIPE, SIG_DFL);
        int e = 0;
        if (!folder.empty() && ::chdir(folder.c_str()) != 0)
            e = errno;
        if (e == 0) {
            ::execvp(argv[0], argv.data());
            e = errno;
        }
        [[maybe_unused]] ssize_t n = ::write(report[1], &e, sizeof e);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int e = 0;
    ssize_t n;
    while ((n = ::read(report[0], &e, sizeof e)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof e))
        return fileError(e);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return fileError(EAGAIN);
    return {};
}

} // namespace tarvex
