#include "ServiceUrl.h"

#include "LarkspanConfig.h"

QUrl serviceBaseUrl()
{
    const QString fromEnv = qEnvironmentVariable("LARKSPAN_SERVICE_URL").trimmed();
    return QUrl(fromEnv.isEmpty() ? QStringLiteral(LARKSPAN_SERVICE_URL) : fromEnv);
}

QUrl serviceUrl(const QString &pathAndQuery)
{
    QUrl url = serviceBaseUrl();
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QUrl();

    QString path = pathAndQuery;
    QString query;
    const qsizetype q = path.indexOf(QLatin1Char('?'));
    if (q >= 0) {
        query = path.mid(q + 1);
        path.truncate(q);
    }
    QString basePath = url.path();
    while (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + path);
    if (q >= 0)
        url.setQuery(query);
    else
        url.setQuery(QString());
    url.setFragment(QString());
    return url;
}
