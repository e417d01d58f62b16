#include "ServiceUrlScope.h"

namespace
{
const char kVariable[] = "LARKSPAN_SERVICE_URL";
}

ServiceUrlScope::ServiceUrlScope(const QString &url)
    : m_had(qEnvironmentVariableIsSet(kVariable))
    , m_old(qgetenv(kVariable))
{
    qputenv(kVariable, url.toUtf8());
}

ServiceUrlScope::~ServiceUrlScope()
{
    if (m_had)
        qputenv(kVariable, m_old);
    else
        qunsetenv(kVariable);
}
