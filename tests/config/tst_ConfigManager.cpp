#include <atomic>
#include <thread>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTest>

#include "Codec.h"
#include "ConfigManager.h"
#include "IniFile.h"
#include "LogManager.h"
#include "TestAppDir.h"

namespace {

template <std::size_t N> QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, static_cast<qsizetype>(N - 1));
}

const QString chinese = QString::fromUtf8("\u4E2D\u6587"); // GBK D6D0 CEC4

const QString mainIni = QStringLiteral("Config/main.ini");

// Replaces main.ini the way an editor that saves safely does, so a reload never sees half a file.
void writeMainIni(const TestAppDir &app, const QByteArray &bytes, const QDateTime &modified = QDateTime())
{
    QDir().mkpath(app.path(QStringLiteral("Config")));
    QSaveFile file(app.path(mainIni));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
    QVERIFY(file.commit());
    if (modified.isValid()) {
        QFile touched(app.path(mainIni));
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(modified, QFileDevice::FileModificationTime));
    }
}

QString storedValue(const TestAppDir &app, const QString &group, const QString &key)
{
    IniFile ini;
    ini.setBytes(app.readFile(mainIni));
    return ini.value(group, key, QStringLiteral("<missing>"));
}

// Runs the run log in the test's application folder; runLines() stops it and returns its lines.
class RunLog final
{
public:
    explicit RunLog(const TestAppDir &app) : m_app(app)
    {
        LogManager::instance()->initialize();
        LogManager::instance()->active();
    }
    ~RunLog() { stop(); }

    QStringList runLines()
    {
        stop();
        return m_app.logLines(QStringLiteral("Run"));
    }

private:
    void stop()
    {
        LogManager::instance()->deactive();
        LogManager::instance()->exit();
    }

    const TestAppDir &m_app;
};

bool anyLineContains(const QStringList &lines, const QString &fragment)
{
    for (const QString &line : lines) {
        if (line.contains(fragment))
            return true;
    }
    return false;
}

// A manager that is initialized and active for the scope.
class ActiveManager final
{
public:
    ActiveManager()
    {
        manager.initialize();
        activated = manager.active();
    }
    ~ActiveManager()
    {
        manager.deactive();
        manager.exit();
    }

    ConfigManager manager;
    bool activated = false;
};

} // namespace

class tst_ConfigManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void defaultsSeededInTableOrder();
    void basicNumbersClampedAndWrittenBack_data();
    void basicNumbersClampedAndWrittenBack();
    void serialPortName_data();
    void serialPortName();
    void language_data();
    void language();
    void hexEncode_data();
    void hexEncode();
    void hexDecode_data();
    void hexDecode();
    void settersWriteHexAndKeepTheRest();
    void settersReadBackAfterRestart();
    void reloadsAfterHandEdit();
    void missingConfigFolderUsesDefaults();
    void unreadableFileKeepsLoadedValues();
    void badInput_data();
    void badInput();
    void readersNeverSeeHalfAValue();
};

void tst_ConfigManager::initTestCase()
{
    if (!Codec::isGbk())
        QSKIP("this platform has no GBK converter");
}

void tst_ConfigManager::defaultsSeededInTableOrder()
{
    TestAppDir app;
    ActiveManager active;
    QVERIFY(active.activated);

    const QByteArray expected = "[Basic]\r\n"
                                "CloseDataPrinter=0\r\n"
                                "QueryDataTimeout=10\r\n"
                                "SaveDataProcess=\r\n"
                                "SerialPortName=" +
                                Codec::toBytes(ConfigManager::defaultSerialPortName()) +
                                "\r\n"
                                "[Test Info]\r\n"
                                "Customer=\r\n"
                                "RegistrationNo=\r\n"
                                "BatteryModel=\r\n"
                                "Capacity=\r\n"
                                "[Doc Setting]\r\n"
                                "Title=\r\n"
                                "Header=\r\n"
                                "Footer=\r\n";
    QCOMPARE(app.readFile(mainIni), expected);

    const ConfigManager &config = active.manager;
    QCOMPARE(config.closeDataPrinter(), false);
    QCOMPARE(config.queryDataTimeout(), 10);
    QCOMPARE(config.saveDataProcess(), QString());
    QCOMPARE(config.serialPortName(), ConfigManager::defaultSerialPortName());
    QCOMPARE(config.testInfo(), TestInfo());
    QCOMPARE(config.docSetting(), DocSetting());
    QCOMPARE(ConfigManager::configFilePath(), app.binDir() + QStringLiteral("/../Config/main.ini"));
}

