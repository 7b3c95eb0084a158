#include <atomic>
#include <thread>

#include <QtTest>

#include "CQuilletApp.h"
#include "Codec.h"
#include "FakeKestrel.h"
#include "TestPng.h"

using namespace HelperProtocol;

namespace {

using Commands = QList<std::uint32_t>;
using Lines = QList<QByteArray>;

// Runs the flow in this process with a short receive bound, on a thread of its own so that the
// fake kestrel keeps being served by this thread's event loop. A plain std::thread with an atomic
// flag and join(), whose ordering ThreadSanitizer can see (Qt's own waits are uninstrumented).
QByteArray runInProcess(FakeKestrel &kestrel, int receiveTimeoutMs)
{
    QByteArray runText;
    std::atomic<bool> done{false};
    std::thread flow([&runText, &done, port = kestrel.port(), receiveTimeoutMs] {
        CQuilletApp::Options options;
        options.port = port;
        options.receiveTimeoutMs = receiveTimeoutMs;
        {
            CQuilletApp quillet(options);
            quillet.run();
            runText = quillet.runText();
        }
        done.store(true, std::memory_order_release);
    });
    const bool ended = QTest::qWaitFor([&done] { return done.load(std::memory_order_acquire); }, 60000);
    if (!ended)
        qFatal("quillet flow did not end");
    flow.join();
    return runText;
}

} // namespace

// The helper's flow where kestrel stops answering: every receive ends at its bound and the run
// still reports what happened. In-process (no child processes), so it runs under ThreadSanitizer.
class tst_QuilletFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void unansweredSetSaveResultIsBounded();
    void silentKestrelIsBounded();
    void splitAnswersAreJoined();

private:
    QTemporaryDir m_dir;
    QString m_docPath;
    FakeKestrel *m_kestrel = nullptr;
};

void tst_QuilletFlow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile picture(m_dir.filePath(QStringLiteral("report.png")));
    QVERIFY(picture.open(QIODevice::WriteOnly));
    QVERIFY(picture.write(TestPng::make(200, 280)) > 0);
}

void tst_QuilletFlow::init()
{
    delete m_kestrel;
    m_kestrel = new FakeKestrel(this);
    QVERIFY(m_kestrel->listen());
    m_kestrel->title = QStringLiteral("Title");
    m_kestrel->picturePath = m_dir.filePath(QStringLiteral("report.png"));
    static int count = 0;
    m_docPath = m_dir.filePath(QStringLiteral("flow-%1.docx").arg(++count));
    m_kestrel->docPath = m_docPath;
}

void tst_QuilletFlow::unansweredSetSaveResultIsBounded()
{
    m_kestrel->answerSetSaveResult = false;
    const QByteArray runText = runInProcess(*m_kestrel, 1000);
    QCOMPARE(m_kestrel->commands(),
             (Commands{GetSaveDataRequestId, WriteRunLogRequestId, SetSaveResultRequestId,
                       WriteRunLogRequestId, WriteRunLogRequestId}));
    const Lines lines = m_kestrel->runLogLines();
    QCOMPARE(lines.value(0), "SaveDataToDoc Successful, Doc Path:" + Codec::toBytes(m_docPath));
    QCOMPARE(lines.value(1), QByteArray("SetSaveResult Socket Receive error, last error:") +
                                 QByteArray::number(int(QAbstractSocket::SocketTimeoutError)));
    // The last line names the step that failed, not the fetch that succeeded.
    QCOMPARE(lines.value(2), QByteArray("Working SetSaveResult error"));
    QCOMPARE(runText, QByteArray("Working SetSaveResult error"));
    QVERIFY(QFileInfo(m_docPath).isFile());
}

void tst_QuilletFlow::silentKestrelIsBounded()
{
    m_kestrel->silent = true;
    const QByteArray runText = runInProcess(*m_kestrel, 500);
    QCOMPARE(runText, QByteArray("Working GetSaveData error"));
    QCOMPARE(m_kestrel->commands(),
             (Commands{GetSaveDataRequestId, WriteRunLogRequestId, WriteRunLogRequestId}));
    QCOMPARE(m_kestrel->runLogLines().value(0),
             QByteArray("GetSaveData Socket Receive error, last error:") +
                 QByteArray::number(int(QAbstractSocket::SocketTimeoutError)));
    QVERIFY(!QFileInfo::exists(m_docPath));
}

void tst_QuilletFlow::splitAnswersAreJoined()
{
    m_kestrel->chunkSize = 7;
    const QByteArray runText = runInProcess(*m_kestrel, 30000);
    QCOMPARE(m_kestrel->runLogLines().value(0),
             "SaveDataToDoc Successful, Doc Path:" + Codec::toBytes(m_docPath));
    QCOMPARE(runText, QByteArray("Working Successful"));
    QCOMPARE(m_kestrel->commands(),
             (Commands{GetSaveDataRequestId, WriteRunLogRequestId, SetSaveResultRequestId}));
    QVERIFY(QFileInfo(m_docPath).isFile());
}

QTEST_GUILESS_MAIN(tst_QuilletFlow)
#include "tst_QuilletFlow.moc"
