#include "DeletedMmsParts.h"

#include <algorithm>

#include "RowValues.h"
#include "TableSchema.h"

namespace
{

// Whether a value can stand in a column of that declared type: NULL in any,
// numbers in numeric columns, texts in text columns, blobs in blob columns.
// A column of no known affinity takes anything.
bool fits(const QVariant &v, const _SqliteCol &col)
{
    if (!v.isValid())
        return true;
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return col.isInteger() || col.isNumeric() || col.isReal();
    case QMetaType::Double:
        return col.isReal() || col.isNumeric();
    case QMetaType::QByteArray:
        return col.isBlob();
    case QMetaType::QString:
        return col.isText() || col.isBlob();
    default:
        return false;
    }
}

bool isInteger(const QVariant &v)
{
    const int type = v.metaType().id();
    return type == QMetaType::Int || type == QMetaType::LongLong;
}

bool samePart(const IOS5MmsParts::Part &a, const IOS5MmsParts::Part &b)
{
    return a.partId == b.partId && a.type == b.type;
}

} // namespace

DeletedMmsParts::DeletedMmsParts(const QString &createTable)
{
    const QList<_SqliteCol> cols = carvingColumns(declaredColumns(createTable), false);
    const auto at = [&](const char *name) { return columnIndex(cols, QLatin1String(name)); };
    const int messageId = at("message_id"), data = at("data"), partId = at("part_id"),
              contentType = at("content_type");
    if (messageId < 1 || data < 1 || partId < 1 || contentType < 1)
        return;
    m_columns = cols;
    m_messageId = messageId;
    m_data = data;
    m_partId = partId;
    m_contentType = contentType;
}

bool DeletedMmsParts::partOf(const Sqlite3File::_Row &row, IOS5MmsParts::Part &part, qint64 &messageId) const
{
    const QList<QVariant> &v = row.values;
    if (!usable() || v.size() != m_columns.size() || v[0].isValid())
        return false;
    for (qsizetype i = 1; i < v.size(); ++i) {
        if (!fits(v[i], m_columns[i]))
            return false;
    }
    // A part names its message and its place in it, and says what it is.
    const QVariant &message = v[m_messageId];
    const QVariant &place = v[m_partId];
    const QVariant &type = v[m_contentType];
    if (!isInteger(message) || rowInt64(message) < 1 || !isInteger(place) || rowInt64(place) < 0 ||
        type.metaType().id() != QMetaType::QString)
        return false;
    messageId = rowInt64(message);
    part = IOS5MmsParts::Part();
    part.rowid = row.rowid;
    part.partId = rowInt64(place);
    part.type = IOS5MmsParts::mediaType(rowText(type));
    if (part.type == QLatin1String("text/plain"))
        part.text = QString::fromUtf8(rowBytes(v[m_data]));
    return true;
}

void DeletedMmsParts::offer(const Sqlite3File::_Row &row, bool wholeCell, int age)
{
    IOS5MmsParts::Part part;
    qint64 messageId = 0;
    if (!partOf(row, part, messageId))
        return;
    const int rank = (wholeCell ? 2 : 0) + (part.rowid > 0 ? 1 : 0);
    std::vector<Found> &found = m_found[messageId];
    for (Found &f : found) {
        if (!samePart(f.part, part))
            continue;
        if (rank / 2 > f.rank / 2 || (rank / 2 == f.rank / 2 && (age > f.age || (age == f.age && rank > f.rank))))
            f = {part, rank, age};
        return;
    }
    found.push_back({part, rank, age});
}

QList<IOS5MmsParts::Part> DeletedMmsParts::partsOf(qint64 messageId, const QList<IOS5MmsParts::Part> &live) const
{
    QList<IOS5MmsParts::Part> parts = live;
    const auto it = m_found.constFind(messageId);
    if (it != m_found.constEnd()) {
        for (const Found &f : it.value()) {
            const bool known = std::any_of(parts.cbegin(), parts.cend(),
                                           [&](const IOS5MmsParts::Part &p) { return samePart(p, f.part); });
            if (!known)
                parts.append(f.part);
        }
    }
    std::stable_sort(parts.begin(), parts.end(), [](const IOS5MmsParts::Part &a, const IOS5MmsParts::Part &b) {
        return a.partId != b.partId ? a.partId < b.partId : a.rowid < b.rowid;
    });
    return parts;
}