void tst_ConfigManager::basicNumbersClampedAndWrittenBack_data()
{
    QTest::addColumn<QByteArray>("basicLines");
    QTest::addColumn<bool>("closeDataPrinter");
    QTest::addColumn<int>("queryDataTimeout");
    QTest::addColumn<QString>("storedPrinter");
    QTest::addColumn<QString>("storedTimeout");

    QTest::newRow("in range") << raw("CloseDataPrinter=1\r\nQueryDataTimeout=250\r\n") << true << 250 << "1"
                              << "250";
    QTest::newRow("timeout below range") << raw("QueryDataTimeout=5\r\n") << false << 10 << "0"
                                         << "10";
    QTest::newRow("timeout above range") << raw("QueryDataTimeout=3601\r\n") << false << 3600 << "0"
                                         << "3600";
    QTest::newRow("timeout past 32 bits") << raw("QueryDataTimeout=99999999999\r\n") << false << 3600 << "0"
                                          << "3600";
    QTest::newRow("timeout negative") << raw("QueryDataTimeout=-20\r\n") << false << 10 << "0"
                                      << "10";
    QTest::newRow("timeout not a number") << raw("QueryDataTimeout=fast\r\n") << false << 10 << "0"
                                          << "10";
    QTest::newRow("timeout empty") << raw("QueryDataTimeout=\r\n") << false << 10 << "0"
                                   << "10";
    QTest::newRow("printer 7") << raw("CloseDataPrinter=7\r\n") << true << 10 << "1"
                               << "10";
    QTest::newRow("printer negative") << raw("CloseDataPrinter=-1\r\n") << false << 10 << "0"
                                      << "10";
    // Text reads as 0, which is in range, so there is nothing to write back.
    QTest::newRow("printer not a number") << raw("CloseDataPrinter=yes\r\n") << false << 10 << "yes"
                                          << "10";
}

void tst_ConfigManager::basicNumbersClampedAndWrittenBack()
{
    QFETCH(QByteArray, basicLines);
    QFETCH(bool, closeDataPrinter);
    QFETCH(int, queryDataTimeout);
    QFETCH(QString, storedPrinter);
    QFETCH(QString, storedTimeout);

    TestAppDir app;
    const QByteArray note = "; operator's note\r\n";
    writeMainIni(app, note + "[Basic]\r\n" + basicLines + "[Other]\r\nKeep=me\r\n");
    ActiveManager active;
    QVERIFY(active.activated);

    QCOMPARE(active.manager.closeDataPrinter(), closeDataPrinter);
    QCOMPARE(active.manager.queryDataTimeout(), queryDataTimeout);
    const QString basic = QStringLiteral("Basic");
    QCOMPARE(storedValue(app, basic, QStringLiteral("CloseDataPrinter")), storedPrinter);
    QCOMPARE(storedValue(app, basic, QStringLiteral("QueryDataTimeout")), storedTimeout);
    const QByteArray after = app.readFile(mainIni);
    QVERIFY(after.startsWith(note + "[Basic]\r\n"));
    QVERIFY(after.contains("[Other]\r\nKeep=me\r\n"));
}

