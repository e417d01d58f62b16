#include "ToolProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

volatile sig_atomic_t g_child = 0;

void passOn(int signal)
{
    if (g_child > 0)
        kill(pid_t(g_child), signal);
}

void readAll(int fd, std::string &kept)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        kept.append(buffer, size_t(n));
        if (kept.size() > 2 * ToolProcess::kKeptOutput)
            kept.erase(0, kept.size() - ToolProcess::kKeptOutput);
    }
}

} // namespace

bool ToolProcess::run(const std::string &program, const std::vector<std::string> &arguments)
{
    int output[2];
    int failure[2]; // carries errno of a failed exec; closes on a good one
    if (pipe2(output, O_CLOEXEC) != 0)
        return m_startError = std::strerror(errno), false;
    if (pipe2(failure, O_CLOEXEC) != 0) {
        m_startError = std::strerror(errno);
        close(output[0]);
        close(output[1]);
        return false;
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        m_startError = std::strerror(errno);
        close(output[0]);
        close(output[1]);
        close(failure[0]);
        close(failure[1]);
        return false;
    }
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(output[1], STDERR_FILENO);
        execvp(program.c_str(), argv.data());
        const int error = errno;
        ssize_t ignored = write(failure[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    g_child = child;
    struct sigaction forward = {};
    forward.sa_handler = passOn;
    sigemptyset(&forward.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &forward, nullptr);

    close(output[1]);
    close(failure[1]);
    int execError = 0;
    ssize_t n;
    do {
        n = read(failure[0], &execError, sizeof execError);
    } while (n < 0 && errno == EINTR);
    close(failure[0]);
    readAll(output[0], m_output);
    close(output[0]);
    if (m_output.size() > kKeptOutput)
        m_output.erase(0, m_output.size() - kKeptOutput);

    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    if (n == ssize_t(sizeof execError)) {
        m_startError = std::strerror(execError);
        return false;
    }
    m_started = true;
    if (WIFEXITED(status)) {
        m_exited = true;
        m_exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        m_signal = WTERMSIG(status);
    }
    return true;
}

std::string ToolProcess::endDescription() const
{
    if (m_exited)
        return "exit code " + std::to_string(m_exitCode);
    return "signal " + std::to_string(m_signal);
}
