#include "EmojiText.h"

namespace
{

// The characters are written as code points: "\\xe000" in this engine is
// the byte 0xE0 followed by the text "00", which would match digits.
const QRegularExpression &symbolEmoji()
{
    static const QRegularExpression re(QStringLiteral(
        "([\\x{E000}-\\x{E537}\\x{203C}\\x{2049}\\x{2139}\\x{2194}\\x{2195}\\x{21A9}\\x{21AA}\\x{231A}\\x{231B}"
        "\\x{23EB}\\x{23EC}\\x{23F0}\\x{23F3}\\x{24C2}\\x{25AA}\\x{25AB}\\x{25FB}\\x{25FC}\\x{25FD}\\x{25FE}"
        "\\x{2611}\\x{267B}\\x{2693}\\x{26AA}\\x{26AB}\\x{26C5}\\x{26D4}\\x{2705}\\x{2709}\\x{270F}\\x{2712}"
        "\\x{2714}\\x{2744}\\x{2747}\\x{274E}\\x{2795}\\x{2796}\\x{2797}\\x{27B0}\\x{2934}\\x{2935}\\x{2B1B}"
        "\\x{2B1C}\\x{3030}])"));
    return re;
}

// Every character whose UTF-16 form begins with the high surrogate D83C or
// D83D: U+1F000 to U+1F7FF.
const QRegularExpression &pictographEmoji()
{
    static const QRegularExpression re(QStringLiteral("([\\x{1F000}-\\x{1F7FF}])"));
    return re;
}

// Whether text holds any character either pattern could match; most
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

struct EmojiTarget
{
    EmojiCallback callback;
    void *data;
};

QString symbolMatch(const QRegularExpressionMatch &match, void *data)
{
    const auto *t = static_cast<const EmojiTarget *>(data);
    const QString c = match.captured(1);
    return t->callback(QString::number(c.at(0).unicode(), 16).toUpper(), t->data);
}

QString pictographMatch(const QRegularExpressionMatch &match, void *data)
{
    const auto *t = static_cast<const EmojiTarget *>(data);
    const QString c = match.captured(1);
    const char32_t code = QChar::surrogateToUcs4(c.at(0), c.at(1));
    return t->callback(QString::number(quint32(code), 16).toUpper(), t->data);
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

QString replaceEmoji(const QString &text, EmojiCallback callback, void *data)
{
    if (!callback || !mayHoldEmoji(text))
        return text;
    EmojiTarget target{callback, data};
    const QString once = replaceWithCallback(text, symbolEmoji(), symbolMatch, &target);
    return replaceWithCallback(once, pictographEmoji(), pictographMatch, &target);
}

QString emojiReplacement(const QString &hexCode, void *data)
{
    Q_UNUSED(hexCode);
    Q_UNUSED(data);
    return QStringLiteral("[EMOJI]");
}
