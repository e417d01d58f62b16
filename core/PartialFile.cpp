#include "PartialFile.h"

#include <QFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Errors.h"

PartialFile::PartialFile(const QString &target)
    : m_target(target)
{
    QTemporaryFile part(target + QStringLiteral(".XXXXXX"));
    part.setAutoRemove(false);
    if (!part.open())
        throwCannotCreate(target, part.errorString());
    m_path = part.fileName();
}

PartialFile::~PartialFile()
{
    if (m_committed)
        return;
    QFile::remove(m_path);
    QFile::remove(m_path + QStringLiteral("-journal"));
    QFile::remove(m_path + QStringLiteral("-wal"));
    QFile::remove(m_path + QStringLiteral("-shm"));
}

void PartialFile::commit()
{
    // rename(2) replaces an existing target atomically, which QFile::rename
    // refuses to do.
    if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(m_target).constData()) != 0)
        throwCannotCreate(m_target, QString::fromLocal8Bit(std::strerror(errno)));
    m_committed = true;
}
