#pragma once

#include <QDate>
#include <QString>

// One category's files: Log/<Category>/<program>/<program>.<category>.log.NN, rotated at 10 MiB,
// at most 10 kept, removed after 30 days. Used only on the log thread.
class LogChannel final
{
public:
    static constexpr qint64 fullFileBytes = 10 * 1024 * 1024;
    static constexpr int maxFiles = 10;
    static constexpr int maxAgeDays = 30;
    static constexpr qsizetype flushChars = 1024 * 1024;

    void setUp(const QString &category, const QString &applicationName = QString());

    // Appends one line (banner first on a new day); writes out when the buffer is large.
    void append(const QString &line, const QDate &today = QDate::currentDate());
    // Appends the buffer to the current file and clears it, also when empty.
    void writeOut();

    QString directory() const { return m_directory; }
    QString currentFile() const { return m_currentFile; }
    qsizetype bufferedChars() const { return m_buffer.size(); }

private:
    QString obtainCurrentFile();
    QString chooseNewName();
    QString fileName(int number) const;

    QString m_applicationName;
    QString m_directory;
    QString m_category;
    QDate m_currentDate;
    QString m_buffer;
    QString m_currentFile;
};
