#include "LogChannel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "AppPaths.h"
#include "Codec.h"
#include "LogManager.h"

void LogChannel::setUp(const QString &category, const QString &applicationName)
{
    m_category = category;
    m_applicationName = applicationName.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
                                                  : applicationName;
    m_directory = AppPaths::logDir() + QLatin1Char('/') + m_category + QLatin1Char('/') + m_applicationName;
    m_currentDate = QDate();
    m_buffer.clear();
    m_currentFile.clear();
    QDir().mkpath(m_directory);
}

void LogChannel::append(const QString &line, const QDate &today)
{
    if (today != m_currentDate) {
        m_currentDate = today;
        const QString file = obtainCurrentFile();
        // Text still in the buffer counts as file content: a new day's banner gets its blank line.
        if (QFileInfo(file).size() > 0 || !m_buffer.isEmpty())
            m_buffer += QStringLiteral("\r\n");
        m_buffer += LogManager::banner();
    }
    m_buffer += line;
    m_buffer += QStringLiteral("\r\n");
    if (m_buffer.size() >= flushChars)
        writeOut();
}

void LogChannel::writeOut()
{
    QDir().mkpath(m_directory);
    QFile file(obtainCurrentFile());
    // A failed write loses the text: the log must never grow without bound or stall its thread.
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(Codec::toBytes(m_buffer));
    m_buffer.clear();
}

QString LogChannel::fileName(int number) const
{
    return QStringLiteral("%1/%2.%3.log.%4")
        .arg(m_directory, m_applicationName.toLower(), m_category.toLower())
        .arg(number, 2, 10, QLatin1Char('0'));
}

QString LogChannel::obtainCurrentFile()
{
    if (m_currentFile.isEmpty() || QFileInfo(m_currentFile).size() >= fullFileBytes)
        m_currentFile = chooseNewName();
    return m_currentFile;
}

QString LogChannel::chooseNewName()
{
    const QRegularExpression pattern(QStringLiteral("^%1\\.%2\\.log\\.\\d{2}$")
                                         .arg(QRegularExpression::escape(m_applicationName.toLower()),
                                              QRegularExpression::escape(m_category.toLower())));
    const QDir dir(m_directory);
    const auto list = [&dir] { return dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name); };

    const QDateTime now = QDateTime::currentDateTime();
    for (const QFileInfo &info : list()) {
        if (!pattern.match(info.fileName()).hasMatch() || info.lastModified().addDays(maxAgeDays) <= now)
            QFile::remove(info.absoluteFilePath());
    }

    QFileInfoList files = list();
    if (files.size() >= maxFiles) {
        qsizetype surplus = files.size() - maxFiles;
        if (files.last().size() >= fullFileBytes)
            ++surplus;
        for (qsizetype i = 0; i < surplus; ++i)
            QFile::remove(files.at(i).absoluteFilePath());
    }

    files = list();
    int number = 1;
    for (const QFileInfo &info : files) {
        const QString target = fileName(number++);
        if (info.absoluteFilePath() != QFileInfo(target).absoluteFilePath())
            QFile::rename(info.absoluteFilePath(), target);
    }

    files = list();
    int next = static_cast<int>(files.size());
    if (files.isEmpty() || files.last().size() >= fullFileBytes)
        ++next;
    return fileName(next);
}
