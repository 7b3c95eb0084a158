#include <QDir>
#include <QFileInfo>
#include <QTest>

#include "Codec.h"
#include "IniFile.h"
#include "TestAppDir.h"

namespace {

// Byte strings with embedded NULs and invalid sequences, taken at their full literal length.
template <std::size_t N> QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, static_cast<qsizetype>(N - 1));
}

QString gbk(const QByteArray &bytes)
{
    return Codec::toText(bytes);
}

} // namespace

class tst_IniFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void value_data();
    void value();
    void setValue_data();
    void setValue();
    void refusesWhatIsNotOneLine_data();
    void refusesWhatIsNotOneLine();
    void unrecognisedLinesAreNumbered();
    void saveWritesAndLoadReadsBack();
    void missingFileLoadsEmpty();
    void saveIntoMissingFolderFails();
    void unreadableFileIsNeverRewritten_data();
    void unreadableFileIsNeverRewritten();
};

void tst_IniFile::initTestCase()
{
    if (!Codec::isGbk())
        QSKIP("this platform has no GBK converter");
}

void tst_IniFile::value_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("expected");

    const QString basic = QStringLiteral("Basic");
    const QString timeout = QStringLiteral("QueryDataTimeout");
    const QString process = QStringLiteral("SaveDataProcess");

    QTest::newRow("lf") << raw("[Basic]\nQueryDataTimeout=20\n") << basic << timeout << true << "20";
    QTest::newRow("crlf") << raw("[Basic]\r\nQueryDataTimeout=20\r\n") << basic << timeout << true << "20";
    QTest::newRow("cr only") << raw("[Basic]\rQueryDataTimeout=20\r") << basic << timeout << true << "20";
    QTest::newRow("no final line end")
        << raw("[Basic]\r\nQueryDataTimeout=20") << basic << timeout << true << "20";
    QTest::newRow("spaces and tabs around names and value")
        << raw("  [ Basic ]  \n\t QueryDataTimeout =  20 \t\n") << basic << timeout << true << "20";
    QTest::newRow("names are case-insensitive")
        << raw("[basic]\nquerydatatimeout=20\n") << basic << timeout << true << "20";
    QTest::newRow("empty value") << raw("[Basic]\nSaveDataProcess=\n") << basic << process << true << "";
    QTest::newRow("quotes removed, inner spaces kept")
        << raw("[Basic]\nSaveDataProcess=\" a b \"\n") << basic << process << true << " a b ";
    QTest::newRow("value read literally")
        << raw("[Basic]\nSaveDataProcess=a=b;c,d \\n %1\n") << basic << process << true << "a=b;c,d \\n %1";
    QTest::newRow("backslashes kept") << raw("[Basic]\nSerialPortName=\\\\.\\COM%1\n") << basic
                                      << "SerialPortName" << true << "\\\\.\\COM%1";
    QTest::newRow("duplicate key, last counts")
        << raw("[Basic]\nQueryDataTimeout=20\nQueryDataTimeout=30\n") << basic << timeout << true << "30";
    QTest::newRow("repeated group")
        << raw("[Basic]\nA=1\n[Other]\nQueryDataTimeout=2\n[Basic]\nQueryDataTimeout=3\n") << basic << timeout
        << true << "3";
    QTest::newRow("key of another group")
        << raw("[Other]\nQueryDataTimeout=20\n") << basic << timeout << false << "";
    QTest::newRow("key before any group")
        << raw("QueryDataTimeout=20\n[Basic]\n") << basic << timeout << false << "";
    QTest::newRow("commented keys") << raw("[Basic]\n;QueryDataTimeout=20\n#QueryDataTimeout=30\n") << basic
                                    << timeout << false << "";
    QTest::newRow("garbage lines skipped")
        << raw("[Basic]\ngarbage\n=no key\n[unterminated\nQueryDataTimeout=20\n") << basic << timeout << true
        << "20";
    QTest::newRow("group name with a space") << raw("[Test Info]\nCustomer=616263\n") << "Test Info"
                                             << "Customer" << true << "616263";
    QTest::newRow("gbk value") << raw("[Basic]\nSaveDataProcess=\xD6\xD0\xCE\xC4.exe\n") << basic << process
                               << true << QString::fromUtf8("\u4E2D\u6587.exe");
    // 0x81 0x5D is one GBK character whose second byte is ']'.
    QTest::newRow("gbk trail byte is not a bracket")
        << raw("[\x81\x5DX]\nA=1\n") << gbk(raw("\x81\x5DX")) << "A" << true << "1";
    QTest::newRow("invalid gbk elsewhere")
        << raw("[Basic]\n\xFF\xFF=\x80\x80\nQueryDataTimeout=20\n") << basic << timeout << true << "20";
    QTest::newRow("nul bytes elsewhere")
        << raw("[Basic]\nQuery\0x=1\n\0\nQueryDataTimeout=20\n") << basic << timeout << true << "20";
    QTest::newRow("utf-8 byte-order mark")
        << raw("\xEF\xBB\xBF[Basic]\r\nQueryDataTimeout=20\r\n") << basic << timeout << true << "20";
    QTest::newRow("utf-8 after a byte-order mark")
        << raw("\xEF\xBB\xBF[Basic]\nSaveDataProcess=\xE4\xB8\xAD\xE6\x96\x87\n") << basic << process << true
        << QString::fromUtf8("\u4E2D\u6587");
}

