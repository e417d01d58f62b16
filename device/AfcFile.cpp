#include "AfcFile.h"

#include "AfcProtocol.h"

#include <exception>

AfcFile::~AfcFile()
{
    close();
}

AfcFile::AfcFile(AfcFile &&other) noexcept
    : socket(other.socket)
    , fileHandle(other.fileHandle)
    , m_link(std::move(other.m_link))
{
    other.socket = 0;
    other.fileHandle = 0;
}

AfcFile &AfcFile::operator=(AfcFile &&other) noexcept
{
    if (this != &other) {
        close();
        socket = other.socket;
        fileHandle = other.fileHandle;
        m_link = std::move(other.m_link);
        other.socket = 0;
        other.fileHandle = 0;
    }
    return *this;
}

bool AfcFile::linked() const
{
    return fileHandle != 0 && !m_link.expired();
}

int AfcFile::read(char *buffer, int length)
{
    if (!linked() || length < 0)
        return -1;
    try {
        return afc_file_read(socket, fileHandle, buffer, unsigned(length));
    } catch (const std::exception &) {
        return -1;
    }
}

int AfcFile::write(const char *data, int length)
{
    if (!linked() || length < 0)
        return -1;
    try {
        return int(afc_file_write(socket, fileHandle, data, unsigned(length)));
    } catch (const std::exception &) {
        return -1;
    }
}

void AfcFile::close()
{
    if (linked()) {
        try {
            afc_file_close(socket, fileHandle);
        } catch (const std::exception &) {
        }
    }
    fileHandle = 0;
    m_link.reset();
}
