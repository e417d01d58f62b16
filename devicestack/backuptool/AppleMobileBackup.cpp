// The backup tool of the device support: takes the backup runner's command
// line (BackupCommand.h) and has idevicebackup2 do the work. Its output keeps
// the runner's rule: a failure writes a line with "error" in it (on standard
// error, with the end of what idevicebackup2 said, and exit code 1; 2 for a
// wrong command line); success writes one line without it.

#include "BackupCommand.h"
#include "ToolProcess.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace
{

constexpr char kBackupProgram[] = "idevicebackup2";
constexpr char kRestartProgram[] = "idevicediagnostics";
constexpr size_t kShownLines = 40;

// The last lines of the output, with progress lines (ended by a carriage
// return) and blank lines left out.
std::string lastLines(const std::string &output)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : output) {
        if (c == '\n' || c == '\r') {
            if (c == '\n' && line.find_first_not_of(" \t") != std::string::npos)
                lines.push_back(line);
            line.clear();
        } else if (c != '\0') {
            line += c;
        }
    }
    if (line.find_first_not_of(" \t") != std::string::npos)
        lines.push_back(line);
    const size_t from = lines.size() > kShownLines ? lines.size() - kShownLines : 0;
    std::string text;
    for (size_t i = from; i < lines.size(); ++i)
        text += lines[i] + "\n";
    return text;
}

// idevicebackup2 also reports some failures with exit code 0.
bool reportsFailure(const std::string &output)
{
    for (const char *mark : {"\nERROR", "Backup Failed", "Restore Failed", "Backup Aborted", "Restore Aborted"}) {
        if (output.find(mark) != std::string::npos)
            return true;
    }
    return output.rfind("ERROR", 0) == 0;
}

int fail(const std::string &text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    BackupCommand command;
    std::string message;
    if (!BackupCommand::parse(arguments, command, message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 2;
    }
    const bool backup = command.operation() == BackupCommand::Operation::Backup;
    namespace fs = std::filesystem;
    std::error_code error;
    if (backup) {
        // What the program keeps of a person's phone is theirs alone.
        if (!fs::is_directory(command.root(), error)) {
            fs::create_directories(command.root(), error);
            if (error)
                return fail("error: the backup folder " + command.root() + " cannot be made: " + error.message());
            fs::permissions(command.root(), fs::perms::owner_all, error);
        }
    } else if (!fs::is_directory(fs::path(command.root()) / command.source(), error)) {
        return fail("error: there is no backup of " + command.source() + " in " + command.root());
    }

    ToolProcess tool;
    if (!tool.run(kBackupProgram, command.toolArguments())) {
        return fail(std::string("error: ") + kBackupProgram + " could not be started (" + tool.startError()
                    + "); it comes with the package libimobiledevice-utils");
    }
    const std::string what = backup ? "the backup of " + command.device()
                                    : "the restore of " + command.source() + " to " + command.device();
    if (!tool.succeeded() || reportsFailure(tool.output())) {
        return fail("error: " + what + " failed (" + kBackupProgram + " ended with " + tool.endDescription() + "):\n"
                    + lastLines(tool.output()));
    }
    if (backup) {
        std::printf("Backup of %s finished.\n", command.device().c_str());
        return 0;
    }
    // The restore is done whether or not the phone restarts now: what it
    // holds shows once it does, so a restart that cannot be had is told, not
    // failed.
    ToolProcess restart;
    if (!restart.run(kRestartProgram, command.restartArguments()) || !restart.succeeded()) {
        // (No system message here: some of them hold the word the runner
        // takes for a failure.)
        std::printf("Restore of %s to %s finished; the phone could not be restarted (%s %s): restart it to see "
                    "what was restored.\n",
                    command.source().c_str(), command.device().c_str(), kRestartProgram,
                    restart.started() ? ("ended with " + restart.endDescription()).c_str() : "could not be started");
        return 0;
    }
    std::printf("Restore of %s to %s finished; the phone restarts.\n", command.source().c_str(),
                command.device().c_str());
    return 0;
}
