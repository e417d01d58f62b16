#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include "CoreFoundationCalls.h"

// One phone as the usbmux daemon lists it, named by its device identifier:
// the handle the device library gives the program. It is made when the phone
// first arrives and lives as long as the process, so that a handle the
// program keeps never dangles; a phone plugged in again gets the same one.
//
// The calls follow the device library's order: connect opens a lockdown
// connection, pairing is checked or made, the pairing validated, a session
// started; values and services need the session; disconnect ends all of it.
// Each call holds the phone for its duration, so calls from two threads
// follow one another. Results are 0 or a code of DeviceCodes.h or of
// libimobiledevice's lockdown.
class UsbDevice
{
public:
    explicit UsbDevice(std::string udid);
    ~UsbDevice();
    UsbDevice(const UsbDevice &) = delete;
    UsbDevice &operator=(const UsbDevice &) = delete;

    const std::string &udid() const { return m_udid; }

    // Set by the daemon's arrival and removal events (any thread).
    void setPresent(bool present) { m_present = present; }
    bool isPresent() const { return m_present; }

    int connect();
    bool isPaired();
    int pair();
    int validatePairing();
    int startSession();
    int stopSession();
    int disconnect();
    // The service's port as a plain connected socket, which the caller owns.
    int startService(const std::string &name, int *socketOut);
    // A value the caller owns, or null: the phone has none, or it left.
    CFTypeRef copyValue(const char *domain, const char *key);
    int setValue(const char *domain, const char *key, CFTypeRef value);

private:
    void closeConnection();
    // The phone's pairing record at the daemon; null when there is none.
    plist_t readPairRecord() const;
    // Whether the phone's system is older than 7, which still wants the
    // pairing validated before a session.
    bool wantsPairValidation();

    const std::string m_udid;
    std::atomic<bool> m_present{false};
    std::mutex m_mutex;
    idevice_t m_device = nullptr;
    lockdownd_client_t m_lockdown = nullptr;
    bool m_validated = false;
    std::string m_sessionId; // empty when no session
};
