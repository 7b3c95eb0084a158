#include "IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "Codec.h"

namespace {

const QByteArray utf8ByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

bool isQuoted(const QString &text)
{
    return text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"'));
}

// Values are read trimmed and with one pair of enclosing quotes removed; quoting keeps a value
// that would otherwise lose its outer spaces or quotes exactly as given.
QString formatValue(const QString &value)
{
    if (value != value.trimmed() || isQuoted(value))
        return QLatin1Char('"') + value + QLatin1Char('"');
    return value;
}

} // namespace

bool IniFile::load(const QString &path)
{
    setBytes(QByteArray());
    const auto fail = [this](const QString &reason) {
        m_loadFailed = true;
        m_errorString = reason;
        return false;
    };

    const QFileInfo info(path);
    if (!info.exists())
        return true;
    if (info.isDir())
        return fail(QStringLiteral("is a folder"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    // In pieces: read(n) reserves all n bytes up front, 4 MiB for a file of a few hundred.
    QByteArray bytes;
    while (bytes.size() <= maxFileBytes) {
        const QByteArray piece = file.read(16 * 1024);
        if (piece.isEmpty())
            break;
        bytes += piece;
    }
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (bytes.size() > maxFileBytes)
        return fail(QStringLiteral("larger than %1 bytes").arg(maxFileBytes));
    setBytes(bytes);
    return true;
}

void IniFile::setBytes(const QByteArray &bytes)
{
    m_lines.clear();
    m_byteOrderMark.clear();
    m_newline = QByteArrayLiteral("\r\n");
    m_errorString.clear();
    m_modified = false;
    m_loadFailed = false;

    qsizetype start = 0;
    m_utf8 = bytes.startsWith(utf8ByteOrderMark);
    if (m_utf8) {
        m_byteOrderMark = utf8ByteOrderMark;
        start = utf8ByteOrderMark.size();
    }

    bool newlineSeen = false;
    qsizetype lineStart = start;
    for (qsizetype i = start; i < bytes.size(); ++i) {
        const char ch = bytes.at(i);
        if (ch != '\n' && ch != '\r')
            continue;
        const qsizetype endingLength =
            (ch == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') ? 2 : 1;
        const QByteArray ending = bytes.mid(i, endingLength);
        if (!newlineSeen) {
            // New lines follow the file's own convention.
            m_newline = ending;
            newlineSeen = true;
        }
        m_lines.append(parseLine(bytes.mid(lineStart, i - lineStart), ending));
        i += endingLength - 1;
        lineStart = i + 1;
    }
    if (lineStart < bytes.size())
        m_lines.append(parseLine(bytes.mid(lineStart), QByteArray()));
}

QByteArray IniFile::bytes() const
{
    QByteArray out = m_byteOrderMark;
    for (const Line &line : m_lines) {
        out += line.text;
        out += line.ending;
    }
    return out;
}

IniFile::Line IniFile::parseLine(const QByteArray &text, const QByteArray &ending) const
{
    Line line;
    line.text = text;
    line.ending = ending;

    // Decoded before parsing: a GBK trail byte may be ']' and must not close a group name.
    const QString trimmed = decode(text).trimmed();
    if (trimmed.isEmpty()) {
        line.kind = Kind::Blank;
    } else if (trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#'))) {
        line.kind = Kind::Comment;
    } else if (trimmed.startsWith(QLatin1Char('['))) {
        const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
        if (close > 0) {
            line.kind = Kind::Group;
            line.name = trimmed.mid(1, close - 1).trimmed();
        } else {
            line.kind = Kind::Unrecognised;
        }
    } else {
        const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
        const QString key = equals > 0 ? trimmed.left(equals).trimmed() : QString();
        if (key.isEmpty()) {
            line.kind = Kind::Unrecognised;
        } else {
            line.kind = Kind::Key;
            line.name = key;
            QString value = trimmed.mid(equals + 1).trimmed();
            if (isQuoted(value))
                value = value.mid(1, value.size() - 2);
            line.value = value;
        }
    }
    return line;
}

QString IniFile::decode(const QByteArray &bytes) const
{
    return m_utf8 ? QString::fromUtf8(bytes) : Codec::toText(bytes);
}

QByteArray IniFile::encode(const QString &text) const
{
    return m_utf8 ? text.toUtf8() : Codec::toBytes(text);
}

qsizetype IniFile::findKey(const QString &group, const QString &key) const
{
    qsizetype found = -1;
    bool inGroup = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines.at(i);
        if (line.kind == Kind::Group)
            inGroup = sameName(line.name, group);
        else if (inGroup && line.kind == Kind::Key && sameName(line.name, key))
            found = i;
    }
    return found;
}

qsizetype IniFile::findLastGroup(const QString &group) const
{
    for (qsizetype i = m_lines.size() - 1; i >= 0; --i) {
        if (m_lines.at(i).kind == Kind::Group && sameName(m_lines.at(i).name, group))
            return i;
    }
    return -1;
}

bool IniFile::contains(const QString &group, const QString &key) const
{
    return findKey(group, key) >= 0;
}

int IniFile::occurrences(const QString &group, const QString &key) const
{
    int count = 0;
    bool inGroup = false;
    for (const Line &line : m_lines) {
        if (line.kind == Kind::Group)
            inGroup = sameName(line.name, group);
        else if (inGroup && line.kind == Kind::Key && sameName(line.name, key))
            ++count;
    }
    return count;
}

QString IniFile::value(const QString &group, const QString &key, const QString &defaultValue) const
{
    const qsizetype index = findKey(group, key);
    return index >= 0 ? m_lines.at(index).value : defaultValue;
}

void IniFile::ensureEnding(qsizetype index)
{
    if (m_lines[index].ending.isEmpty())
        m_lines[index].ending = m_newline;
}

bool IniFile::setValue(const QString &group, const QString &key, const QString &value)
{
    if (group.isEmpty() || group != group.trimmed() || group.contains(QLatin1Char(']')) ||
        hasLineBreak(group))
        return false;
    if (key.isEmpty() || key != key.trimmed() || key.contains(QLatin1Char('=')) || hasLineBreak(key) ||
        key.startsWith(QLatin1Char('[')) || key.startsWith(QLatin1Char(';')) ||
        key.startsWith(QLatin1Char('#')))
        return false;
    if (hasLineBreak(value))
        return false;
    // Text the file's encoding cannot hold would be written as something else and read back so.
    const auto holds = [this](const QString &text) { return decode(encode(text)) == text; };
    if (!holds(group) || !holds(key) || !holds(value))
        return false;

    const qsizetype existing = findKey(group, key);
    if (existing >= 0) {
        Line &line = m_lines[existing];
        if (line.value == value)
            return true;
        // The key keeps the spelling the file gave it.
        line = parseLine(encode(line.name + QLatin1Char('=') + formatValue(value)), line.ending);
        m_modified = true;
        return true;
    }

    const Line keyLine = parseLine(encode(key + QLatin1Char('=') + formatValue(value)), m_newline);
    const qsizetype header = findLastGroup(group);
    if (header >= 0) {
        // After the group's last key, so comments and blank lines that lead into the next group
        // stay with it.
        qsizetype after = header;
        for (qsizetype i = header + 1; i < m_lines.size() && m_lines.at(i).kind != Kind::Group; ++i) {
            if (m_lines.at(i).kind == Kind::Key)
                after = i;
        }
        ensureEnding(after);
        m_lines.insert(after + 1, keyLine);
    } else {
        if (!m_lines.isEmpty())
            ensureEnding(m_lines.size() - 1);
        m_lines.append(parseLine(encode(QLatin1Char('[') + group + QLatin1Char(']')), m_newline));
        m_lines.append(keyLine);
    }
    m_modified = true;
    return true;
}

bool IniFile::save(const QString &path)
{
    if (m_loadFailed) {
        // Writing now would replace a file we could not read with a nearly empty one.
        m_errorString = QStringLiteral("the file could not be read, so it is not rewritten");
        return false;
    }
    if (!m_modified)
        return true;

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_errorString = file.errorString();
        return false;
    }
    const QByteArray contents = bytes();
    if (file.write(contents) != contents.size()) {
        m_errorString = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        m_errorString = file.errorString();
        return false;
    }
    m_modified = false;
    return true;
}

QList<int> IniFile::unrecognisedLines() const
{
    QList<int> numbers;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).kind == Kind::Unrecognised)
            numbers.append(static_cast<int>(i + 1));
    }
    return numbers;
}
