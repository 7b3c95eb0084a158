#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include <QList>
#include <QString>

#include "DocSetting.h"
#include "HistorySetting.h"
#include "Singleton.h"
#include "TestInfo.h"
#include "VirtualManager.h"

class IniFile;

// Owns main.ini: a typed, lock-protected copy of its values, reloaded when the file changes
// (checked every 3 s), defaults seeded and out-of-range numbers written back.
class ConfigManager final : public VirtualManager, public Singleton<ConfigManager>
{
    Q_OBJECT

public:
    ConfigManager();
    ~ConfigManager() override;

    bool initialize() override;
    bool exit() override;
    bool active() override;
    bool deactive() override;

    // Any thread; each returns a copy taken under the value's own read lock.
    bool closeDataPrinter() const;
    std::int32_t queryDataTimeout() const;
    QString saveDataProcess() const;
    // Pattern that turns a port number into a device name; "%1" is the number.
    QString serialPortName() const;
    TestInfo testInfo() const;
    DocSetting docSetting() const;
    // The folder of the last document saved (Basic/LastSaveFolder; empty before the first save).
    QString lastSaveFolder() const;
    // Where the last print went: the printer's name (Basic/LastPrinter) and, when it went to a file,
    // that file's folder (Basic/LastPrintFolder, empty after a print on paper). Empty before the
    // first print.
    QString lastPrinter() const;
    QString lastPrintFolder() const;
    // Basic/Workstation: the name each kept test carries; the host name when the key is empty.
    QString workstation() const;
    // Basic/Language in its written form: "system" (also for a missing or unknown value), "en" or
    // "zh_CN" (see Language).
    QString language() const;
    // The "History" group: where kept tests go.
    HistorySetting historySetting() const;

    // GUI thread: write the group's keys to main.ini, then store the value.
    void setTestInfo(const TestInfo &info);
    void setDocSetting(const DocSetting &setting);
    void setLastSaveFolder(const QString &folder);
    void setLastPrint(const QString &printer, const QString &fileFolder);

    static QString configFilePath();
    static QString defaultSerialPortName();

    static QString hexEncode(const QString &text);
    static QString hexDecode(const QString &text);

private:
    // Reads main.ini once and runs the three loaders on it, then writes seeded defaults and
    // clamped numbers back in one go. fileRead (optional) tells whether the file could be read.
    bool loadAll(bool *fileRead);
    bool activeBasic(IniFile &ini);
    bool activeTestInfo(IniFile &ini);
    bool activeDocSetting(IniFile &ini);
    bool activeHistory(IniFile &ini);
    QString readString(IniFile &ini, const QString &group, const QString &key, const QString &defaultValue);
    QString readOptional(IniFile &ini, const QString &group, const QString &key, const QString &defaultValue);
    std::int32_t readInt(IniFile &ini, const QString &group, const QString &key, std::int32_t defaultValue,
                         std::int32_t minimum, std::int32_t maximum);
    QString readHex(IniFile &ini, const QString &group, const QString &key);
    void writeKeys(const QString &group, const QList<std::pair<QString, QString>> &keys);
    void onReloadTimer(std::int32_t key);
    void reportLeftoverWrites() const;
    void writeRunLog(const QString &text) const;

    // Serialises every read-modify-write of main.ini and the store that follows it (setters on
    // the GUI thread, reloads on this manager's thread). Taken before any value lock.
    std::mutex m_fileLock;
    bool m_valuesLoaded = false; // guarded by m_fileLock
    bool m_readFailing = false;  // guarded by m_fileLock

    // One read-write lock per value. Standard ones rather than Qt's: ThreadSanitizer can see
    // the order they impose, which it cannot inside Debian's uninstrumented Qt.
    mutable std::shared_mutex m_closeDataPrinterLock;
    bool m_closeDataPrinter = false;
    mutable std::shared_mutex m_queryDataTimeoutLock;
    std::int32_t m_queryDataTimeout = 0;
    mutable std::shared_mutex m_testInfoLock;
    TestInfo m_testInfo;
    mutable std::shared_mutex m_docSettingLock;
    DocSetting m_docSetting;
    mutable std::shared_mutex m_saveDataProcessLock;
    QString m_saveDataProcess;
    mutable std::shared_mutex m_serialPortNameLock;
    QString m_serialPortName;
    mutable std::shared_mutex m_lastSaveFolderLock;
    QString m_lastSaveFolder;
    mutable std::shared_mutex m_lastPrintLock;
    QString m_lastPrinter;
    QString m_lastPrintFolder;
    mutable std::shared_mutex m_workstationLock;
    QString m_workstation;
    mutable std::shared_mutex m_languageLock;
    QString m_language;
    mutable std::shared_mutex m_historySettingLock;
    HistorySetting m_historySetting;
    // Last-modified time of main.ini in whole seconds, as seen by the last reload check
    // (0 before the first one); used on this manager's thread only.
    std::uint32_t m_lastModified = 0;
};
