#include "ShellOpener.h"

#include <QDesktopServices>

#include <atomic>

namespace
{

class DesktopOpener : public ShellOpener
{
};

const ShellOpener &desktopOpener()
{
    static const DesktopOpener opener;
    return opener;
}

std::atomic<const ShellOpener *> replacement{nullptr};

} // namespace

bool ShellOpener::open(const QUrl &url)
{
    const ShellOpener *opener = replacement.load();
    return (opener ? *opener : desktopOpener()).openUrl(url);
}

bool ShellOpener::openUrl(const QUrl &url) const
{
    return QDesktopServices::openUrl(url);
}

void ShellOpener::setInstance(const ShellOpener *opener)
{
    replacement.store(opener);
}
