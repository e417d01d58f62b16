#pragma once

#include <QString>

// A file built under a temporary name beside its target and renamed into
// place only once complete, so that an interrupted or failed build never
// passes for the real file. Until commit, the file (and a journal SQLite may
// have left beside it) is removed when this object goes.
class PartialFile
{
public:
    // Creates an empty file of a fresh name in the target's folder. Throws
    // std::runtime_error "can not create %1. %2" with the target path.
    explicit PartialFile(const QString &target);
    ~PartialFile();
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    const QString &path() const { return m_path; }

    // Renames the file to the target, replacing a file there in one step.
    // Throws std::runtime_error "can not create %1. %2"; the partial file is
    // then still removed by the destructor.
    void commit();

private:
    QString m_target;
    QString m_path;
    bool m_committed = false;
};
