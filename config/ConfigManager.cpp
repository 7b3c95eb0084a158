#include "ConfigManager.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#include "AppPaths.h"
#include "Codec.h"
#include "IniFile.h"
#include "Language.h"
#include "LogManager.h"

namespace {

constexpr std::int32_t reloadTimerKey = 1;
constexpr std::int32_t reloadIntervalMs = 3000;

// Values quoted in the run log are cut so that a garbage file cannot flood it.
constexpr qsizetype loggedValueChars = 64;

QString basicGroup()
{
    return QStringLiteral("Basic");
}
QString testInfoGroup()
{
    return QStringLiteral("Test Info");
}
QString docSettingGroup()
{
    return QStringLiteral("Doc Setting");
}
QString historyGroup()
{
    return QStringLiteral("History");
}

QString forLog(const QString &value)
{
    return value.size() > loggedValueChars ? value.left(loggedValueChars) + QStringLiteral("...") : value;
}

int hexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

bool isHexText(const QString &text)
{
    if (text.size() % 2 != 0)
        return false;
    for (QChar ch : text) {
        if (ch.unicode() >= 0x80 || hexDigit(static_cast<char>(ch.unicode())) < 0)
            return false;
    }
    return true;
}

std::uint32_t modifiedSeconds(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return 0;
    return static_cast<std::uint32_t>(info.lastModified().toSecsSinceEpoch());
}

} // namespace

ConfigManager::ConfigManager() = default;

ConfigManager::~ConfigManager() = default;

bool ConfigManager::initialize()
{
    if (!VirtualManager::initialize())
        return false;
    // The log singleton must exist before the reload check can log from this manager's thread.
    LogManager::instance();
    registerTimerHandler(reloadTimerKey, &ConfigManager::onReloadTimer);
    reportLeftoverWrites();
    return true;
}

void ConfigManager::reportLeftoverWrites() const
{
    // main.ini is replaced through a temporary file beside it ("main.ini." and six random
    // letters or digits) that is renamed over it. A program killed in the instant between the
    // two leaves that file behind. It is named, not removed: an operator's own "main.ini.backup"
    // has the same shape, and main.ini itself is whole either way.
    const QFileInfo ini(configFilePath());
    static const QRegularExpression leftover(
        QStringLiteral("^%1\\.[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(ini.fileName())));
    const QDir folder = ini.absoluteDir();
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden)) {
        if (leftover.match(name).hasMatch())
            writeRunLog(QStringLiteral("ConfigManager Possible Unfinished Write Kept, File:%1")
                            .arg(folder.filePath(name)));
    }
}

bool ConfigManager::exit()
{
    if (!VirtualManager::exit())
        return false;
    unregisterTimerHandler(reloadTimerKey);
    return true;
}

bool ConfigManager::active()
{
    const bool wasRunning = isRunning();
    if (!VirtualManager::active())
        return false;
    if (wasRunning)
        return true;
    if (!loadAll(nullptr))
        return false;
    startKeyTimer(reloadTimerKey, reloadIntervalMs, 0);
    return true;
}

bool ConfigManager::deactive()
{
    stopKeyTimer(reloadTimerKey);
    return VirtualManager::deactive();
}

QString ConfigManager::language() const
{
    const std::shared_lock locker(m_languageLock);
    return m_language;
}

QString ConfigManager::workstation() const
{
    const std::shared_lock locker(m_workstationLock);
    return m_workstation;
}

HistorySetting ConfigManager::historySetting() const
{
    const std::shared_lock locker(m_historySettingLock);
    return m_historySetting;
}

bool ConfigManager::closeDataPrinter() const
{
    const std::shared_lock locker(m_closeDataPrinterLock);
    return m_closeDataPrinter;
}

std::int32_t ConfigManager::queryDataTimeout() const
{
    const std::shared_lock locker(m_queryDataTimeoutLock);
    return m_queryDataTimeout;
}

