#include "ExportOutput.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Errors.h"
#include "FileUtils.h"

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("ExportOutput", text);
}

bool existsAt(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

void ExportOutput::makeFolder(const QString &path)
{
    // Made one level at a time, so that each folder this run made is known.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList missing;
    QString at = QDir::cleanPath(absolute);
    while (!at.isEmpty() && !existsAt(at)) {
        missing.prepend(at);
        const QString parent = QFileInfo(at).path();
        if (parent == at)
            break;
        at = parent;
    }
    if (existsAt(at) && !QFileInfo(at).isDir())
        throwError(tr("can not create folder %1.").arg(QDir::toNativeSeparators(path)));
    for (const QString &folder : std::as_const(missing)) {
        if (!QDir().mkdir(folder))
            throwError(tr("can not create folder %1.").arg(QDir::toNativeSeparators(path)));
        m_folders.append(folder);
    }
}

QString ExportOutput::freePath(const QDir &folder, const QString &base, const QString &suffix) const
{
    QString path = folder.filePath(base + suffix);
    for (int n = 1; m_claimed.contains(path.toCaseFolded()); ++n)
        path = folder.filePath(QStringLiteral("%1(%2)").arg(base).arg(n) + suffix);
    return path;
}

QString ExportOutput::stage(const QString &finalPath)
{
    QString part = finalPath + QStringLiteral(".part");
    for (int n = 2; existsAt(part); ++n)
        part = finalPath + QStringLiteral(".part%1").arg(n);
    m_staged.append({part, finalPath});
    m_claimed.insert(finalPath.toCaseFolded());
    return part;
}

bool ExportOutput::copyNew(const QString &source, const QString &target)
{
    if (existsAt(target) || !QFile::copy(source, target))
        return false;
    m_copies.append(target);
    return true;
}

void ExportOutput::commit()
{
    while (!m_staged.isEmpty()) {
        const Staged s = m_staged.first();
        if (!existsAt(s.part)) {
            // Never written (an exporter that opens nothing): nothing to place.
            m_staged.removeFirst();
            continue;
        }
        const bool replaces = existsAt(s.final);
        // rename replaces the older file in one step, never leaving the name
        // without a file.
        if (std::rename(QFile::encodeName(s.part).constData(), QFile::encodeName(s.final).constData()) != 0) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            throwError(tr("can not write %1. %2").arg(QDir::toNativeSeparators(s.final), reason));
        }
        if (!replaces)
            m_committedNew.append(s.final);
        m_staged.removeFirst();
    }
}

bool ExportOutput::discard()
{
    bool ok = true;
    for (const Staged &s : std::as_const(m_staged)) {
        if (existsAt(s.part) && !QFile::remove(s.part))
            ok = false;
    }
    m_staged.clear();
    for (const QString &path : std::as_const(m_committedNew) + m_copies) {
        if (existsAt(path) && !QFile::remove(path))
            ok = false;
    }
    m_committedNew.clear();
    m_copies.clear();
    // Innermost first; each was made by this run, with everything in it.
    for (auto it = m_folders.crbegin(); it != m_folders.crend(); ++it) {
        if (!removeDirRecursively(*it))
            ok = false;
    }
    m_folders.clear();
    return ok;
}
