#include <memory>

#include <QRegularExpression>
#include <QTest>

#include "ConfigManager.h"
#include "LogManager.h"
#include "TestAppDir.h"

namespace {

const QRegularExpression
    stampPattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  (.*)$"));

} // namespace

// Text from outside (the helper's WriteRunLog, main.ini values, document paths) reaches the run
// log inside records; whatever it holds, each record stays one visible line.
class tst_LogInjection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_app = std::make_unique<TestAppDir>();
        QVERIFY(LogManager::instance()->initialize());
    }

    void init()
    {
        m_linesBefore = m_app->logLines(QStringLiteral("Run")).size();
        QVERIFY(LogManager::instance()->active());
    }

    void cleanupTestCase()
    {
        LogManager::instance()->deactive();
        LogManager::instance()->exit();
        m_app.reset();
    }

    void controlCharactersAreWrittenVisibly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        QTest::newRow("CR LF forging a record")
            << QStringLiteral("done\r\n2024-01-01 00:00:00.000  forged")
            << QStringLiteral("done\\r\\n2024-01-01 00:00:00.000  forged");
        QTest::newRow("lone LF") << QStringLiteral("a\nb") << QStringLiteral("a\\nb");
        QTest::newRow("lone CR") << QStringLiteral("a\rb") << QStringLiteral("a\\rb");
        QTest::newRow("bell and escape sequence") << QStringLiteral("a\x07"
                                                                    "b\x1b[2J")
                                                  << QStringLiteral("a\\x07b\\x1b[2J");
        QTest::newRow("NUL does not cut the record")
            << QString::fromUtf16(u"a\0b", 3) << QStringLiteral("a\\x00b");
        QTest::newRow("DEL") << QStringLiteral("a\x7f") << QStringLiteral("a\\x7f");
        QTest::newRow("next line (C1)") << QString::fromUtf16(u"a\u0085b") << QStringLiteral("a\\x85b");
        QTest::newRow("line separator")
            << QString::fromUtf16(u"a\u2028b\u2029c") << QStringLiteral("a\\u2028b\\u2029c");
        QTest::newRow("GBK text with a break")
            << QString::fromUtf16(u"沪A5K308\n报告") << QString::fromUtf16(u"沪A5K308\\n报告");
        QTest::newRow("tab stays") << QStringLiteral("a\tb") << QStringLiteral("a\tb");
        QTest::newRow("backslash stays")
            << QStringLiteral("C:\\new\\report.doc") << QStringLiteral("C:\\new\\report.doc");
    }

    void controlCharactersAreWrittenVisibly()
    {
        QFETCH(QString, text);
        QFETCH(QString, logged);
        QVERIFY(LogManager::instance()->writeRunLog(QStringLiteral("marker ") + text));
        QStringList records;
        for (const QString &line : newLines())
            if (stampPattern.match(line).hasMatch())
                records << stampPattern.match(line).captured(1);
        QCOMPARE(records, QStringList{QStringLiteral("marker ") + logged});
    }

    // A main.ini value is quoted in the run log when it is not a number; the file's lines cannot
    // hold breaks, but other control characters come through.
    void iniValueIsQuotedVisibly()
    {
        QVERIFY(m_app->writeFile(QStringLiteral("Config/main.ini"),
                                 "[Basic]\r\nQueryDataTimeout=1\x1b[2J\x07x\r\n"));
        QVERIFY(ConfigManager::instance()->initialize());
        QVERIFY(ConfigManager::instance()->active());
        ConfigManager::instance()->deactive();
        ConfigManager::instance()->exit();
        const QStringList lines =
            newLines().filter(QStringLiteral("Not A Number, Group:Basic, Key:QueryDataTimeout"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QStringLiteral("Value:1\\x1b[2J\\x07x,")), qPrintable(lines.first()));
    }

private:
    // Stops the log (which writes everything out) and returns the lines written since init().
    QStringList newLines()
    {
        LogManager::instance()->deactive();
        return m_app->logLines(QStringLiteral("Run")).mid(m_linesBefore);
    }

    std::unique_ptr<TestAppDir> m_app;
    qsizetype m_linesBefore = 0;
};

QTEST_GUILESS_MAIN(tst_LogInjection)
#include "tst_LogInjection.moc"