QString ConfigManager::saveDataProcess() const
{
    const std::shared_lock locker(m_saveDataProcessLock);
    return m_saveDataProcess;
}

QString ConfigManager::serialPortName() const
{
    const std::shared_lock locker(m_serialPortNameLock);
    return m_serialPortName;
}

TestInfo ConfigManager::testInfo() const
{
    const std::shared_lock locker(m_testInfoLock);
    return m_testInfo;
}

DocSetting ConfigManager::docSetting() const
{
    const std::shared_lock locker(m_docSettingLock);
    return m_docSetting;
}

void ConfigManager::setTestInfo(const TestInfo &info)
{
    // The file lock is held until the value is stored, so a reload running on the manager's
    // thread cannot store the old file contents over the new value.
    const std::lock_guard fileLocker(m_fileLock);
    writeKeys(testInfoGroup(), {{QStringLiteral("Customer"), hexEncode(info.customer)},
                                {QStringLiteral("RegistrationNo"), hexEncode(info.registrationNo)},
                                {QStringLiteral("BatteryModel"), hexEncode(info.batteryModel)},
                                {QStringLiteral("Capacity"), hexEncode(info.capacity)}});
    const std::lock_guard locker(m_testInfoLock);
    m_testInfo = info;
}

void ConfigManager::setDocSetting(const DocSetting &setting)
{
    const std::lock_guard fileLocker(m_fileLock);
    writeKeys(docSettingGroup(), {{QStringLiteral("Title"), hexEncode(setting.title)},
                                  {QStringLiteral("Header"), hexEncode(setting.header)},
                                  {QStringLiteral("Footer"), hexEncode(setting.footer)}});
    const std::lock_guard locker(m_docSettingLock);
    m_docSetting = setting;
}

QString ConfigManager::lastSaveFolder() const
{
    const std::shared_lock locker(m_lastSaveFolderLock);
    return m_lastSaveFolder;
}

void ConfigManager::setLastSaveFolder(const QString &folder)
{
    const std::lock_guard fileLocker(m_fileLock);
    writeKeys(basicGroup(), {{QStringLiteral("LastSaveFolder"), hexEncode(folder)}});
    const std::lock_guard locker(m_lastSaveFolderLock);
    m_lastSaveFolder = folder;
}

QString ConfigManager::lastPrinter() const
{
    const std::shared_lock locker(m_lastPrintLock);
    return m_lastPrinter;
}

QString ConfigManager::lastPrintFolder() const
{
    const std::shared_lock locker(m_lastPrintLock);
    return m_lastPrintFolder;
}

void ConfigManager::setLastPrint(const QString &printer, const QString &fileFolder)
{
    const std::lock_guard fileLocker(m_fileLock);
    writeKeys(basicGroup(), {{QStringLiteral("LastPrinter"), hexEncode(printer)},
                             {QStringLiteral("LastPrintFolder"), hexEncode(fileFolder)}});
    const std::lock_guard locker(m_lastPrintLock);
    m_lastPrinter = printer;
    m_lastPrintFolder = fileFolder;
}

QString ConfigManager::configFilePath()
{
    return AppPaths::configDir() + QStringLiteral("/main.ini");
}

QString ConfigManager::defaultSerialPortName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1");
#else
    return QStringLiteral("/dev/ttyUSB%1");
#endif
}

QString ConfigManager::hexEncode(const QString &text)
{
    return QString::fromLatin1(Codec::toBytes(text).toHex());
}

QString ConfigManager::hexDecode(const QString &text)
{
    // Pairs from the start; a pair that does not start with a hex digit is a zero byte, an odd
    // last digit stands alone, and the text ends at the first zero byte.
    const QByteArray hex = Codec::toBytes(text);
    QByteArray bytes;
    bytes.reserve(hex.size() / 2 + 1);
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        int byte = hexDigit(hex.at(i));
        if (byte < 0)
            break;
        const int low = i + 1 < hex.size() ? hexDigit(hex.at(i + 1)) : -1;
        if (low >= 0)
            byte = byte * 16 + low;
        if (byte == 0)
            break;
        bytes.append(static_cast<char>(byte));
    }
    return Codec::toText(bytes);
}

