#pragma once

#include <string>
#include <vector>

// Runs one program to its end with standard input from /dev/null and its
// standard output and error read together, keeping the last part of what it
// wrote. The program is found on PATH. It is ended with this process: when
// the backup runner stops this tool, the program gets SIGTERM (and a SIGTERM,
// SIGINT or SIGHUP sent here is passed on), so that it can stop the phone's
// backup cleanly instead of running on.
class ToolProcess
{
public:
    // How much of the output is kept: the end, where the reason of a failure
    // stands.
    static constexpr size_t kKeptOutput = 64 * 1024;

    // False when the program could not be started (started() then says so
    // and startError() why).
    bool run(const std::string &program, const std::vector<std::string> &arguments);

    bool started() const { return m_started; }
    const std::string &startError() const { return m_startError; }
    // True when the program ended by itself with exit code 0.
    bool succeeded() const { return m_exited && m_exitCode == 0; }
    // "exit code N" or "signal N".
    std::string endDescription() const;
    const std::string &output() const { return m_output; }

private:
    bool m_started = false;
    std::string m_startError;
    bool m_exited = false;
    int m_exitCode = -1;
    int m_signal = 0;
    std::string m_output;
};
