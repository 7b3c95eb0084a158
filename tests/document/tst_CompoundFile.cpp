#include "CompoundFile.h"
#include "TestPython.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct StreamLayout
{
    QString name;
    qsizetype size;
};

QByteArray patternBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    return bytes;
}

QString checkScript()
{
    return QStringLiteral(QT_TESTCASE_SOURCEDIR "/cfb_check.py");
}

void putU32(QByteArray &bytes, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

quint32 getU32(const QByteArray &bytes, qsizetype at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes[at + i]);
    return value;
}

QJsonObject runCheck(const QString &python, const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.start(python, QStringList{checkScript()} + arguments);
    if (!process.waitForFinished(120000)) {
        *exitCode = -1;
        return QJsonObject();
    }
    *exitCode = process.exitCode();
    const QByteArray out = process.readAllStandardOutput();
    if (*exitCode != 0 && out.isEmpty())
        qWarning().noquote() << process.readAllStandardError();
    return QJsonDocument::fromJson(out).object();
}

} // namespace

Q_DECLARE_METATYPE(QList<StreamLayout>)

class tst_CompoundFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readersAgree_data();
    void readersAgree();
    void walkerFindsDamage_data();
    void walkerFindsDamage();
    void rejectsBadNames_data();
    void rejectsBadNames();
    void rejectsBadClassId();

private:
    QString m_python;
};

void tst_CompoundFile::initTestCase()
{
    QVERIFY(QFileInfo::exists(checkScript()));
    m_python = findTestPython(false);
    if (m_python.isEmpty())
        QSKIP("python3 is not installed: the independent container readers cannot run");
}

void tst_CompoundFile::readersAgree_data()
{
    QTest::addColumn<QList<StreamLayout>>("streams");
    const auto s = [](const char *name, qsizetype size) {
        return StreamLayout{QString::fromLatin1(name), size};
    };
    QTest::newRow("no streams") << QList<StreamLayout>{};
    QTest::newRow("word document set, all small")
        << QList<StreamLayout>{s("WordDocument", 1500), s("1Table", 700), s("Data", 90)};
    QTest::newRow("word document set, picture large")
        << QList<StreamLayout>{s("WordDocument", 4608), s("1Table", 2000), s("Data", 250000)};
    QTest::newRow("empty stream") << QList<StreamLayout>{s("Empty", 0), s("Other", 10)};
    QTest::newRow("around the mini cut-off") << QList<StreamLayout>{
        s("Below", 4095), s("At", 4096), s("Above", 4097), s("One", 1), s("Sector", 512)};
    QTest::newRow("mini FAT longer than one sector")
        << QList<StreamLayout>{s("A", 4000), s("B", 4000), s("C", 4000), s("D", 4000), s("E", 4000),
                               s("F", 4000), s("G", 4000), s("H", 4000), s("I", 4000)};
    QTest::newRow("eleven names need a deeper tree") << QList<StreamLayout>{
        s("k", 3),  s("Jj", 5),       s("iii", 7), s("HHHH", 9), s("ggggg", 11), s("FF", 13),
        s("e", 15), s("DDDDDDD", 17), s("cc", 19), s("BBB", 21), s("a", 23)};
    // More than 109 FAT sectors: the FAT list spills into DIFAT sectors.
    QTest::newRow("DIFAT sectors") << QList<StreamLayout>{s("Big", 9 * 1024 * 1024 + 7), s("Small", 100)};
}