bool ConfigManager::loadAll(bool *fileRead)
{
    const std::lock_guard fileLocker(m_fileLock);
    const QString path = configFilePath();
    IniFile ini;
    const bool loaded = ini.load(path);
    if (fileRead)
        *fileRead = loaded;
    if (!loaded) {
        if (!m_readFailing)
            writeRunLog(
                QStringLiteral("ConfigManager Read Failed, File:%1, Error:%2").arg(path, ini.errorString()));
        m_readFailing = true;
        // Values already loaded are better than defaults while the file is unreadable.
        if (m_valuesLoaded)
            return true;
    } else {
        m_readFailing = false;
        const QList<int> unrecognised = ini.unrecognisedLines();
        if (!unrecognised.isEmpty())
            writeRunLog(
                QStringLiteral("ConfigManager Ignored Lines, File:%1, Count:%2, First Line:%3")
                    .arg(path, QString::number(unrecognised.size()), QString::number(unrecognised.first())));
    }

    bool ok = true;
    if (!activeBasic(ini)) {
        writeRunLog(QStringLiteral("Failed to activeBasic"));
        ok = false;
    } else if (!activeTestInfo(ini)) {
        writeRunLog(QStringLiteral("Failed to activeTestInfo"));
        ok = false;
    } else if (!activeDocSetting(ini)) {
        writeRunLog(QStringLiteral("Failed to activeDocSetting"));
        ok = false;
    } else if (!activeHistory(ini)) {
        writeRunLog(QStringLiteral("Failed to activeHistory"));
        ok = false;
    }
    m_valuesLoaded = true;

    // Defaults and clamped numbers go to the file in one atomic write.
    if (loaded && ini.isModified() && !ini.save(path))
        writeRunLog(
            QStringLiteral("ConfigManager Write Failed, File:%1, Error:%2").arg(path, ini.errorString()));
    return ok;
}

bool ConfigManager::activeBasic(IniFile &ini)
{
    const bool closeDataPrinter =
        readInt(ini, basicGroup(), QStringLiteral("CloseDataPrinter"), 0, 0, 1) != 0;
    const std::int32_t queryDataTimeout =
        readInt(ini, basicGroup(), QStringLiteral("QueryDataTimeout"), 10, 10, 3600);
    const QString saveDataProcess =
        readString(ini, basicGroup(), QStringLiteral("SaveDataProcess"), QString());
    QString serialPortName =
        readString(ini, basicGroup(), QStringLiteral("SerialPortName"), defaultSerialPortName());
    QString workstation = readOptional(ini, basicGroup(), QStringLiteral("Workstation"), QString()).trimmed();
    if (workstation.isEmpty())
        workstation = QSysInfo::machineHostName();
    const QString languageText = readOptional(ini, basicGroup(), QStringLiteral("Language"),
                                              QString::fromUtf16(Language::systemSetting));
    const std::optional<QString> language = Language::normalizedSetting(languageText);
    if (!language)
        writeRunLog(QStringLiteral("ConfigManager Bad Language, Value:%1, Used:%2")
                        .arg(forLog(languageText), QString::fromUtf16(Language::systemSetting)));
    if (serialPortName.isEmpty() || !serialPortName.contains(QStringLiteral("%1"))) {
        // Without "%1" every port number would name the same device.
        writeRunLog(QStringLiteral("ConfigManager Bad SerialPortName, Value:%1, Used:%2")
                        .arg(forLog(serialPortName), defaultSerialPortName()));
        serialPortName = defaultSerialPortName();
    }

    {
        const std::lock_guard locker(m_closeDataPrinterLock);
        m_closeDataPrinter = closeDataPrinter;
    }
    {
        const std::lock_guard locker(m_queryDataTimeoutLock);
        m_queryDataTimeout = queryDataTimeout;
    }
    {
        const std::lock_guard locker(m_saveDataProcessLock);
        m_saveDataProcess = saveDataProcess;
    }
    {
        const std::lock_guard locker(m_serialPortNameLock);
        m_serialPortName = serialPortName;
    }
    // Written by the first save, not seeded: a main.ini that never saved a document stays as it was.
    const QString lastSaveFolder = ini.occurrences(basicGroup(), QStringLiteral("LastSaveFolder")) > 0
                                       ? readHex(ini, basicGroup(), QStringLiteral("LastSaveFolder"))
                                       : QString();
    {
        const std::lock_guard locker(m_lastSaveFolderLock);
        m_lastSaveFolder = lastSaveFolder;
    }
    // Written by the first print, likewise.
    const auto optionalHex = [this, &ini](const QString &key) {
        return ini.occurrences(basicGroup(), key) > 0 ? readHex(ini, basicGroup(), key) : QString();
    };
    {
        const QString printer = optionalHex(QStringLiteral("LastPrinter"));
        const QString printFolder = optionalHex(QStringLiteral("LastPrintFolder"));
        const std::lock_guard locker(m_lastPrintLock);
        m_lastPrinter = printer;
        m_lastPrintFolder = printFolder;
    }
    {
        const std::lock_guard locker(m_workstationLock);
        m_workstation = workstation;
    }
    {
        const std::lock_guard locker(m_languageLock);
        m_language = language.value_or(QString::fromUtf16(Language::systemSetting));
    }
    return true;
}

