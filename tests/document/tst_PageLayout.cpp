#include <QTest>

#include "PageLayout.h"

using PageLayout::Geometry;

class tst_PageLayout : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void everythingFitsOnePage_data();
    void everythingFitsOnePage();
    void maximumIsTheLastThatFits();
};

void tst_PageLayout::lines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("count");
    QTest::newRow("empty") << QString() << QStringList{QString()} << 0;
    QTest::newRow("one") << QStringLiteral("Garage") << QStringList{QStringLiteral("Garage")} << 1;
    QTest::newRow("CR LF, CR, LF") << QStringLiteral("a\r\nb\rc\nd")
                                   << QStringList{QStringLiteral("a"), QStringLiteral("b"),
                                                  QStringLiteral("c"), QStringLiteral("d")}
                                   << 4;
    QTest::newRow("blank lines kept")
        << QStringLiteral("\n\nx\n") << QStringList{QString(), QString(), QStringLiteral("x"), QString()}
        << 4;
}

void tst_PageLayout::lines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QFETCH(int, count);
    QCOMPARE(PageLayout::lines(text), expected);
    QCOMPARE(PageLayout::lineCount(text), count);
}

void tst_PageLayout::everythingFitsOnePage_data()
{
    QTest::addColumn<int>("titleLines");
    QTest::addColumn<int>("headerLines");
    QTest::addColumn<int>("footerLines");
    QTest::addColumn<bool>("fullWidth");
    const int most = PageLayout::maxHeaderFooterLines();
    QTest::newRow("no header, no footer") << 1 << 0 << 0 << true;
    QTest::newRow("one and one") << 1 << 1 << 1 << true;
    QTest::newRow("six and six") << 1 << 6 << 6 << false;
    QTest::newRow("most and none") << 1 << most << 0 << false;
    QTest::newRow("none and most") << 1 << 0 << most << false;
    QTest::newRow("most and most") << 1 << most << most << false;
    QTest::newRow("two title lines, two and two") << 2 << 2 << 2 << true;
}

void tst_PageLayout::everythingFitsOnePage()
{
    QFETCH(int, titleLines);
    QFETCH(int, headerLines);
    QFETCH(int, footerLines);
    QFETCH(bool, fullWidth);
    const Geometry page = PageLayout::compose(titleLines, headerLines, footerLines, 794, 1123);
    QVERIFY(page.fits);

    // Header lines end a gap above the body; footer lines start a gap below it and end at the
    // footer distance.
    QCOMPARE(page.headerTop, PageLayout::headerDistance);
    QVERIFY(page.headerTop + headerLines * PageLayout::headerFooterLine + PageLayout::bodyGap <=
            page.marginTop);
    QCOMPARE(page.footerTop + footerLines * PageLayout::headerFooterLine,
             PageLayout::pageHeight - PageLayout::footerDistance);
    QVERIFY(page.footerTop - PageLayout::bodyGap >= PageLayout::pageHeight - page.marginBottom);

    // Title lines, then the picture, inside the body with room for its line below.
    QCOMPARE(page.titleTop, page.marginTop);
    QCOMPARE(page.picture.top(), page.marginTop + titleLines * PageLayout::titleLine);
    QVERIFY(page.picture.top() + page.picture.height() + PageLayout::pictureSpare <=
            PageLayout::pageHeight - page.marginBottom);

    // Centred, the picture's aspect ratio, legible, and as wide as the text when it can be.
    QVERIFY(qAbs(page.picture.left() - PageLayout::marginLeft -
                 (PageLayout::textWidth - page.picture.width()) / 2) <= 1);
    QVERIFY(qAbs(page.picture.height() - page.picture.width() * 1123.0 / 794.0) <= 1.0);
    QVERIFY(page.picture.width() >= 794 * PageLayout::minimumTwipsPerPixel);
    QCOMPARE(page.picture.width() == PageLayout::textWidth, fullWidth);
}

void tst_PageLayout::maximumIsTheLastThatFits()
{
    const int most = PageLayout::maxHeaderFooterLines();
    QVERIFY2(most >= 6, "a six-line header and footer are common");
    QVERIFY(PageLayout::compose(1, most, most, 794, 1123).fits);
    QVERIFY(!PageLayout::compose(1, most + 1, most + 1, 794, 1123).fits);
}

QTEST_GUILESS_MAIN(tst_PageLayout)
#include "tst_PageLayout.moc"
