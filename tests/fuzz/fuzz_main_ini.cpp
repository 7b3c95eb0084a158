// main.ini on arbitrary file contents: reading, the in-place writer, hex decoding, and the
// configuration manager's load that clamps numbers and seeds defaults back into the file.
//
// Input: byte 0 picks the group and key to write and, with its top two bits set, has the manager
// load the file too; byte 1 is the length of the value to write, then the value, then the file.
#include <cstdint>
#include <utility>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include "AppPaths.h"
#include "Codec.h"
#include "ConfigManager.h"
#include "FuzzSupport.h"
#include "IniFile.h"

namespace {

struct Name
{
    QString group;
    QString key;
};

// Group and key names as a hand-editor would see them; only used to pick names to look at, so
// being rougher than the reader costs nothing.
QList<Name> roughNames(const QByteArray &bytes)
{
    QList<Name> names;
    QString group;
    const QStringList lines = Codec::toText(bytes).split(QRegularExpression(QStringLiteral("[\r\n]")));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'[') && line.contains(u']')) {
            group = line.mid(1, line.lastIndexOf(u']') - 1).trimmed();
        } else if (const qsizetype equals = line.indexOf(u'='); equals > 0) {
            names.append({group, line.first(equals).trimmed()});
        }
        if (names.size() >= 32)
            break;
    }
    return names;
}

