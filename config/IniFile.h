#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A Windows-style INI file (main.ini) read and edited in place.
//
// Qt 6's QSettings cannot read an INI file in GBK (it has no ini codec any more) and it rewrites
// the whole file, dropping comments and reformatting, so main.ini is handled by this small class:
// - Reading decodes each line as GBK (as UTF-8 when the file starts with a UTF-8 byte-order mark),
//   takes group and key names case-insensitively as the Windows profile functions do, and reads
//   values literally (no escapes; one pair of enclosing double quotes is removed). When a key
//   appears more than once in a group, the last one counts; a group may appear more than once.
// - Writing replaces or adds exactly one key line; every other byte stays as it was (other groups,
//   keys, comments, unreadable lines, line endings). save() replaces the file atomically.
class IniFile final
{
public:
    // main.ini is a few hundred bytes; anything far larger is not ours to rewrite.
    static constexpr qint64 maxFileBytes = 4 * 1024 * 1024;

    // Reads path. A missing file reads as an empty one and returns true. On failure (unreadable,
    // too large) the object is empty, refuses to save and errorString() says why.
    bool load(const QString &path);
    // Parses bytes as the contents of a file (the object is then unmodified).
    void setBytes(const QByteArray &bytes);
    QByteArray bytes() const;

    bool contains(const QString &group, const QString &key) const;
    // Number of lines that define the key in the group (more than one is a hand-edit slip).
    int occurrences(const QString &group, const QString &key) const;
    QString value(const QString &group, const QString &key, const QString &defaultValue = QString()) const;

    // Replaces the line that value() reads, or adds "key=value" after the last key of the group,
    // creating the group at the end when it is missing. Refuses (returns false) names and values
    // that cannot be written as one line.
    bool setValue(const QString &group, const QString &key, const QString &value);
    bool isModified() const { return m_modified; }

    // Writes the contents to path through a temporary file renamed over the old one, so a crash or
    // a full disk leaves the previous file intact. Does nothing when unmodified.
    bool save(const QString &path);

    // 1-based numbers of lines that are neither blank, comment, group nor key.
    QList<int> unrecognisedLines() const;
    QString errorString() const { return m_errorString; }

private:
    enum class Kind
    {
        Blank,
        Comment,
        Group,
        Key,
        Unrecognised
    };
    struct Line
    {
        QByteArray text;   // without the line ending
        QByteArray ending; // "\r\n", "\n", "\r" or empty on a last line without one
        Kind kind = Kind::Blank;
        QString name;  // group or key name as written
        QString value; // key lines only
    };

    Line parseLine(const QByteArray &text, const QByteArray &ending) const;
    QString decode(const QByteArray &bytes) const;
    QByteArray encode(const QString &text) const;
    qsizetype findKey(const QString &group, const QString &key) const;
    qsizetype findLastGroup(const QString &group) const;
    void ensureEnding(qsizetype index);

    QList<Line> m_lines;
    QByteArray m_byteOrderMark;
    QByteArray m_newline = QByteArrayLiteral("\r\n");
    QString m_errorString;
    bool m_utf8 = false;
    bool m_modified = false;
    bool m_loadFailed = false;
};
