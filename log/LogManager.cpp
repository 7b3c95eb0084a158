#include "LogManager.h"

#include <cstring>

#include <QDateTime>

#include "Codec.h"
#include "LogRecordMessage.h"

namespace {

constexpr std::int32_t writeTimerKey = 1;
constexpr int writeIntervalMs = 3000;

const char *const categoryWords[] = {"Operation", "Security", "Common", "Debug", "Run"};

constexpr qsizetype stampLength = 25; // "yyyy-MM-dd hh:mm:ss.zzz  "

// Writes the time stamp of now into out. Formatting a QDateTime per record was the costliest part
// of a log call, so each thread keeps the text of the current second and only adds milliseconds.
void writeTimeStamp(char *out)
{
    thread_local qint64 cachedSecond = -1;
    thread_local char cachedText[20];
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now / 1000;
    if (second != cachedSecond) {
        cachedSecond = second;
        const QByteArray text =
            QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1();
        std::memset(cachedText, ' ', sizeof(cachedText));
        std::memcpy(cachedText, text.constData(), std::min<std::size_t>(19, std::size_t(text.size())));
    }
    const int millis = static_cast<int>(now % 1000);
    std::memcpy(out, cachedText, 19);
    out[19] = '.';
    out[20] = char('0' + millis / 100);
    out[21] = char('0' + millis / 10 % 10);
    out[22] = char('0' + millis % 10);
    out[23] = ' ';
    out[24] = ' ';
}

// Control characters other than tab, including the Unicode line and paragraph separators: each
// record is one line, so none of these may reach a file as they are.
bool needsEscape(char16_t c)
{
    return (c < 0x20 && c != u'\t') || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029;
}

// The text with every such character written visibly ("\r", "\n", "\x07", "\u2028"), so that
// text from a peer, a device or a file can never forge further lines.
QString printable(const QString &text)
{
    QString result;
    result.reserve(text.size() + 16);
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (!needsEscape(c))
            result.append(ch);
        else if (c == u'\r')
            result.append(QLatin1String("\\r"));
        else if (c == u'\n')
            result.append(QLatin1String("\\n"));
        else if (c <= 0xff)
            result.append(QStringLiteral("\\x%1").arg(int(c), 2, 16, QLatin1Char('0')));
        else
            result.append(QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0')));
    }
    return result;
}

// Copies plain ASCII text straight into the record; returns -1 when the text needs the codec or
// holds characters to escape.
qsizetype copyAscii(const QString &text, char *out, qsizetype room)
{
    const QChar *chars = text.constData();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i)
        if (chars[i].unicode() >= 0x7f || needsEscape(chars[i].unicode()))
            return -1;
    const qsizetype copied = std::min(size, room);
    for (qsizetype i = 0; i < copied; ++i)
        out[i] = static_cast<char>(chars[i].unicode());
    return size;
}

// Today's date, recomputed only when the local day may have changed.
QDate today()
{
    thread_local qint64 validUntil = 0;
    thread_local QDate cached;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now >= validUntil || !cached.isValid()) {
        const QDateTime current = QDateTime::fromMSecsSinceEpoch(now);
        cached = current.date();
        // Checked again at the next local midnight, and at least once a minute for clock changes.
        validUntil = std::min(QDateTime(cached.addDays(1), QTime(0, 0)).toMSecsSinceEpoch(), now + 60000);
    }
    return cached;
}

} // namespace

LogManager::LogManager() = default;

LogManager::~LogManager() = default;

QString LogManager::banner()
{
    const QString line1 = QStringLiteral("=========  Kestrel run log  =========");
    const QString line2 = QStringLiteral("\t  Version: Kestrel V" KESTREL_VERSION
                                         " \r\n\t  Name: Kestrel \r\n\t  Build Time(") +
                          QStringLiteral(__DATE__ " " __TIME__) + QStringLiteral(")");
    const QString line3 =
        QStringLiteral("=======================  Records follow, newest last  =========================");
    return QStringLiteral("%1\r\n%2\r\n%3\r\n").arg(line1, line2, line3);
}

bool LogManager::initialize()
{
    if (!VirtualManager::initialize())
        return false;
    registerMessageHandler(MSG_LOG_RECORD, &LogManager::onLogRecord);
    registerMessageHandler(MSG_LOG_DRAIN, &LogManager::onLogDrain);
    registerMessageHandler(MSG_LOG_WRITE_OUT, &LogManager::onWriteOut);
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
    unregisterMessageHandler(MSG_LOG_DRAIN);
    unregisterMessageHandler(MSG_LOG_WRITE_OUT);
    unregisterTimerHandler(writeTimerKey);
    m_mask.store(0);
    return true;
}

bool LogManager::active()
{
    if (!VirtualManager::active())
        return false;
    {
        std::lock_guard locker(m_queueLock);
        m_queueOpen = true;
    }
    startKeyTimer(writeTimerKey, writeIntervalMs, 0);
    return true;
}

