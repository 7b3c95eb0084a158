#include <cstring>

#include <QTest>

#include "Codec.h"

class tst_Codec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QStringLiteral("abc") << QByteArray("abc");
        QTest::newRow("chinese") << QStringLiteral("\u6d4b\u8bd5") << QByteArray("\xb2\xe2\xca\xd4");
        QTest::newRow("empty") << QString() << QByteArray();
        // Non-ASCII at every position of the word-wise checks: inside a word and in the tail.
        QTest::newRow("chinese inside first word") << QStringLiteral("ab\u6d4bcdefgh") << QByteArray("ab\xb2\xe2" "cdefgh");
        QTest::newRow("chinese in tail") << QStringLiteral("abcdefghi\u6d4b") << QByteArray("abcdefghi\xb2\xe2");
        QTest::newRow("latin-1 range is not ascii") << QStringLiteral("abcd\u00e9") << QByteArray("abcd\xa8\xa6");
    }

    void roundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QVERIFY2(Codec::isGbk(), "Debian's Qt is built with ICU and has GBK");
        QCOMPARE(Codec::toBytes(text), bytes);
        QCOMPARE(Codec::toText(bytes), text);
    }

    void fieldCutsAndTerminates()
    {
        char field[6];
        std::memset(field, 'x', sizeof(field));
        Codec::toField(QStringLiteral("abcdefgh"), field, sizeof(field));
        QCOMPARE(QByteArray(field, 6), QByteArray("abcde\0", 6));
        QCOMPARE(Codec::fromField(field, sizeof(field)), QStringLiteral("abcde"));

        const char full[4] = {'a', 'b', 'c', 'd'}; // no terminator inside the field
        QCOMPARE(Codec::fromField(full, 4), QStringLiteral("abcd"));
    }
};

QTEST_GUILESS_MAIN(tst_Codec)
#include "tst_Codec.moc"