void tst_ConfigManager::serialPortName_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("stored");

    const QString fallback = ConfigManager::defaultSerialPortName();
    QTest::newRow("missing") << QByteArray() << fallback << fallback;
    QTest::newRow("own pattern") << raw("SerialPortName=/dev/ttyACM%1\r\n") << "/dev/ttyACM%1"
                                 << "/dev/ttyACM%1";
    QTest::newRow("windows pattern, backslashes literal")
        << raw("SerialPortName=\\\\.\\COM%1\r\n") << "\\\\.\\COM%1"
        << "\\\\.\\COM%1";
    // Without a number every port would open the same device; the operator's text stays.
    QTest::newRow("no number") << raw("SerialPortName=/dev/ttyS0\r\n") << fallback << "/dev/ttyS0";
    QTest::newRow("empty") << raw("SerialPortName=\r\n") << fallback << "";
}

void tst_ConfigManager::serialPortName()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);
    QFETCH(QString, stored);

    TestAppDir app;
    writeMainIni(app, "[Basic]\r\nSaveDataProcess=quillet.exe\r\n" + line);
    ActiveManager active;
    QCOMPARE(active.manager.serialPortName(), expected);
    QCOMPARE(active.manager.saveDataProcess(), QStringLiteral("quillet.exe"));
    QCOMPARE(storedValue(app, QStringLiteral("Basic"), QStringLiteral("SerialPortName")), stored);
}

void tst_ConfigManager::language_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("logged");

    QTest::newRow("missing") << QByteArray() << "system" << false;
    QTest::newRow("system") << raw("Language=system\r\n") << "system" << false;
    QTest::newRow("english") << raw("Language=en\r\n") << "en" << false;
    QTest::newRow("chinese") << raw("Language=zh_CN\r\n") << "zh_CN" << false;
    QTest::newRow("case and blanks") << raw("Language=  ZH_cn \r\n") << "zh_CN" << false;
    QTest::newRow("empty") << raw("Language=\r\n") << "system" << true;
    QTest::newRow("unknown code") << raw("Language=fr\r\n") << "system" << true;
    QTest::newRow("hyphenated form") << raw("Language=zh-CN\r\n") << "system" << true;
    QTest::newRow("garbage bytes") << raw("Language=\xFF\xFE\r\n") << "system" << true;
}

void tst_ConfigManager::language()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);
    QFETCH(bool, logged);

    TestAppDir app;
    const QByteArray contents = "[Basic]\r\nQueryDataTimeout=20\r\n" + line;
    writeMainIni(app, contents);
    RunLog log(app);
    {
        ActiveManager active;
        QVERIFY(active.activated);
        QCOMPARE(active.manager.language(), expected);
        QCOMPARE(active.manager.queryDataTimeout(), 20);
    }
    // Added after main.ini's first release: not seeded, and the operator's line stays as written.
    const QByteArray after = app.readFile(mainIni);
    QVERIFY(after.startsWith(contents));
    QCOMPARE(after.count("Language="), line.isEmpty() ? 0 : 1);

    const QStringList lines = log.runLines();
    QCOMPARE(anyLineContains(lines, QStringLiteral("ConfigManager Bad Language, Value:")), logged);
    if (logged)
        QVERIFY2(anyLineContains(lines, QStringLiteral(", Used:system")), qPrintable(lines.join(u'\n')));
}

void tst_ConfigManager::hexEncode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hex");

    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("ascii") << "abc"
                           << "616263";
    QTest::newRow("gbk") << chinese << "d6d0cec4";
    QTest::newRow("mixed with a line break") << chinese + QStringLiteral("1\nB") << "d6d0cec4310a42";
}

void tst_ConfigManager::hexEncode()
{
    QFETCH(QString, text);
    QFETCH(QString, hex);
    QCOMPARE(ConfigManager::hexEncode(text), hex);
    QCOMPARE(ConfigManager::hexDecode(hex), text);
}