void tst_CompoundFile::readersAgree()
{
    QFETCH(QList<StreamLayout>, streams);
    CompoundFile container;
    QList<QByteArray> contents;
    QString error;
    for (const StreamLayout &stream : streams) {
        contents << patternBytes(stream.size, quint32(stream.size) + 17);
        QVERIFY2(container.addStream(stream.name, contents.last(), &error), qPrintable(error));
    }
    const QByteArray file = container.build(&error);
    QVERIFY2(!file.isEmpty(), qPrintable(error));
    QCOMPARE(file.size() % CompoundFile::sectorSize, 0);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("container.bin"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(out.write(file), file.size());
    out.close();
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dump")));

    int exitCode = 0;
    const QJsonObject walked =
        runCheck(m_python, {QStringLiteral("walk"), path, dir.filePath(QStringLiteral("dump"))}, &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(QJsonDocument(walked).toJson()));
    const QJsonObject walkedStreams = walked.value(QStringLiteral("streams")).toObject();
    QCOMPARE(walkedStreams.size(), streams.size());
    for (qsizetype i = 0; i < streams.size(); ++i) {
        QCOMPARE(walkedStreams.value(streams.at(i).name).toInteger(-1), streams.at(i).size);
        QFile dumped(dir.filePath(QStringLiteral("dump/") + streams.at(i).name));
        QVERIFY(dumped.open(QIODevice::ReadOnly));
        QVERIFY2(dumped.readAll() == contents.at(i), qPrintable(streams.at(i).name));
    }

    const QString olePython = findTestPython(true);
    if (olePython.isEmpty())
        QSKIP("python3-olefile is not installed: second reader skipped");
    const QJsonObject listed = runCheck(olePython, {QStringLiteral("olefile"), path}, &exitCode);
    QCOMPARE(exitCode, 0);
    const QJsonObject listedStreams = listed.value(QStringLiteral("streams")).toObject();
    QCOMPARE(listedStreams.size(), streams.size());
    for (const StreamLayout &stream : streams)
        QCOMPARE(listedStreams.value(stream.name).toInteger(-1), stream.size);
}

// The walker must be able to fail: damage a good container the way a faulty writer would.
void tst_CompoundFile::walkerFindsDamage_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("finding");
    QTest::newRow("sector marked used past the end")
        << QStringLiteral("lost") << QStringLiteral("beyond the end");
    QTest::newRow("mini chain loops") << QStringLiteral("loop") << QStringLiteral("loops");
    QTest::newRow("two streams share a start") << QStringLiteral("shared") << QStringLiteral("shared");
}

void tst_CompoundFile::walkerFindsDamage()
{
    QFETCH(QString, damage);
    QFETCH(QString, finding);
    CompoundFile container;
    QString error;
    QVERIFY(container.addStream(QStringLiteral("First"), patternBytes(300, 1), &error));
    QVERIFY(container.addStream(QStringLiteral("Second"), patternBytes(200, 2), &error));
    QByteArray file = container.build(&error);
    QVERIFY(!file.isEmpty());
    const auto sectorOffset = [](quint32 sector) { return qsizetype(sector + 1) * CompoundFile::sectorSize; };
    if (damage == QStringLiteral("lost")) {
        putU32(file, sectorOffset(getU32(file, 76)) + 4 * 127, 0xFFFFFFFE);
    } else if (damage == QStringLiteral("loop")) {
        // "First" holds mini sectors 0 to 4; its last one leads back to its first.
        putU32(file, sectorOffset(getU32(file, 60)) + 4 * 4, 0);
    } else {
        const qsizetype directory = sectorOffset(getU32(file, 48));
        putU32(file, directory + 2 * 128 + 116, getU32(file, directory + 128 + 116));
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("damaged.bin"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    int exitCode = 0;
    const QJsonObject walked = runCheck(m_python, {QStringLiteral("walk"), path}, &exitCode);
    QCOMPARE(exitCode, 1);
    const QString errors =
        QString::fromUtf8(QJsonDocument(walked.value(QStringLiteral("errors")).toArray()).toJson());
    QVERIFY2(errors.contains(finding), qPrintable(errors));
}

void tst_CompoundFile::rejectsBadNames_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("empty name") << QString() << QStringLiteral("ok");
    QTest::newRow("32 characters") << QString(32, u'x') << QStringLiteral("ok");
    QTest::newRow("path separator") << QStringLiteral("a/b") << QStringLiteral("ok");
    QTest::newRow("repeated, other case") << QStringLiteral("Data") << QStringLiteral("DATA");
}

void tst_CompoundFile::rejectsBadNames()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    CompoundFile container;
    QString error;
    const bool firstAdded = container.addStream(first, QByteArray("x"), &error);
    const bool secondAdded = firstAdded && container.addStream(second, QByteArray("y"), &error);
    QVERIFY(!(firstAdded && secondAdded));
    QVERIFY(!error.isEmpty());
}

void tst_CompoundFile::rejectsBadClassId()
{
    CompoundFile container;
    container.setRootClassId(QByteArray(5, '\1'));
    QString error;
    QVERIFY(container.build(&error).isEmpty());
    QVERIFY(error.contains(QStringLiteral("class id")));
}

QTEST_GUILESS_MAIN(tst_CompoundFile)
#include "tst_CompoundFile.moc"
