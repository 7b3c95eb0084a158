#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "Codec.h"
#include "HistoryReader.h"
#include "HistoryStore.h"
#include "HistoryTestKit.h"
#include "PostgresServer.h"

using namespace HistoryTestKit;

// The history window's reader keeps its connection open for as long as the main window lives, so
// it must cope with the server going away and coming back under it.
class tst_HistoryReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Codec::install(); }
    void answersAcrossAServerRestart();

private:
    // The page the reader answers next: whether it was read, and how many rows it had.
    static std::pair<bool, qsizetype> page(HistoryReader &reader);
};

std::pair<bool, qsizetype> tst_HistoryReader::page(HistoryReader &reader)
{
    QSignalSpy answered(&reader, &HistoryReader::pageReady);
    const int request = reader.requestPage(HistoryFilter{}, std::nullopt, 50);
    if (!answered.wait(30000))
        return {false, -1};
    const QList<QVariant> answer = answered.takeFirst();
    if (answer.at(0).toInt() != request)
        return {false, -2};
    if (!answer.at(2).toBool())
        qInfo("page not read: %s", qPrintable(answer.at(3).toString()));
    return {answer.at(2).toBool(), answer.at(1).value<QList<HistoryRow>>().size()};
}

void tst_HistoryReader::answersAcrossAServerRestart()
{
    const QString whyNot = PostgresServer::unavailableReason();
    if (!whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    PostgresServer server;
    QVERIFY2(server.start() && server.createDatabase(QStringLiteral("reader")),
             qPrintable(server.errorString()));
    const HistorySetting setting = serverSetting(server, QStringLiteral("reader"));
    {
        HistoryStore store(QStringLiteral("fill"));
        QCOMPARE(store.open(setting, QString(), nullptr), HistoryStore::OpenResult::Ready);
        for (int seed = 0; seed < 3; ++seed)
            QVERIFY(store.insertRecord(makeRecord(seed, QStringLiteral("R%1").arg(seed), QStringLiteral("c"),
                                                  1700000000000 + seed)));
    }

    HistoryReader reader(setting, QString());
    reader.prepare();
    QCOMPARE(page(reader), std::make_pair(true, qsizetype(3)));

    // While the server is down the answer says so, in bounded time.
    QVERIFY(server.stop());
    QCOMPARE(page(reader).first, false);

    // Back up: the next request reads again, on a new connection.
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QCOMPARE(page(reader), std::make_pair(true, qsizetype(3)));

    // Restarted between two requests: the connection kept open is dead, which the request finds out
    // and gets over without the operator seeing it.
    QVERIFY(server.stop());
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QCOMPARE(page(reader), std::make_pair(true, qsizetype(3)));
}

QTEST_GUILESS_MAIN(tst_HistoryReader)
#include "tst_HistoryReader.moc"