void tst_ConfigManager::hexDecode_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("text");

    QTest::newRow("upper case") << "D6D0CEC4" << chinese;
    QTest::newRow("odd last digit alone") << "61626" << QStringLiteral("ab\x06");
    QTest::newRow("pair with one digit") << "616g62"
                                         << QStringLiteral("a\x06"
                                                           "b");
    QTest::newRow("non-hex pair ends the text") << "6162zz63"
                                                << "ab";
    QTest::newRow("non-hex start") << "zz6162"
                                   << "";
    QTest::newRow("zero byte ends the text") << "616200636465"
                                             << "ab";
    QTest::newRow("not hex at all") << "hello"
                                    << "";
    QTest::newRow("gbk text instead of hex") << chinese << "";
}

void tst_ConfigManager::hexDecode()
{
    QFETCH(QString, hex);
    QFETCH(QString, text);
    QCOMPARE(ConfigManager::hexDecode(hex), text);
}

void tst_ConfigManager::settersWriteHexAndKeepTheRest()
{
    TestAppDir app;
    const QByteArray before = "; written by hand\r\n"
                              "[Basic]\r\n"
                              "CloseDataPrinter=0\r\n"
                              "QueryDataTimeout=100\r\n"
                              "SaveDataProcess=quillet.exe\r\n"
                              "SerialPortName=/dev/ttyUSB%1\r\n"
                              "Extra=kept\r\n"
                              "\r\n"
                              "; the customer\r\n"
                              "[Test Info]\r\n"
                              "Customer=78\r\n"
                              "RegistrationNo=\r\n"
                              "BatteryModel=\r\n"
                              "Capacity=\r\n"
                              "[Doc Setting]\r\n"
                              "Title=\r\n"
                              "Header=\r\n"
                              "Footer=\r\n"
                              "[Vendor]\r\n"
                              "Title=not ours\r\n";
    writeMainIni(app, before);
    ActiveManager active;
    QCOMPARE(app.readFile(mainIni), before);
    QCOMPARE(active.manager.testInfo().customer, QStringLiteral("x"));

    const TestInfo info{QStringLiteral("abc"), chinese, QString(), QStringLiteral("60 Ah")};
    active.manager.setTestInfo(info);
    const DocSetting setting{QStringLiteral("Report"), QStringLiteral("line 1\nline 2"), chinese};
    active.manager.setDocSetting(setting);

    QCOMPARE(active.manager.testInfo(), info);
    QCOMPARE(active.manager.docSetting(), setting);
    QByteArray expected = before;
    expected.replace(
        "Customer=78\r\nRegistrationNo=\r\nBatteryModel=\r\nCapacity=\r\n",
        "Customer=616263\r\nRegistrationNo=d6d0cec4\r\nBatteryModel=\r\nCapacity=3630204168\r\n");
    expected.replace("Title=\r\nHeader=\r\nFooter=\r\n",
                     "Title=5265706f7274\r\nHeader=6c696e6520310a6c696e652032\r\nFooter=d6d0cec4\r\n");
    QCOMPARE(app.readFile(mainIni), expected);
}

void tst_ConfigManager::settersReadBackAfterRestart()
{
    TestAppDir app;
    const TestInfo info{chinese, QStringLiteral("AB-123"), QStringLiteral("EFB 70"), QStringLiteral("760")};
    const DocSetting setting{chinese + QStringLiteral(" title"), QStringLiteral("a\r\nb"),
                             QStringLiteral("end")};
    {
        ActiveManager first;
        first.manager.setTestInfo(info);
        first.manager.setDocSetting(setting);
    }
    ActiveManager second;
    QCOMPARE(second.manager.testInfo(), info);
    QCOMPARE(second.manager.docSetting(), setting);
}

