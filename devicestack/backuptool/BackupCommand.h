#pragma once

#include <string>
#include <vector>

// The backup runner's command line, checked, and the idevicebackup2 command
// line that carries it out:
//
//   -u ID --backup  --target ID --root FOLDER
//       idevicebackup2 -u ID backup FOLDER            (writes FOLDER/ID)
//   -u ID --restore --target ID --root FOLDER --source SOURCE
//       idevicebackup2 -u ID -s SOURCE restore --system --settings --no-reboot FOLDER
//       then idevicediagnostics -u ID restart
//
// A restore puts back the whole backup FOLDER/SOURCE, system files and
// settings included, as the device's own backup tool does, and the phone
// restarts when it is done. The restart is asked for only once the restore
// has finished: a phone that leaves while the restore runs has been
// unplugged, one that leaves after it restarts. The backup always lands in
// the folder named by the device, so --target must name the device given
// with -u.
class BackupCommand
{
public:
    enum class Operation { Backup, Restore };

    // False with a message (starting "error: ") when the arguments are not
    // one of the two forms above.
    static bool parse(const std::vector<std::string> &arguments, BackupCommand &command, std::string &message);

    Operation operation() const { return m_operation; }
    const std::string &device() const { return m_device; }
    const std::string &root() const { return m_root; }
    const std::string &source() const { return m_source; }

    // The arguments of idevicebackup2, program name not included.
    std::vector<std::string> toolArguments() const;
    // The arguments of idevicediagnostics that restart the phone after a
    // restore.
    std::vector<std::string> restartArguments() const;

private:
    Operation m_operation = Operation::Backup;
    std::string m_device;
    std::string m_root;
    std::string m_source;
};