QString tempDir()
{
    static QTemporaryDir dir;
    return dir.path();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool hasLineBreak(QByteArrayView bytes)
{
    return bytes.contains('\n') || bytes.contains('\r');
}

void checkWriter(const QByteArray &content, const QString &group, const QString &key, const QString &value)
{
    IniFile ini;
    ini.setBytes(content);
    FUZZ_CHECK(ini.bytes() == content);
    FUZZ_CHECK(!ini.isModified());
    const QList<Name> names = roughNames(content);
    const QString absent = QStringLiteral("\x01absent");
    QStringList before;
    for (const Name &name : names) {
        before.append(ini.value(name.group, name.key, absent));
        FUZZ_CHECK(ini.contains(name.group, name.key) == (ini.occurrences(name.group, name.key) > 0));
    }

    if (!ini.setValue(group, key, value)) {
        FUZZ_CHECK(ini.bytes() == content);
        return;
    }
    const QByteArray after = ini.bytes();
    FUZZ_CHECK(ini.value(group, key) == value);

    // One key line replaced or added: what changed in the old bytes lies inside one line.
    qsizetype prefix = 0;
    while (prefix < content.size() && prefix < after.size() && content[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < content.size() - prefix && suffix < after.size() - prefix &&
           content[content.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    FUZZ_CHECK(!hasLineBreak(QByteArrayView(content).sliced(prefix, content.size() - prefix - suffix)));

    // The result reads back: the new value, and every other key as before.
    IniFile reread;
    reread.setBytes(after);
    FUZZ_CHECK(reread.bytes() == after);
    FUZZ_CHECK(reread.value(group, key) == value);
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i].group.compare(group, Qt::CaseInsensitive) == 0 &&
            names[i].key.compare(key, Qt::CaseInsensitive) == 0)
            continue;
        FUZZ_CHECK(reread.value(names[i].group, names[i].key, absent) == before[i]);
    }

    // Writing the value the key already has changes nothing, and save() then writes nothing.
    if (!ini.isModified()) {
        FUZZ_CHECK(after == content);
        return;
    }
    // And so does the file save() leaves.
    const QString path = tempDir() + QStringLiteral("/edited.ini");
    QFile::remove(path);
    FUZZ_CHECK(ini.save(path));
    FUZZ_CHECK(readFile(path) == after);
    IniFile loaded;
    FUZZ_CHECK(loaded.load(path));
    FUZZ_CHECK(loaded.value(group, key) == value);
}

void checkHex(const QString &text)
{
    const QString decoded = ConfigManager::hexDecode(text);
    FUZZ_CHECK(!decoded.contains(QChar(0)));
    // Text that survives the 8-bit encoding comes back from its hex form unchanged.
    if (Codec::toText(Codec::toBytes(decoded)) == decoded) {
        const QString hex = ConfigManager::hexEncode(decoded);
        FUZZ_CHECK(hex.size() % 2 == 0);
        for (QChar ch : hex)
            FUZZ_CHECK((ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f'));
        FUZZ_CHECK(ConfigManager::hexDecode(hex) == decoded);
    }
}

// A number the manager reads: what the file holds must be what it used, or, where the file holds
// no number (read as 0), 0 must be in range so that nothing needed writing back.
void checkNumber(const IniFile &ini, const QString &key, std::int32_t used, std::int32_t minimum,
                 std::int32_t maximum)
{
    FUZZ_CHECK(used >= minimum && used <= maximum);
    bool isNumber = false;
    const qlonglong number = ini.value(QStringLiteral("Basic"), key).toLongLong(&isNumber, 10);
    if (isNumber)
        FUZZ_CHECK(number == used);
    else
        FUZZ_CHECK(used == 0 && minimum <= 0);
}

void checkManager(const QByteArray &content)
{
    static bool pathsSet = false;
    if (!pathsSet) {
        QDir(tempDir()).mkpath(QStringLiteral("app/bin"));
        QDir(tempDir()).mkpath(QStringLiteral("app/Config"));
        AppPaths::setApplicationDirOverride(tempDir() + QStringLiteral("/app/bin"));
        pathsSet = true;
    }
    const QString path = ConfigManager::configFilePath();
    FUZZ_CHECK(writeFile(path, content));

    std::int32_t timeout = 0;
    bool closeDataPrinter = false;
    DocSetting setting;
    {
        ConfigManager manager;
        FUZZ_CHECK(manager.initialize());
        FUZZ_CHECK(manager.active());
        timeout = manager.queryDataTimeout();
        closeDataPrinter = manager.closeDataPrinter();
        setting = manager.docSetting();
        FUZZ_CHECK(manager.serialPortName().contains(QStringLiteral("%1")));
        manager.deactive();
        manager.exit();
    }
    FUZZ_CHECK(timeout >= 10 && timeout <= 3600);

    // Seeded and clamped values went back into the file, which reads back as what was used and
    // needs no further change: every key is there and every number is in range.
    IniFile ini;
    FUZZ_CHECK(ini.load(path));
    checkNumber(ini, QStringLiteral("QueryDataTimeout"), timeout, 10, 3600);
    checkNumber(ini, QStringLiteral("CloseDataPrinter"), closeDataPrinter ? 1 : 0, 0, 1);
    FUZZ_CHECK(ConfigManager::hexDecode(ini.value(QStringLiteral("Doc Setting"), QStringLiteral("Title"))) ==
               setting.title);
    const std::pair<QString, QStringList> keys[] = {
        {QStringLiteral("Basic"),
         {QStringLiteral("CloseDataPrinter"), QStringLiteral("QueryDataTimeout"), QStringLiteral("SaveDataProcess"),
          QStringLiteral("SerialPortName")}},
        {QStringLiteral("Test Info"),
         {QStringLiteral("Customer"), QStringLiteral("RegistrationNo"), QStringLiteral("BatteryModel"),
          QStringLiteral("Capacity")}},
        {QStringLiteral("Doc Setting"), {QStringLiteral("Title"), QStringLiteral("Header"), QStringLiteral("Footer")}},
    };
    for (const auto &[group, names] : keys) {
        for (const QString &key : names)
            FUZZ_CHECK(ini.contains(group, key));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzSupport::ensureApplication();
    if (size < 2)
        return 0;
    const unsigned selector = data[0];
    const std::size_t valueLength = std::min<std::size_t>(data[1], size - 2);
    const QByteArray valueBytes(reinterpret_cast<const char *>(data + 2), static_cast<qsizetype>(valueLength));
    const QByteArray content(reinterpret_cast<const char *>(data + 2 + valueLength),
                             static_cast<qsizetype>(size - 2 - valueLength));
    const QString value = Codec::toText(valueBytes);

    const QList<Name> names = roughNames(content);
    const Name fromFile = names.isEmpty() ? Name{QStringLiteral("Basic"), QStringLiteral("Extra")} : names.first();
    const QString groups[] = {QStringLiteral("Basic"), QStringLiteral("Doc Setting"), fromFile.group,
                              QStringLiteral("New Group")};
    const QString keys[] = {QStringLiteral("QueryDataTimeout"), QStringLiteral("Title"), fromFile.key,
                            QStringLiteral("NewKey")};
    checkWriter(content, groups[selector & 3], keys[(selector >> 2) & 3], value);
    checkHex(value);
    checkHex(Codec::toText(content));
    // The manager starts and stops a thread per load, which is slow: one input in four.
    if ((selector & 0xC0) == 0xC0)
        checkManager(content);
    return 0;
}
