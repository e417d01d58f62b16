#pragma once

#include <QString>

// One value of the error report's form body: the UTF-8 bytes of the text in
// standard Base64, with "/" written as "!" and "=" as "-" ("+" is kept, as
// the receiving service expects).
QString encodeReportField(const QString &text);

// Posts the text of an error the user has just seen to the service's
// "/err_report.php", with the product name and version. Returns at once:
// the reply is never waited for or read, and a service that cannot be
// reached is not reported. GUI thread only.
void sendErrorReport(const QString &text);