bool ConfigManager::activeHistory(IniFile &ini)
{
    HistorySetting setting;
    QString driver =
        readOptional(ini, historyGroup(), QStringLiteral("Driver"), setting.driver).trimmed().toUpper();
    if (driver != QLatin1String("QSQLITE") && driver != QLatin1String("QPSQL")) {
        writeRunLog(QStringLiteral("ConfigManager Bad History Driver, Value:%1, Used:%2")
                        .arg(forLog(driver), setting.driver));
        driver = setting.driver;
    }
    setting.driver = driver;
    setting.host = readOptional(ini, historyGroup(), QStringLiteral("Host"), QString()).trimmed();
    const QString portText =
        readOptional(ini, historyGroup(), QStringLiteral("Port"), QString::number(setting.port));
    bool isNumber = false;
    const int port = portText.trimmed().toInt(&isNumber);
    if (isNumber && port >= 1 && port <= 65535)
        setting.port = port;
    else
        writeRunLog(QStringLiteral("ConfigManager Out Of Range, Group:%1, Key:%2, Value:%3, Used:%4")
                        .arg(historyGroup(), QStringLiteral("Port"), forLog(portText),
                             QString::number(setting.port)));
    setting.database =
        readOptional(ini, historyGroup(), QStringLiteral("Database"), QStringLiteral("kestrel")).trimmed();
    setting.user = readOptional(ini, historyGroup(), QStringLiteral("User"), QString()).trimmed();
    const std::lock_guard locker(m_historySettingLock);
    m_historySetting = setting;
    return true;
}

bool ConfigManager::activeTestInfo(IniFile &ini)
{
    TestInfo info;
    info.customer = readHex(ini, testInfoGroup(), QStringLiteral("Customer"));
    info.registrationNo = readHex(ini, testInfoGroup(), QStringLiteral("RegistrationNo"));
    info.batteryModel = readHex(ini, testInfoGroup(), QStringLiteral("BatteryModel"));
    info.capacity = readHex(ini, testInfoGroup(), QStringLiteral("Capacity"));
    const std::lock_guard locker(m_testInfoLock);
    m_testInfo = info;
    return true;
}

