#pragma once

#include <QByteArray>
#include <QString>

// Points the program's web-service address (LARKSPAN_SERVICE_URL) somewhere
// for the life of the object and restores the old setting afterwards.
class ServiceUrlScope
{
public:
    explicit ServiceUrlScope(const QString &url);
    ~ServiceUrlScope();
    ServiceUrlScope(const ServiceUrlScope &) = delete;
    ServiceUrlScope &operator=(const ServiceUrlScope &) = delete;

private:
    bool m_had;
    QByteArray m_old;
};
