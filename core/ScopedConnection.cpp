#include "ScopedConnection.h"

#include <QObject>

ScopedConnection::ScopedConnection(QMetaObject::Connection connection)
    : m_connection(connection)
{
}

ScopedConnection::~ScopedConnection()
{
    QObject::disconnect(m_connection);
}
