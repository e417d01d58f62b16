#pragma once

#include <QString>
#include <QUrl>

// Base URL of the maker's web service: the environment variable
// LARKSPAN_SERVICE_URL when it is set and not empty, else the address the
// program was built with. Read at every call, so a test may point it at a
// local server.
QUrl serviceBaseUrl();

// The service address of one request: the base URL with pathAndQuery (which
// starts with "/", and may carry "?query") appended to the base's own path.
// Invalid when the base is not an http or https URL with a host.
QUrl serviceUrl(const QString &pathAndQuery);
