#include "LogManager.h"

#include <cstring>

#include <QDateTime>

#include "Codec.h"
#include "LogRecordMessage.h"

namespace {

constexpr std::int32_t writeTimerKey = 1;
constexpr int writeIntervalMs = 3000;

const char *const categoryWords[] = {"Operation", "Security", "Common", "Debug", "Run"};

// "yyyy-MM-dd hh:mm:ss.zzz  " for now. Formatting a QDateTime per record is the costliest part
// of a log call, so each thread keeps the text of the current second and only adds milliseconds.
QByteArray timeStamp()
{
    thread_local qint64 cachedSecond = -1;
    thread_local QByteArray cachedText;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now / 1000;
    if (second != cachedSecond) {
        cachedSecond = second;
        cachedText = QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1();
    }
    const int millis = static_cast<int>(now % 1000);
    QByteArray stamp;
    stamp.reserve(cachedText.size() + 6);
    stamp += cachedText;
    stamp += '.';
    stamp += char('0' + millis / 100);
    stamp += char('0' + millis / 10 % 10);
    stamp += char('0' + millis % 10);
    stamp += "  ";
    return stamp;
}

} // namespace

LogManager::LogManager() = default;

LogManager::~LogManager() = default;

QString LogManager::banner()
{
    const QString line1 = QStringLiteral("=========  Kestrel run log  =========");
    const QString line2 = QStringLiteral("\t  Version: Kestrel V0.1 \r\n\t  Name: Kestrel \r\n\t  Build Time(") +
                          QStringLiteral(__DATE__ " " __TIME__) + QStringLiteral(")");
    const QString line3 = QStringLiteral("=======================  Records follow, newest last  =========================");
    return tr("%1\r\n%2\r\n%3\r\n").arg(line1, line2, line3);
}

bool LogManager::initialize()
{
    if (!VirtualManager::initialize())
        return false;
    registerMessageHandler(MSG_LOG_RECORD, &LogManager::onLogRecord);
    registerTimerHandler(writeTimerKey, &LogManager::onWriteTimer);
    for (std::size_t i = 0; i < m_channels.size(); ++i)
        m_channels[i].setUp(QString::fromLatin1(categoryWords[i]));
    m_mask.store(LogAll);
    return true;
}

bool LogManager::exit()
{
    if (!VirtualManager::exit())
        return false;
    unregisterMessageHandler(MSG_LOG_RECORD);
    unregisterTimerHandler(writeTimerKey);
    m_mask.store(0);
    return true;
}

bool LogManager::active()
{
    if (!VirtualManager::active())
        return false;
    startKeyTimer(writeTimerKey, writeIntervalMs, 0);
    return true;
}

bool LogManager::deactive()
{
    stopKeyTimer(writeTimerKey);
    return VirtualManager::deactive();
}

void LogManager::onThreadStarted(const MessageHeader *message)
{
    VirtualManager::onThreadStarted(message);
    // Every category's file exists from the start, not only after the first write-out.
    writeOutAll();
}

void LogManager::onThreadStopping(const MessageHeader *message)
{
    writeOutAll();
    VirtualManager::onThreadStopping(message);
}

bool LogManager::writeLog(int flag, const QString &text)
{
    const int masked = flag & m_mask.load(std::memory_order_relaxed);
    if (masked == 0)
        return false;

    const QByteArray bytes = Codec::toBytes(text);
    if (bytes.size() > maxRecordBytes) {
        writeCommonLog(tr("Log length limit exceeded, max length:%1, log length:%2, log Flag:%3")
                           .arg(maxRecordBytes)
                           .arg(bytes.size())
                           .arg(masked, 8, 16, QLatin1Char('0')));
    }

    LogRecordMessage record;
    record.header.size = sizeof(LogRecordMessage);
    record.header.id = MSG_LOG_RECORD;
    record.flag = masked;
    const QByteArray stamp = timeStamp();
    const qsizetype stampLength = std::min<qsizetype>(stamp.size(), maxRecordBytes);
    std::memcpy(record.text, stamp.constData(), static_cast<std::size_t>(stampLength));
    const qsizetype textLength = std::min<qsizetype>(bytes.size(), maxRecordBytes - stampLength);
    std::memcpy(record.text + stampLength, bytes.constData(), static_cast<std::size_t>(textLength));

    const bool accepted = postMessage(&record, sizeof(record));
    if (!accepted)
        m_refused.fetch_add(1, std::memory_order_relaxed);
    return accepted;
}

void LogManager::onLogRecord(const LogRecordMessage *message)
{
    const QString line = Codec::fromField(message->text, sizeof(message->text));
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        if (message->flag & (1 << i))
            m_channels[i].append(line);
    }
}

void LogManager::onWriteTimer(std::int32_t) { writeOutAll(); }

void LogManager::writeOutAll()
{
    for (LogChannel &channel : m_channels)
        channel.writeOut();
}
