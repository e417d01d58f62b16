#include "EmptyingTriggers.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <iterator>

#include "IOS6MessageDb.h"

bool EmptyingTriggers::isEmptiedTable(const QString &table)
{
    static const char *const tables[] = {"attachment",        "chat",           "handle",          "message",
                                         "message_attachment_join", "chat_message_join", "chat_handle_join"};
    return std::any_of(std::begin(tables), std::end(tables), [&](const char *name) {
        return table.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    });
}

bool EmptyingTriggers::onlyEmpties(const QString &triggerSql)
{
    // Quotes, brackets and comments could hide a ';' or a keyword.
    for (const char *hiding : {"'", "\"", "`", "[", "--", "/*"}) {
        if (triggerSql.contains(QLatin1String(hiding)))
            return false;
    }
    static const QRegularExpression shape(QStringLiteral(R"(^\s*CREATE\s+TRIGGER\s(.*?)\bBEGIN\b(.*)\bEND\s*;?\s*$)"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression call(QStringLiteral(R"((\w+)\s*\()"));
    static const QRegularExpression removal(QStringLiteral(R"(^(?:DELETE\s+FROM|UPDATE)\s+(\w+)\b)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression noOp(QStringLiteral(R"(^SELECT\s+(\w+)\s*\(([\w\s.,]*)\)$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch trigger = shape.match(triggerSql);
    if (!trigger.hasMatch())
        return false;
    // Words before an opening parenthesis may only be the keywords of
    // conditions and subqueries.
    const auto onlyKeywordCalls = [](const QString &text) {
        static const QStringList keywords = {QStringLiteral("WHEN"), QStringLiteral("WHERE"), QStringLiteral("AND"),
                                             QStringLiteral("OR"),   QStringLiteral("NOT"),   QStringLiteral("IN"),
                                             QStringLiteral("EXISTS"), QStringLiteral("SELECT")};
        for (auto it = call.globalMatch(text); it.hasNext();) {
            if (!keywords.contains(it.next().captured(1), Qt::CaseInsensitive))
                return false;
        }
        return true;
    };
    if (!onlyKeywordCalls(trigger.captured(1)))
        return false;
    const QStringList statements = trigger.captured(2).split(QLatin1Char(';'));
    for (const QString &raw : statements) {
        const QString statement = raw.simplified();
        if (statement.isEmpty())
            continue;
        const QRegularExpressionMatch changes = removal.match(statement);
        if (changes.hasMatch()) {
            if (!isEmptiedTable(changes.captured(1)) || !onlyKeywordCalls(statement))
                return false;
            continue;
        }
        const QRegularExpressionMatch called = noOp.match(statement);
        if (!called.hasMatch())
            return false;
        const QString name = called.captured(1);
        const QString arguments = called.captured(2).trimmed();
        const int args = arguments.isEmpty() ? 0 : int(arguments.count(QLatin1Char(','))) + 1;
        const auto is = [&](const char *function, int count) {
            return name.compare(QLatin1String(function), Qt::CaseInsensitive) == 0 && args == count;
        };
        const bool known = is("delete_attachment_path", 1) || is("before_delete_attachment_path", 2);
        if (!known)
            return false;
    }
    return true;
}

bool EmptyingTriggers::doOnlyEmpty(IOS6MessageDb &db)
{
    // A temporary trigger of this connection could be on them as well.
    Sqlite3Cursor c =
        db.queryThrow(Sqlite3Sql("select tbl_name, sql from main.sqlite_master where type='trigger' union all "
                                 "select tbl_name, sql from temp.sqlite_master where type='trigger'"));
    while (c.moveNext()) {
        if (isEmptiedTable(c.getText(0)) && !onlyEmpties(c.getText(1)))
            return false;
    }
    return true;
}