void tst_ConfigManager::reloadsAfterHandEdit()
{
    TestAppDir app;
    ActiveManager active;
    QCOMPARE(active.manager.queryDataTimeout(), 10);

    // Modification times a whole number of seconds apart, whatever the clock does meanwhile.
    const QDateTime firstEdit = QDateTime::currentDateTime().addSecs(-600);
    writeMainIni(app, "[Basic]\r\nQueryDataTimeout=500\r\n[Test Info]\r\nCustomer=616263\r\n", firstEdit);
    QTRY_COMPARE_WITH_TIMEOUT(active.manager.queryDataTimeout(), 500, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(active.manager.testInfo().customer, QStringLiteral("abc"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(storedValue(app, QStringLiteral("Doc Setting"), QStringLiteral("Footer")),
                              QString(), 20000);

    writeMainIni(app, "[Basic]\r\nQueryDataTimeout=5\r\nCloseDataPrinter=1\r\n", firstEdit.addSecs(10));
    // Each value is published on its own as the reload reaches it, so each one is waited for.
    QTRY_COMPARE_WITH_TIMEOUT(active.manager.closeDataPrinter(), true, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(active.manager.queryDataTimeout(), 10, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(active.manager.testInfo().customer, QString(), 20000);
    // The values are stored before the clamped number is written back.
    QTRY_COMPARE_WITH_TIMEOUT(storedValue(app, QStringLiteral("Basic"), QStringLiteral("QueryDataTimeout")),
                              QStringLiteral("10"), 20000);
}

void tst_ConfigManager::missingConfigFolderUsesDefaults()
{
    TestAppDir app(false);
    RunLog log(app);
    {
        ActiveManager active;
        QVERIFY(active.activated);
        QCOMPARE(active.manager.queryDataTimeout(), 10);
        QCOMPARE(active.manager.serialPortName(), ConfigManager::defaultSerialPortName());
        const TestInfo info{QStringLiteral("abc"), QString(), QString(), QString()};
        active.manager.setTestInfo(info);
        QCOMPARE(active.manager.testInfo(), info);
    }
    QVERIFY(!QFileInfo::exists(app.path(QStringLiteral("Config"))));
    QVERIFY(anyLineContains(log.runLines(), QStringLiteral("ConfigManager Write Failed, File:")));
}

void tst_ConfigManager::unreadableFileKeepsLoadedValues()
{
    TestAppDir app;
    writeMainIni(app, "[Basic]\r\nQueryDataTimeout=500\r\n");
    RunLog log(app);
    ActiveManager active;
    QCOMPARE(active.manager.queryDataTimeout(), 500);

    // A folder in place of the file cannot be read; nothing may be written over it either.
    QVERIFY(QFile::remove(app.path(mainIni)));
    QVERIFY(QDir().mkpath(app.path(mainIni)));
    QTRY_VERIFY_WITH_TIMEOUT(anyLineContains(app.logLines(QStringLiteral("Run")),
                                             QStringLiteral("ConfigManager Read Failed, File:")),
                             20000);
    QCOMPARE(active.manager.queryDataTimeout(), 500);
    QVERIFY(QFileInfo(app.path(mainIni)).isDir());

    QVERIFY(QDir(app.path(mainIni)).removeRecursively());
    writeMainIni(app, "[Basic]\r\nQueryDataTimeout=600\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(active.manager.queryDataTimeout(), 600, 20000);
}

void tst_ConfigManager::badInput_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("queryDataTimeout");
    QTest::addColumn<QString>("customer");
    QTest::addColumn<QString>("logged");

    QTest::newRow("garbage lines")
        << raw("\x01\x02 binary\r\n[Basic]\r\n!!garbage!!\r\n[unclosed\r\nQueryDataTimeout=20\r\n[Test "
               "Info]\r\n"
               "Customer=616263\r\n")
        << 20 << "abc"
        << "ConfigManager Ignored Lines, File:";
    QTest::newRow("duplicate keys")
        << raw("[Basic]\nQueryDataTimeout=20\nQueryDataTimeout=30\n") << 30 << ""
        << "ConfigManager Duplicate Key, Group:Basic, Key:QueryDataTimeout, Count:2";
    QTest::newRow("odd-length hex")
        << raw("[Test Info]\r\nCustomer=61626\r\n") << 10 << "ab\x06"
        << "ConfigManager Bad Hex Text, Group:Test Info, Key:Customer, Value:61626";
    QTest::newRow("non-hex value") << raw("[Test Info]\r\nCustomer=6162zz\r\n") << 10 << "ab"
                                   << "ConfigManager Bad Hex Text, Group:Test Info, Key:Customer";
    QTest::newRow("lf endings") << raw("[Basic]\nQueryDataTimeout=20\n[Test Info]\nCustomer=616263\n") << 20
                                << "abc"
                                << "";
    QTest::newRow("crlf endings")
        << raw("[Basic]\r\nQueryDataTimeout=20\r\n[Test Info]\r\nCustomer=616263\r\n") << 20 << "abc"
        << "";
    QTest::newRow("utf-8 byte-order mark")
        << raw("\xEF\xBB\xBF[Basic]\r\nQueryDataTimeout=20\r\n[Test Info]\r\nCustomer=616263\r\n") << 20
        << "abc"
        << "";
    QTest::newRow("bytes that are not gbk")
        << raw("[Basic]\r\nSaveDataProcess=\xFF\xFE.exe\r\n\x80\x80=\xFF\r\nQueryDataTimeout=20\r\n"
               "[Test Info]\r\nCustomer=ff\r\nBatteryModel=616263\r\n")
        << 20 << Codec::toText(raw("\xFF")) << "";
}

void tst_ConfigManager::badInput()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, queryDataTimeout);
    QFETCH(QString, customer);
    QFETCH(QString, logged);

    TestAppDir app;
    writeMainIni(app, contents);
    RunLog log(app);
    {
        ActiveManager active;
        QVERIFY(active.activated);
        QCOMPARE(active.manager.queryDataTimeout(), queryDataTimeout);
        QCOMPARE(active.manager.testInfo().customer, customer);
    }

    // Seeding only adds lines: every line of the hand-made file is still there, in the same order
    // and with its own line end, and the added lines use the file's line end.
    const QByteArray after = app.readFile(mainIni);
    const QByteArray newline = contents.contains("\r\n") ? "\r\n" : "\n";
    qsizetype from = 0;
    for (const QByteArray &line : contents.split('\n')) {
        const qsizetype at = after.indexOf(line, from);
        QVERIFY2(at >= 0, line.constData());
        from = at + line.size();
    }
    QVERIFY(after.endsWith("Footer=" + newline));
    QCOMPARE(after.count("\r\n"), contents.contains("\r\n") ? after.count("\n") : 0);
    IniFile reread;
    reread.setBytes(after);
    QVERIFY(reread.contains(QStringLiteral("Doc Setting"), QStringLiteral("Title")));

    const QStringList lines = log.runLines();
    if (!logged.isEmpty())
        QVERIFY2(anyLineContains(lines, logged), qPrintable(lines.join(QLatin1Char('\n'))));
}

void tst_ConfigManager::readersNeverSeeHalfAValue()
{
    TestAppDir app;
    ActiveManager active;
    ConfigManager &config = active.manager;

    std::atomic<bool> done{false};
    std::atomic<int> mixed{0};
    std::thread reader([&] {
        while (!done.load()) {
            const TestInfo info = config.testInfo();
            const DocSetting setting = config.docSetting();
            if (info.customer != info.registrationNo || info.customer != info.batteryModel ||
                info.customer != info.capacity || setting.title != setting.header ||
                setting.title != setting.footer)
                mixed.fetch_add(1);
            config.queryDataTimeout();
            config.closeDataPrinter();
            config.saveDataProcess();
            config.serialPortName();
        }
    });
    for (int i = 0; i < 200; ++i) {
        const QString text = QString::number(i);
        config.setTestInfo(TestInfo{text, text, text, text});
        config.setDocSetting(DocSetting{text, text, text});
    }
    done.store(true);
    reader.join();

    QCOMPARE(mixed.load(), 0);
    QCOMPARE(config.testInfo().customer, QStringLiteral("199"));
    QCOMPARE(storedValue(app, QStringLiteral("Test Info"), QStringLiteral("Capacity")),
             ConfigManager::hexEncode(QStringLiteral("199")));
}

QTEST_GUILESS_MAIN(tst_ConfigManager)
#include "tst_ConfigManager.moc"