bool ConfigManager::activeDocSetting(IniFile &ini)
{
    DocSetting setting;
    setting.title = readHex(ini, docSettingGroup(), QStringLiteral("Title"));
    setting.header = readHex(ini, docSettingGroup(), QStringLiteral("Header"));
    setting.footer = readHex(ini, docSettingGroup(), QStringLiteral("Footer"));
    const std::lock_guard locker(m_docSettingLock);
    m_docSetting = setting;
    return true;
}

QString ConfigManager::readOptional(IniFile &ini, const QString &group, const QString &key,
                                    const QString &defaultValue)
{
    // Keys added after main.ini's first release are not seeded: an existing file stays as it is,
    // and the shipped main.ini and the README name them.
    return ini.occurrences(group, key) == 0 ? defaultValue : readString(ini, group, key, defaultValue);
}

QString ConfigManager::readString(IniFile &ini, const QString &group, const QString &key,
                                  const QString &defaultValue)
{
    const int count = ini.occurrences(group, key);
    if (count == 0) {
        // Seeding: the first activation fills main.ini with every key.
        ini.setValue(group, key, defaultValue);
        return defaultValue;
    }
    if (count > 1)
        writeRunLog(QStringLiteral("ConfigManager Duplicate Key, Group:%1, Key:%2, Count:%3, Used:last")
                        .arg(group, key, QString::number(count)));
    return ini.value(group, key);
}

std::int32_t ConfigManager::readInt(IniFile &ini, const QString &group, const QString &key,
                                    std::int32_t defaultValue, std::int32_t minimum, std::int32_t maximum)
{
    const QString text = readString(ini, group, key, QStringLiteral("%1").arg(defaultValue));
    bool isNumber = false;
    qlonglong number = text.toLongLong(&isNumber, 10);
    if (!isNumber) {
        writeRunLog(QStringLiteral("ConfigManager Not A Number, Group:%1, Key:%2, Value:%3, Read As:0")
                        .arg(group, key, forLog(text)));
        number = 0;
    }
    if (minimum > maximum)
        std::swap(minimum, maximum);
    const std::int32_t clamped = static_cast<std::int32_t>(std::clamp<qlonglong>(number, minimum, maximum));
    if (clamped != number) {
        writeRunLog(QStringLiteral("ConfigManager Out Of Range, Group:%1, Key:%2, Value:%3, Used:%4")
                        .arg(group, key, forLog(text), QString::number(clamped)));
        ini.setValue(group, key, QString::number(clamped));
    }
    return clamped;
}

QString ConfigManager::readHex(IniFile &ini, const QString &group, const QString &key)
{
    const QString text = readString(ini, group, key, QString());
    if (!isHexText(text))
        writeRunLog(QStringLiteral("ConfigManager Bad Hex Text, Group:%1, Key:%2, Value:%3")
                        .arg(group, key, forLog(text)));
    return hexDecode(text);
}

void ConfigManager::writeKeys(const QString &group, const QList<std::pair<QString, QString>> &keys)
{
    const QString path = configFilePath();
    IniFile ini;
    if (!ini.load(path)) {
        writeRunLog(
            QStringLiteral("ConfigManager Write Failed, File:%1, Error:%2").arg(path, ini.errorString()));
        return;
    }
    for (const auto &[key, value] : keys)
        ini.setValue(group, key, value);
    if (!ini.save(path))
        writeRunLog(
            QStringLiteral("ConfigManager Write Failed, File:%1, Error:%2").arg(path, ini.errorString()));
}

void ConfigManager::onReloadTimer(std::int32_t)
{
    const std::uint32_t modified = modifiedSeconds(configFilePath());
    if (modified == m_lastModified)
        return;
    m_lastModified = modified;
    bool fileRead = false;
    loadAll(&fileRead);
    // An unreadable file is tried again at the next check.
    if (!fileRead)
        m_lastModified = 0;
}

void ConfigManager::writeRunLog(const QString &text) const
{
    LogManager::instance()->writeRunLog(text);
}
