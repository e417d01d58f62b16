#pragma once

#include <QMetaObject>

// A signal connection that ends with the scope holding it, however the scope
// is left: for a connection made inside a function whose receiver or
// captured state lives no longer than the call.
class ScopedConnection
{
public:
    explicit ScopedConnection(QMetaObject::Connection connection);
    ~ScopedConnection();
    ScopedConnection(const ScopedConnection &) = delete;
    ScopedConnection &operator=(const ScopedConnection &) = delete;

private:
    QMetaObject::Connection m_connection;
};