bool LogManager::deactive()
{
    stopKeyTimer(writeTimerKey);
    {
        // Closed before the stop message is queued: every accepted record is drained by
        // onThreadStopping, none can arrive after it.
        std::lock_guard locker(m_queueLock);
        m_queueOpen = false;
    }
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
    drainQueue();
    writeOutAll();
    VirtualManager::onThreadStopping(message);
}

bool LogManager::writeLog(int flag, const QString &text)
{
    const int masked = flag & m_mask.load(std::memory_order_relaxed);
    if (masked == 0)
        return false;

    LogRecordMessage record;
    record.header.size = sizeof(LogRecordMessage);
    record.header.id = MSG_LOG_RECORD;
    record.flag = masked;
    writeTimeStamp(record.text);
    constexpr qsizetype room = maxRecordBytes - stampLength;
    qsizetype byteLength = copyAscii(text, record.text + stampLength, room);
    if (byteLength < 0) {
        const QByteArray bytes = Codec::toBytes(printable(text));
        byteLength = bytes.size();
        std::memcpy(record.text + stampLength, bytes.constData(), std::size_t(std::min(byteLength, room)));
    }
    if (byteLength > maxRecordBytes) {
        writeCommonLog(QStringLiteral("Log length limit exceeded, max length:%1, log length:%2, log Flag:%3")
                           .arg(maxRecordBytes)
                           .arg(byteLength)
                           .arg(masked, 8, 16, QLatin1Char('0')));
    }

    bool wake = false;
    {
        std::lock_guard locker(m_queueLock);
        if (!m_queueOpen || m_queue.size() >= maxPendingMessages()) {
            m_refused.fetch_add(1, std::memory_order_relaxed);
            if (m_queueOpen) {
                bool first = true;
                for (std::size_t i = 0; i < m_lost.size(); ++i) {
                    first = first && m_lost[i] == 0;
                    if (masked & (1 << i))
                        ++m_lost[i];
                }
                if (first)
                    m_lostSinceMs = QDateTime::currentMSecsSinceEpoch();
            }
            return false;
        }
        m_queue.push_back(record);
        wake = !m_drainPosted;
        m_drainPosted = true;
    }
    if (wake) {
        const MessageHeader drain{sizeof(MessageHeader), MSG_LOG_DRAIN};
        if (!postMessage(&drain, sizeof(drain))) {
            // The record stays queued: the next wake-up or the stop drains it.
            std::lock_guard locker(m_queueLock);
            m_drainPosted = false;
        }
    }
    return true;
}

std::size_t LogManager::queuedRecords() const
{
    std::lock_guard locker(m_queueLock);
    return m_queue.size();
}

void LogManager::onLogDrain(const MessageHeader *)
{
    drainQueue();
}

bool LogManager::requestWriteOut()
{
    const MessageHeader request{sizeof(MessageHeader), MSG_LOG_WRITE_OUT};
    return postMessage(&request, sizeof(request));
}

void LogManager::onWriteOut(const MessageHeader *)
{
    drainQueue();
    writeOutAll();
}

void LogManager::drainQueue()
{
    std::array<std::uint64_t, 5> lost{};
    qint64 lostSinceMs = 0;
    {
        std::lock_guard locker(m_queueLock);
        m_batch.swap(m_queue);
        m_drainPosted = false;
        lost.swap(m_lost);
        lostSinceMs = m_lostSinceMs;
    }
    for (const LogRecordMessage &record : m_batch)
        onLogRecord(&record);
    m_batch.clear();
    // The records refused came after every record of this batch and before any later one.
    const QDateTime since = QDateTime::fromMSecsSinceEpoch(lostSinceMs);
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        if (lost[i] > 0) {
            m_channels[i].countLost(lost[i], since);
            m_channels[i].reportLost(today());
        }
    }
}

namespace {

// The record's bytes up to its zero; a double-byte character cut in two at the limit loses its
// first half, so that no file holds half a character.
QByteArrayView recordBytes(const LogRecordMessage &message)
{
    const qsizetype length = qsizetype(qstrnlen(message.text, sizeof(message.text)));
    if (length < LogManager::maxRecordBytes || !Codec::isGbk())
        return QByteArrayView(message.text, length);
    qsizetype i = 0;
    while (i < length)
        i += static_cast<unsigned char>(message.text[i]) >= 0x81 ? 2 : 1;
    return QByteArrayView(message.text, i > length ? length - 1 : length);
}

} // namespace

void LogManager::onLogRecord(const LogRecordMessage *message)
{
    const QByteArrayView line = recordBytes(*message);
    const QDate date = today();
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        if (message->flag & (1 << i))
            m_channels[i].appendBytes(line, date);
    }
}

void LogManager::onWriteTimer(std::int32_t)
{
    writeOutAll();
}

void LogManager::writeOutAll()
{
    for (LogChannel &channel : m_channels)
        channel.writeOut();
}
