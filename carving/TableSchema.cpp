#include "TableSchema.h"

#include <QStringList>

namespace
{

struct Token
{
    enum Kind { End, Word, Quoted, String, Number, Punct } kind = End;
    QString text;
};

// Splits statement text into the tokens the column list needs.
class Tokens
{
public:
    explicit Tokens(const QString &text)
        : m_text(text)
    {
    }

    Token next()
    {
        skipSpaceAndComments();
        Token t;
        if (m_pos >= m_text.size())
            return t;
        const QChar c = m_text[m_pos];
        if (c == u'"' || c == u'`' || c == u'[') {
            // A doubled quote stands for itself (not in brackets).
            t.kind = Token::Quoted;
            return delimited(t, c == u'[' ? QChar(u']') : c, c != u'[');
        }
        if (c == u'\'') {
            t.kind = Token::String;
            return delimited(t, QChar(u'\''), true);
        }
        if (c.isLetterOrNumber() || c == u'_' || c == u'$') {
            t.kind = c.isDigit() ? Token::Number : Token::Word;
            while (m_pos < m_text.size()
                   && (m_text[m_pos].isLetterOrNumber() || m_text[m_pos] == u'_' || m_text[m_pos] == u'$'
                       || (t.kind == Token::Number && m_text[m_pos] == u'.')))
                t.text += m_text[m_pos++];
            return t;
        }
        t.kind = Token::Punct;
        t.text = c;
        ++m_pos;
        return t;
    }

    bool failed() const { return m_failed; }

private:
    // The text up to the closing character of a quoted name or a string that
    // starts at the current place. An unclosed one means the statement cannot
    // be read.
    Token delimited(Token t, QChar close, bool doubledCloseIsText)
    {
        ++m_pos;
        while (m_pos < m_text.size()) {
            if (m_text[m_pos] == close) {
                if (doubledCloseIsText && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == close) {
                    t.text += close;
                    m_pos += 2;
                    continue;
                }
                ++m_pos;
                return t;
            }
            t.text += m_text[m_pos++];
        }
        m_failed = true;
        return Token();
    }

    void skipSpaceAndComments()
    {
        while (m_pos < m_text.size()) {
            if (m_text[m_pos].isSpace()) {
                ++m_pos;
            } else if (m_text.mid(m_pos, 2) == QLatin1String("--")) {
                while (m_pos < m_text.size() && m_text[m_pos] != u'\n')
                    ++m_pos;
            } else if (m_text.mid(m_pos, 2) == QLatin1String("/*")) {
                const int end = m_text.indexOf(QLatin1String("*/"), m_pos + 2);
                m_pos = end < 0 ? m_text.size() : end + 2;
            } else {
                return;
            }
        }
    }

    QString m_text;
    int m_pos = 0;
    bool m_failed = false;
};

bool isWord(const Token &t, const char *word)
{
    return t.kind == Token::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isPunct(const Token &t, char c)
{
    return t.kind == Token::Punct && t.text == QLatin1Char(c);
}

bool startsConstraint(const Token &t)
{
    static const char *const words[] = {"CONSTRAINT", "PRIMARY", "NOT",  "NULL",      "UNIQUE", "CHECK",
                                        "DEFAULT",    "COLLATE", "REFERENCES", "GENERATED", "AS"};
    for (const char *w : words) {
        if (isWord(t, w))
            return true;
    }
    return false;
}

bool startsTableConstraint(const Token &t)
{
    return isWord(t, "CONSTRAINT") || isWord(t, "PRIMARY") || isWord(t, "UNIQUE") || isWord(t, "CHECK")
        || isWord(t, "FOREIGN");
}

} // namespace

QList<DeclaredColumn> declaredColumns(const QString &createTable)
{
    Tokens tokens(createTable);
    Token t = tokens.next();
    if (!isWord(t, "CREATE"))
        return {};
    t = tokens.next();
    if (isWord(t, "TEMP") || isWord(t, "TEMPORARY"))
        t = tokens.next();
    if (!isWord(t, "TABLE"))
        return {};
    t = tokens.next();
    if (isWord(t, "IF")) {
        if (!isWord(tokens.next(), "NOT") || !isWord(tokens.next(), "EXISTS"))
            return {};
        t = tokens.next();
    }
    // [schema.]name
    if (t.kind != Token::Word && t.kind != Token::Quoted && t.kind != Token::String)
        return {};
    t = tokens.next();
    if (isPunct(t, '.')) {
        t = tokens.next();
        if (t.kind != Token::Word && t.kind != Token::Quoted && t.kind != Token::String)
            return {};
        t = tokens.next();
    }
    if (!isPunct(t, '('))
        return {};

    QList<DeclaredColumn> out;
    bool columnsDone = false;
    for (;;) {
        t = tokens.next();
        if (t.kind == Token::End || tokens.failed())
            return {};
        if (!columnsDone && startsTableConstraint(t))
            columnsDone = true;
        DeclaredColumn col;
        bool isColumn = !columnsDone;
        if (isColumn) {
            if (t.kind != Token::Word && t.kind != Token::Quoted && t.kind != Token::String)
                return {};
            col.column.name = t.text;
            t = tokens.next();
            // The type: words (and their size in parentheses) up to the
            // first constraint.
            QStringList type;
            while (t.kind == Token::Word && !startsConstraint(t)) {
                type.append(t.text);
                t = tokens.next();
            }
            if (isPunct(t, '(') && !type.isEmpty()) {
                QString size = QStringLiteral("(");
                for (t = tokens.next(); t.kind != Token::End && !isPunct(t, ')'); t = tokens.next())
                    size += t.text;
                if (t.kind == Token::End)
                    return {};
                type.last() += size + QLatin1Char(')');
                t = tokens.next();
            }
            col.column.type = type.join(QLatin1Char(' '));
        }
        // Constraints (of the column, or a whole table constraint) up to the
        // comma or parenthesis that ends the entry.
        int depth = 0;
        Token previous;
        for (;; t = tokens.next()) {
            if (t.kind == Token::End || tokens.failed())
                return {};
            if (isPunct(t, '(')) {
                ++depth;
            } else if (isPunct(t, ')')) {
                if (depth == 0)
                    break;
                --depth;
            } else if (isPunct(t, ',') && depth == 0) {
                break;
            } else if (isColumn && depth == 0) {
                if (isWord(t, "KEY") && isWord(previous, "PRIMARY"))
                    col.column.primaryKey = true;
                else if (isWord(t, "NULL") && isWord(previous, "NOT"))
                    col.column.notNull = true;
                else if (isWord(t, "UNIQUE"))
                    col.column.unique = true;
                else if (isWord(t, "DEFAULT"))
                    col.hasDefault = true;
            }
            previous = t;
        }
        if (isColumn)
            out.append(col);
        if (isPunct(t, ')'))
            break;
    }
    return out;
}

QList<_SqliteCol> carvingColumns(const QList<DeclaredColumn> &declared, bool defaultsNeverNull)
{
    if (declared.size() < 2 || !declared[0].column.primaryKey
        || declared[0].column.type.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) != 0)
        return {};
    QList<_SqliteCol> out;
    out.reserve(declared.size());
    for (const DeclaredColumn &d : declared) {
        _SqliteCol c = d.column;
        if (defaultsNeverNull && d.hasDefault && !c.anyFlag())
            c.notNull = true;
        out.append(c);
    }
    return out;
}

int columnIndex(const QList<_SqliteCol> &columns, const QString &name)
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}
