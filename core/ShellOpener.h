#pragma once

#include <QUrl>

// Hands web pages, files and folders to the desktop. The one place the
// program leaves itself for the desktop, so that a test can stand a recording
// opener in its place; the program always uses the desktop's.
class ShellOpener
{
public:
    virtual ~ShellOpener() = default;

    // Opens the URL with the desktop's handler; false when none took it.
    static bool open(const QUrl &url);

protected:
    ShellOpener() = default;
    ShellOpener(const ShellOpener &) = delete;
    ShellOpener &operator=(const ShellOpener &) = delete;

    virtual bool openUrl(const QUrl &url) const;

    // Puts another opener in place of the desktop's; nullptr puts the
    // desktop's back. The caller keeps ownership.
    static void setInstance(const ShellOpener *opener);
};
