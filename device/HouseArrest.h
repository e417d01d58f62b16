#pragma once

#include <QString>

// The service that hands out the file protocol rooted in one application's
// container.
inline constexpr char kHouseArrestService[] = "com.apple.mobile.house_arrest";

// Asks for the container of the application; afterwards the same socket
// speaks the file protocol inside it. Throws std::runtime_error "can not find
// <bundle id>." when the device refuses, and the framing's failures.
void house_arrest_vend_container(int socket, const QString &bundleId);