void tst_IniFile::value()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, group);
    QFETCH(QString, key);
    QFETCH(bool, found);
    QFETCH(QString, expected);

    IniFile ini;
    ini.setBytes(contents);
    QCOMPARE(ini.contains(group, key), found);
    QCOMPARE(ini.value(group, key, QStringLiteral("default")), found ? expected : QStringLiteral("default"));
    QCOMPARE(ini.bytes(), contents);
}

void tst_IniFile::setValue_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    const QString basic = QStringLiteral("Basic");

    QTest::newRow("new file") << QByteArray() << basic << "CloseDataPrinter"
                              << "0" << raw("[Basic]\r\nCloseDataPrinter=0\r\n");
    QTest::newRow("group name written literally") << QByteArray() << "Test Info"
                                                  << "Customer"
                                                  << "616263" << raw("[Test Info]\r\nCustomer=616263\r\n");
    QTest::newRow("added after the group's last key")
        << raw("[Basic]\nA=1\n\n; about documents\n[Doc]\nT=1\n") << basic << "B"
        << "2" << raw("[Basic]\nA=1\nB=2\n\n; about documents\n[Doc]\nT=1\n");
    QTest::newRow("added to an empty group") << raw("[Basic]\n[Doc]\n") << basic << "B"
                                             << "2" << raw("[Basic]\nB=2\n[Doc]\n");
    QTest::newRow("replaced in place, crlf kept")
        << raw("; top\r\n[Basic]\r\nA=1\r\nB=2\r\n[Doc]\r\nB=9\r\n") << basic << "B"
        << "3" << raw("; top\r\n[Basic]\r\nA=1\r\nB=3\r\n[Doc]\r\nB=9\r\n");
    QTest::newRow("replaced, key spelling kept") << raw("[basic]\n  b = 2  \nc=1\n") << basic << "B"
                                                 << "3" << raw("[basic]\nb=3\nc=1\n");
    QTest::newRow("last duplicate replaced") << raw("[Basic]\nB=1\nB=2\n") << basic << "B"
                                             << "3" << raw("[Basic]\nB=1\nB=3\n");
    QTest::newRow("added to the last of a repeated group")
        << raw("[Basic]\nA=1\n[Doc]\n[Basic]\nC=1\n") << basic << "B"
        << "2" << raw("[Basic]\nA=1\n[Doc]\n[Basic]\nC=1\nB=2\n");
    QTest::newRow("new group after a last line without end") << raw("[Doc]\nT=1") << basic << "B"
                                                             << "2" << raw("[Doc]\nT=1\n[Basic]\nB=2\n");
    QTest::newRow("new key after a last line without end") << raw("[Basic]\r\nA=1") << basic << "B"
                                                           << "2" << raw("[Basic]\r\nA=1\r\nB=2\r\n");
    QTest::newRow("cr-only file and garbage kept") << raw("junk\r[Basic]\rA=1\r") << basic << "B"
                                                   << "2" << raw("junk\r[Basic]\rA=1\rB=2\r");
    QTest::newRow("byte-order mark kept") << raw("\xEF\xBB\xBF[Basic]\r\nA=1\r\n") << basic << "B"
                                          << "2" << raw("\xEF\xBB\xBF[Basic]\r\nA=1\r\nB=2\r\n");
    QTest::newRow("invalid gbk and nul bytes of other lines kept")
        << raw("[Basic]\n\xFF\xFE junk\x80\0\nA=1\n") << basic << "A"
        << "2" << raw("[Basic]\n\xFF\xFE junk\x80\0\nA=2\n");
    QTest::newRow("gbk written") << QByteArray() << basic << "SaveDataProcess"
                                 << QString::fromUtf8("\u4E2D\u6587")
                                 << raw("[Basic]\r\nSaveDataProcess=\xD6\xD0\xCE\xC4\r\n");
    QTest::newRow("outer spaces quoted") << QByteArray() << basic << "A"
                                         << " x " << raw("[Basic]\r\nA=\" x \"\r\n");
    QTest::newRow("same value changes nothing") << raw("[Basic]\nA = 1\n") << basic << "A"
                                                << "1" << raw("[Basic]\nA = 1\n");
}

void tst_IniFile::setValue()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, group);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);

    IniFile ini;
    ini.setBytes(before);
    QVERIFY(ini.setValue(group, key, value));
    QCOMPARE(ini.bytes(), after);
    QCOMPARE(ini.isModified(), before != after);

    // What was written is what a fresh read gives.
    IniFile reread;
    reread.setBytes(ini.bytes());
    QCOMPARE(reread.value(group, key), value);
}

