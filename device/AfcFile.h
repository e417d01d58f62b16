#pragma once

#include <QtGlobal>

#include <memory>

class AfcClient;

// One file open on the device through an AfcClient's socket, which it does
// not own. It is closed on destruction. Once its client has closed the
// socket, the file no longer sends anything: the socket's number may by then
// belong to something else.
class AfcFile
{
public:
    AfcFile() = default;
    ~AfcFile();
    AfcFile(const AfcFile &) = delete;
    AfcFile &operator=(const AfcFile &) = delete;
    AfcFile(AfcFile &&other) noexcept;
    AfcFile &operator=(AfcFile &&other) noexcept;

    bool isOpen() const { return fileHandle != 0; }

    // Bytes read (fewer at the end of the file), -1 on failure.
    int read(char *buffer, int length);
    // Bytes written, -1 on failure.
    int write(const char *data, int length);
    // Closes the device's handle; failures are swallowed, and the file counts
    // as closed in every case.
    void close();

    int socket = 0;
    qint64 fileHandle = 0; // 0 when not open

private:
    friend class AfcClient;
    bool linked() const;

    // Alive while the client's socket is open.
    std::weak_ptr<void> m_link;
};
