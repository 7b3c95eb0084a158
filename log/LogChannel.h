#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QString>

// One category's files: Log/<Category>/<program>/<program>.<category>.log.NN, rotated before a
// file would pass 10 MiB, at most 10 kept, removed after 30 days. Used only on the log thread.
//
// Every file holds whole lines only: a write that stops short (a full disk) is cut back to the
// last whole record, and records that did not reach the file are counted and told in a record of
// their own ("LogManager dropped %1 records since %2") as soon as writing works again.
class LogChannel final
{
public:
    static constexpr qint64 fullFileBytes = 10 * 1024 * 1024;
    static constexpr int maxFiles = 10;
    static constexpr int maxAgeDays = 30;
    // Bytes of text after which the buffer is written at once.
    static constexpr qsizetype flushChars = 1024 * 1024;

    void setUp(const QString &category, const QString &applicationName = QString());

    // Appends one line (banner first on a new day); writes out when the buffer is large.
    void append(const QString &line, const QDate &today = QDate::currentDate());
    // The same for a line already in GBK; the log thread's path.
    void appendBytes(QByteArrayView line, const QDate &today);
    // Appends the buffer to the current file (the next one where it would pass fullFileBytes)
    // and clears it, also when empty.
    void writeOut();

    // Records of this category that never reached it; the count is told by the next record.
    void countLost(std::uint64_t records, const QDateTime &since);
    // Appends the record that tells the records lost so far, if there are any.
    void reportLost(const QDate &today = QDate::currentDate());
    // Lost records not yet told in a record that reached the file.
    std::uint64_t untoldLost() const;

    QString directory() const { return m_directory; }
    QString currentFile() const { return m_currentFile; }
    qsizetype bufferedChars() const { return m_buffer.size(); }

private:
    struct LossNote
    {
        qsizetype end = 0;
        std::uint64_t records = 0;
        QDateTime since;
    };

    void startDay(const QDate &today);
    void appendLossNote();
    // The furthest end of a record (or loss note) at or before offset, not before `from`.
    qsizetype lastBoundary(qsizetype from, qsizetype offset) const;
    // Everything in the buffer from offset on did not reach the file.
    void loseFrom(qsizetype offset);
    QString obtainCurrentFile(qint64 incoming);
    QString chooseNewName(qint64 incoming);
    QString fileName(int number) const;

    QString m_applicationName;
    QString m_directory;
    QString m_category;
    QDate m_currentDate;
    QByteArray m_buffer;
    // Where each record ends in the buffer; a banner belongs to the record after it.
    std::vector<qsizetype> m_recordEnds;
    std::vector<LossNote> m_lossNotes;
    std::uint64_t m_untold = 0;
    QDateTime m_untoldSince;
    QString m_currentFile;
    // A file whose last line could not be cut back after a short write; its next write starts
    // on a new line.
    QString m_openLineFile;
};
