#include <QtTest>

#include "Codec.h"
#include "FakeKestrel.h"
#include "TestPng.h"

using namespace HelperProtocol;

namespace {

using Commands = QList<std::uint32_t>;
using Lines = QList<QByteArray>;

struct Finished
{
    bool ended = false;
    int exitCode = -1;
    QByteArray output;
};

// Runs the real quillet program against the given port and waits, serving the fake meanwhile.
Finished runQuillet(quint16 port)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLET_TEST_PORT"), QString::number(port));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(QUILLET_PROGRAM), {});
    if (!finished.wait(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit, process.exitCode(), process.readAll()};
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class tst_QuilletRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void exports_data();
    void exports();
    void noExportPending();
    void kestrelNotListening();
    void longLineIsCutTo1023Bytes();

private:
    QTemporaryDir m_dir;
    QString m_picture;
    QString m_docPath;
    FakeKestrel *m_kestrel = nullptr;
};

void tst_QuilletRun::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_picture = m_dir.filePath(QStringLiteral("report.png"));
    QVERIFY(writeFile(m_picture, TestPng::make(794, 1123)));
}

void tst_QuilletRun::init()
{
    delete m_kestrel;
    m_kestrel = new FakeKestrel(this);
    QVERIFY(m_kestrel->listen());
    m_kestrel->title = QStringLiteral(u"蓄电池检测报告");
    m_kestrel->header = QStringLiteral("Kestrel Service\r\nTel 123");
    m_kestrel->footer = QStringLiteral("Footer");
    m_kestrel->picturePath = m_picture;
    static int count = 0;
    m_docPath = m_dir.filePath(QStringLiteral("export-%1.docx").arg(++count));
    m_kestrel->docPath = m_docPath;
}

void tst_QuilletRun::exports_data()
{
    QTest::addColumn<QString>("picture"); // empty: the good picture
    QTest::addColumn<QString>("docPath"); // empty: a fresh path in the test folder
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<QString>("linePrefix"); // empty: success line
    QTest::addColumn<bool>("written");

    QTest::newRow("normal export") << QString() << QString() << 0 << QString() << true;
    QTest::newRow("answers in small segments") << QString() << QString() << 100 << QString() << true;
    QTest::newRow("missing picture") << m_dir.filePath(QStringLiteral("gone.png")) << QString() << 0
                                     << QStringLiteral("SaveDataToDoc Error, Picture Missing, Picture Path:")
                                     << false;
    QTest::newRow("unwritable folder") << QString() << QStringLiteral("/proc/quillet-run.docx") << 0
                                       << QStringLiteral("SaveDataToDoc Error, Folder Not Writable") << false;
    QTest::newRow("missing folder") << QString() << m_dir.filePath(QStringLiteral("nowhere/x.docx")) << 0
                                    << QStringLiteral("SaveDataToDoc Error, Folder Missing, Doc Path:")
                                    << false;
}

void tst_QuilletRun::exports()
{
    QFETCH(QString, picture);
    QFETCH(QString, docPath);
    QFETCH(int, chunkSize);
    QFETCH(QString, linePrefix);
    QFETCH(bool, written);
    if (!picture.isEmpty())
        m_kestrel->picturePath = picture;
    if (!docPath.isEmpty())
        m_kestrel->docPath = m_docPath = docPath;
    m_kestrel->chunkSize = chunkSize;

    const Finished run = runQuillet(m_kestrel->port());
    QVERIFY(run.ended);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.output, QByteArray()); // a console program that says nothing

    // The outcome line goes out before SetSaveResult: kestrel closes the link after answering it.
    QCOMPARE(m_kestrel->commands(),
             (Commands{GetSaveDataRequestId, WriteRunLogRequestId, SetSaveResultRequestId}));
    const Lines lines = m_kestrel->runLogLines();
    if (linePrefix.isEmpty())
        QCOMPARE(lines.first(), "SaveDataToDoc Successful, Doc Path:" + Codec::toBytes(m_docPath));
    else
        QVERIFY2(lines.first().startsWith(Codec::toBytes(linePrefix)), lines.first().constData());
    QCOMPARE(QFileInfo(m_docPath).isFile(), written);
    QTRY_VERIFY(m_kestrel->clientClosed());
    if (written) {
        QFile document(m_docPath);
        QVERIFY(document.open(QIODevice::ReadOnly));
        QVERIFY(document.read(4) == "PK\x03\x04");
    }
}

void tst_QuilletRun::noExportPending()
{
    m_kestrel->result = ResultNoExportPending;
    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
    const Finished run = runQuillet(m_kestrel->port());
    QVERIFY(run.ended);
    QCOMPARE(m_kestrel->commands(),
             (Commands{GetSaveDataRequestId, WriteRunLogRequestId, WriteRunLogRequestId}));
    QCOMPARE(m_kestrel->runLogLines(),
             (Lines{"GetSaveData error, not save data, result:1", "Working GetSaveData error"}));
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    QVERIFY(!QFileInfo::exists(m_docPath));
}

void tst_QuilletRun::kestrelNotListening()
{
    // A port that was free a moment ago and is closed now.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();

    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
    const Finished run = runQuillet(port);
    QVERIFY(run.ended);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.output, QByteArray());
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    QVERIFY(!QFileInfo::exists(m_docPath));
    QVERIFY(m_kestrel->requests.isEmpty());
}

void tst_QuilletRun::longLineIsCutTo1023Bytes()
{
    // The longest picture path kestrel can send, in a line that is longer than the log field.
    const QString missing = m_dir.filePath(QString(1000 - m_dir.path().size(), QLatin1Char('p')));
    m_kestrel->picturePath = missing;
    const Finished run = runQuillet(m_kestrel->port());
    QVERIFY(run.ended);
    const QByteArray full = "SaveDataToDoc Error, Picture Missing, Picture Path:" + Codec::toBytes(missing);
    QVERIFY(full.size() > 1023);
    QCOMPARE(m_kestrel->runLogLines().value(0), full.left(1023));
}

QTEST_GUILESS_MAIN(tst_QuilletRun)
#include "tst_QuilletRun.moc"
