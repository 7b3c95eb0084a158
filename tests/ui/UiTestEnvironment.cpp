#include "UiTestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include "Codec.h"
#include "ConfigManager.h"
#include "LogManager.h"

UiTestEnvironment::UiTestEnvironment(const QStringList &basicKeys, const QByteArray &extraIni)
{
    if (!m_dir.isValid())
        return;
    QDir().mkpath(m_dir.path(QStringLiteral("dev")));
    QByteArray ini = "[Basic]\r\n";
    ini += "SerialPortName=" + Codec::toBytes(m_dir.path(QStringLiteral("dev/tty%1"))) + "\r\n";
    for (const QString &line : basicKeys)
        ini += Codec::toBytes(line) + "\r\n";
    ini += extraIni;
    m_dir.writeFile(QStringLiteral("Config/main.ini"), ini);

    m_logRunning = LogManager::instance()->initialize() && LogManager::instance()->active();
    m_ready = m_logRunning && ConfigManager::instance()->initialize() && ConfigManager::instance()->active();
}

UiTestEnvironment::~UiTestEnvironment()
{
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    if (m_logRunning) {
        LogManager::instance()->deactive();
        LogManager::instance()->exit();
    }
}

QString UiTestEnvironment::portPath(int portNumber) const
{
    return m_dir.path(QStringLiteral("dev/tty%1").arg(portNumber));
}

QStringList UiTestEnvironment::pictureNames()
{
    QStringList names = {"USB",       "Customer",  "BatteryModel", "Date",    "RegistrationNo", "Capacity",
                         "AddReport", "DocHeader", "QueryData",    "Printer", "SaveAs",         "Cancel",
                         "Title",     "Header",    "Footer",       "1-4"};
    for (int section = 1; section <= 6; ++section)
        for (int picture = 0; picture <= 2; ++picture)
            names << QStringLiteral("%1-%2").arg(section).arg(picture);
    for (QString &name : names)
        name += QStringLiteral(".png");
    return names;
}

QColor UiTestEnvironment::pictureColour(const QString &fileName, const QString &language)
{
    // Opaque, and far from black so that drawn text and lines never look like a picture. The
    // pictures of a language are a paler tone of the same hues.
    const int index = static_cast<int>(pictureNames().indexOf(fileName));
    return QColor(QColor::fromHsv((index * 360 / 40) % 360, language.isEmpty() ? 255 : 110, 230).rgb());
}

void UiTestEnvironment::writePictures(const QSize &size, const QString &language)
{
    const QString folder =
        language.isEmpty() ? QStringLiteral("Image/") : QStringLiteral("Image/%1/").arg(language);
    QDir().mkpath(m_dir.path(folder));
    for (const QString &name : pictureNames()) {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(pictureColour(name, language));
        image.save(m_dir.path(folder + name));
    }
}

QStringList UiTestEnvironment::runLogLines()
{
    if (m_logRunning) {
        LogManager::instance()->deactive();
        LogManager::instance()->exit();
        m_logRunning = false;
    }
    return m_dir.logLines(QStringLiteral("Run"));
}

QString UiTestEnvironment::iniValue(const QString &group, const QString &key, bool *present) const
{
    const QString text = Codec::toText(m_dir.readFile(QStringLiteral("Config/main.ini")));
    QString current;
    if (present)
        *present = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = line.mid(1, line.size() - 2);
            continue;
        }
        if (current != group || !line.startsWith(key + QLatin1Char('=')))
            continue;
        if (present)
            *present = true;
        return ConfigManager::hexDecode(line.mid(key.size() + 1));
    }
    return QString();
}

bool RecordingReceiver::postMessage(const void *message, std::uint32_t length)
{
    if (refuse)
        return false;
    messages.append(QByteArray(static_cast<const char *>(message), length));
    return true;
}

TestRecord fullTestRecord()
{
    TestRecord record{};
    record.testDate = makeTestDate();
    record.testDate.year = 2026;
    record.testDate.month = 3;
    record.testDate.day = 7;
    record.battery = makeBatteryResult();
    record.battery.status = 4;
    record.battery.voltage = 1199;
    record.battery.measuredRating = 640;
    record.battery.ratingStandard = 1;
    record.battery.resistance = 458;
    record.battery.percent = 40;
    record.grounding = makeGroundingResult();
    record.grounding.status = 2;
    record.grounding.resistance = 3001;
    record.starter = makeStarterResult();
    record.starter.status = 1;
    record.starter.crankingVoltage = 1043;
    record.charging3K = makeCharging3KResult();
    record.charging3K.status = 3;
    record.charging3K.highVoltage = 1400;
    record.charging3K.lowVoltage = 1331;
    record.charging2K = makeCharging2KResult();
    record.charging2K.status = 1;
    record.charging2K.highVoltage = 1400;
    record.charging2K.lowVoltage = 1300;
    record.avg2K = makeAvg2KResult();
    record.avg2K.status = 2;
    record.avg2K.voltage = 12;
    return record;
}
