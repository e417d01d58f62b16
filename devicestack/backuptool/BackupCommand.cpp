#include "BackupCommand.h"

namespace
{

constexpr char kUsage[] = "usage: AppleMobileBackup -u ID --backup --target ID --root FOLDER\n"
                          "       AppleMobileBackup -u ID --restore --target ID --root FOLDER --source ID";

bool refuse(std::string &message, const std::string &why)
{
    message = "error: " + why + "\n" + kUsage;
    return false;
}

} // namespace

bool BackupCommand::parse(const std::vector<std::string> &arguments, BackupCommand &command, std::string &message)
{
    BackupCommand parsed;
    std::string target;
    bool backup = false;
    bool restore = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &word = arguments[i];
        std::string *value = nullptr;
        if (word == "--backup") {
            backup = true;
            continue;
        }
        if (word == "--restore") {
            restore = true;
            continue;
        }
        if (word == "-u")
            value = &parsed.m_device;
        else if (word == "--target")
            value = &target;
        else if (word == "--root")
            value = &parsed.m_root;
        else if (word == "--source")
            value = &parsed.m_source;
        else
            return refuse(message, "unknown argument \"" + word + "\"");
        if (i + 1 >= arguments.size() || arguments[i + 1].empty())
            return refuse(message, word + " needs a value");
        if (!value->empty())
            return refuse(message, word + " is given twice");
        *value = arguments[++i];
    }
    if (backup == restore)
        return refuse(message, "give one of --backup and --restore");
    if (parsed.m_device.empty() || target.empty() || parsed.m_root.empty())
        return refuse(message, "-u, --target and --root are needed");
    if (target != parsed.m_device)
        return refuse(message, "--target must name the device given with -u");
    // Device identifiers name folders and are handed on as arguments: one
    // that could be taken for an option or a path is refused.
    for (const std::string *id : {&parsed.m_device, &parsed.m_source}) {
        if (id->empty())
            continue;
        if ((*id)[0] == '-' || id->find('/') != std::string::npos || *id == "." || *id == "..")
            return refuse(message, "\"" + *id + "\" is no device identifier");
    }
    if (parsed.m_root[0] == '-')
        return refuse(message, "the --root folder \"" + parsed.m_root + "\" could be taken for an option");
    if (restore && parsed.m_source.empty())
        return refuse(message, "--restore needs --source");
    if (backup && !parsed.m_source.empty())
        return refuse(message, "--source belongs to --restore");
    parsed.m_operation = backup ? Operation::Backup : Operation::Restore;
    command = parsed;
    return true;
}

std::vector<std::string> BackupCommand::toolArguments() const
{
    if (m_operation == Operation::Backup)
        return {"-u", m_device, "backup", m_root};
    return {"-u", m_device, "-s", m_source, "restore", "--system", "--settings", "--no-reboot", m_root};
}

std::vector<std::string> BackupCommand::restartArguments() const
{
    return {"-u", m_device, "restart"};
}
