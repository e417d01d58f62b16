#include "EmojiText.h"

#include <algorithm>
#include <iterator>

namespace
{

// Whether text holds any character either pass could replace; most
// messages hold none, and this saves both scans.
bool mayHoldEmoji(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x203C && u <= 0x3030) || (u >= 0xE000 && u <= 0xE537) || u == 0xD83C || u == 0xD83D)
            return true;
    }
    return false;
}

void replaceInValidText(QString &out, const QString &source, qsizetype begin, qsizetype end,
                        const QRegularExpression &expression, MatchCallback callback, void *data)
{
    if (begin >= end)
        return;
    // Scanning a copy of the segment keeps anchors and look-arounds from
    // reaching into the broken units around it.
    const QString segment = (begin == 0 && end == source.size()) ? source : source.mid(begin, end - begin);
    qsizetype pos = 0;
    while (pos < segment.size()) {
        const QRegularExpressionMatch m = expression.match(segment, pos);
        if (!m.hasMatch())
            break;
        const qsizetype start = m.capturedStart(0);
        const qsizetype length = m.capturedLength(0);
        out += QStringView(segment).mid(pos, start - pos);
        pos = start;
        if (length == 0) {
            // Would never advance; copy one character and go on.
            if (pos >= segment.size())
                break;
            const bool pair = pos + 1 < segment.size() && segment.at(pos).isHighSurrogate()
                              && segment.at(pos + 1).isLowSurrogate();
            const qsizetype step = pair ? 2 : 1;
            out += QStringView(segment).mid(pos, step);
            pos += step;
            continue;
        }
        out += callback(m, data);
        pos += length;
    }
    if (pos < segment.size())
        out += QStringView(segment).mid(pos);
}

} // namespace

QString replaceWithCallback(const QString &source, const QRegularExpression &expression, MatchCallback callback,
                            void *data)
{
    if (!callback || !expression.isValid())
        return source;
    QString out;
    out.reserve(source.size());
    qsizetype begin = 0;
    const qsizetype n = source.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = source.at(i);
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < n && source.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        replaceInValidText(out, source, begin, i, expression, callback, data);
        out += c;
        begin = i + 1;
    }
    replaceInValidText(out, source, begin, n, expression, callback, data);
    return out;
}

namespace
{

// The old private-use emoji and the symbols, all of them single UTF-16
// units.
bool isSymbolEmoji(char16_t u)
{
    if (u >= 0xE000 && u <= 0xE537)
        return true;
    static const char16_t symbols[] = {
        0x203C, 0x2049, 0x2139, 0x2194, 0x2195, 0x21A9, 0x21AA, 0x231A, 0x231B, 0x23EB, 0x23EC, 0x23F0, 0x23F3,
        0x24C2, 0x25AA, 0x25AB, 0x25FB, 0x25FC, 0x25FD, 0x25FE, 0x2611, 0x267B, 0x2693, 0x26AA, 0x26AB, 0x26C5,
        0x26D4, 0x2705, 0x2709, 0x270F, 0x2712, 0x2714, 0x2744, 0x2747, 0x274E, 0x2795, 0x2796, 0x2797, 0x27B0,
        0x2934, 0x2935, 0x2B1B, 0x2B1C, 0x3030};
    return std::binary_search(std::begin(symbols), std::end(symbols), u);
}

// The two passes, symbols first and then pictographs over the result, each
// a scan for single code points: a half of a surrogate pair standing alone
// is copied as it is, and the text on either side of it is still scanned.
// Cheaper than a regular expression, and the callback sees the same codes
// in the same order.
QString replaceSymbols(const QString &text, EmojiCallback callback, void *data)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype copied = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text.at(i).unicode();
        if (!isSymbolEmoji(u))
            continue;
        out += QStringView(text).mid(copied, i - copied);
        out += callback(QString::number(u, 16).toUpper(), data);
        copied = i + 1;
    }
    out += QStringView(text).mid(copied);
    return out;
}

QString replacePictographs(const QString &text, EmojiCallback callback, void *data)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype copied = 0;
    for (qsizetype i = 0; i + 1 < n; ++i) {
        const QChar high = text.at(i);
        if (!high.isHighSurrogate() || !text.at(i + 1).isLowSurrogate())
            continue;
        if (high.unicode() == 0xD83C || high.unicode() == 0xD83D) {
            out += QStringView(text).mid(copied, i - copied);
            const char32_t code = QChar::surrogateToUcs4(high, text.at(i + 1));
            out += callback(QString::number(quint32(code), 16).toUpper(), data);
            copied = i + 2;
        }
        ++i;
    }
    out += QStringView(text).mid(copied);
    return out;
}

} // namespace

QString replaceEmoji(const QString &text, EmojiCallback callback, void *data)
{
    if (!callback || !mayHoldEmoji(text))
        return text;
    return replacePictographs(replaceSymbols(text, callback, data), callback, data);
}

QString emojiReplacement(const QString &hexCode, void *data)
{
    Q_UNUSED(hexCode);
    Q_UNUSED(data);
    return QStringLiteral("[EMOJI]");
}