void tst_IniFile::refusesWhatIsNotOneLine_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("line break in value") << "Basic"
                                         << "A"
                                         << "1\r\n[Evil]";
    QTest::newRow("equals sign in key") << "Basic"
                                        << "A=B"
                                        << "1";
    QTest::newRow("empty key") << "Basic"
                               << ""
                               << "1";
    QTest::newRow("key that reads as a group") << "Basic"
                                               << "[A"
                                               << "1";
    QTest::newRow("key that reads as a comment") << "Basic"
                                                 << ";A"
                                                 << "1";
    QTest::newRow("bracket in group") << "Ba]sic"
                                      << "A"
                                      << "1";
    QTest::newRow("line break in group") << "Basic\n"
                                         << "A"
                                         << "1";
}

void tst_IniFile::refusesWhatIsNotOneLine()
{
    QFETCH(QString, group);
    QFETCH(QString, key);
    QFETCH(QString, value);

    const QByteArray contents = raw("[Basic]\nA=0\n");
    IniFile ini;
    ini.setBytes(contents);
    QVERIFY(!ini.setValue(group, key, value));
    QCOMPARE(ini.bytes(), contents);
    QVERIFY(!ini.isModified());
}

void tst_IniFile::unrecognisedLinesAreNumbered()
{
    IniFile ini;
    ini.setBytes(raw("[Basic]\r\ngarbage\r\n; note\r\n\r\nA=1\r\n=x\r\n[open\r\n"));
    QCOMPARE(ini.unrecognisedLines(), (QList<int>{2, 6, 7}));
}

void tst_IniFile::saveWritesAndLoadReadsBack()
{
    TestAppDir app;
    QVERIFY(app.isValid());
    const QByteArray original = raw("; kept\r\n[Basic]\r\nA=1\r\n");
    QVERIFY(app.writeFile(QStringLiteral("Config/main.ini"), original));
    const QString path = app.path(QStringLiteral("Config/main.ini"));

    IniFile ini;
    QVERIFY(ini.load(path));
    QVERIFY(ini.save(path)); // unmodified: nothing to do
    QVERIFY(ini.setValue(QStringLiteral("Basic"), QStringLiteral("B"), QStringLiteral("2")));
    QVERIFY2(ini.save(path), qPrintable(ini.errorString()));
    QVERIFY(!ini.isModified());
    QCOMPARE(app.readFile(QStringLiteral("Config/main.ini")), raw("; kept\r\n[Basic]\r\nA=1\r\nB=2\r\n"));
    // Nothing but main.ini is left behind in the folder.
    QCOMPARE(QDir(app.path(QStringLiteral("Config"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("main.ini")});

    IniFile reread;
    QVERIFY(reread.load(path));
    QCOMPARE(reread.value(QStringLiteral("Basic"), QStringLiteral("B")), QStringLiteral("2"));
}

void tst_IniFile::missingFileLoadsEmpty()
{
    TestAppDir app;
    IniFile ini;
    QVERIFY(ini.load(app.path(QStringLiteral("Config/main.ini"))));
    QVERIFY(ini.bytes().isEmpty());
    QVERIFY(ini.setValue(QStringLiteral("Basic"), QStringLiteral("A"), QStringLiteral("1")));
    QVERIFY(ini.save(app.path(QStringLiteral("Config/main.ini"))));
    QCOMPARE(app.readFile(QStringLiteral("Config/main.ini")), raw("[Basic]\r\nA=1\r\n"));
}

void tst_IniFile::saveIntoMissingFolderFails()
{
    TestAppDir app(false);
    const QString path = app.path(QStringLiteral("Config/main.ini"));
    IniFile ini;
    QVERIFY(ini.load(path));
    QVERIFY(ini.setValue(QStringLiteral("Basic"), QStringLiteral("A"), QStringLiteral("1")));
    QVERIFY(!ini.save(path));
    QVERIFY(!ini.errorString().isEmpty());
    QVERIFY(ini.isModified());
    QVERIFY(!QFileInfo::exists(app.path(QStringLiteral("Config"))));
}

void tst_IniFile::unreadableFileIsNeverRewritten_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("too large") << false;
    QTest::newRow("a folder") << true;
}

void tst_IniFile::unreadableFileIsNeverRewritten()
{
    QFETCH(bool, folder);

    TestAppDir app;
    const QString path = app.path(QStringLiteral("Config/main.ini"));
    QByteArray large;
    if (folder) {
        QVERIFY(QDir().mkpath(path));
    } else {
        large = QByteArray("[Basic]\r\nA=1\r\n").leftJustified(IniFile::maxFileBytes + 1, ';');
        QVERIFY(app.writeFile(QStringLiteral("Config/main.ini"), large));
    }

    IniFile ini;
    QVERIFY(!ini.load(path));
    QVERIFY(!ini.errorString().isEmpty());
    QVERIFY(!ini.contains(QStringLiteral("Basic"), QStringLiteral("A")));
    QVERIFY(ini.setValue(QStringLiteral("Basic"), QStringLiteral("A"), QStringLiteral("2")));
    QVERIFY(!ini.save(path));
    if (folder)
        QVERIFY(QFileInfo(path).isDir());
    else
        QCOMPARE(app.readFile(QStringLiteral("Config/main.ini")), large);
}

QTEST_GUILESS_MAIN(tst_IniFile)
#include "tst_IniFile.moc"
