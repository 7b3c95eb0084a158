#include <QFile>
#include <QImage>
#include <QRect>
#include <QRegularExpression>
#include <QTest>

// Every caption of the artwork in every language, measured in the rendered picture. The ink of the
// captions is where the picture differs from the same picture drawn with every caption empty; it
// must lie in the caption box the picture table gives, and that box must hold nothing of the icon
// or the frame, so a caption that fits its box neither leaves the picture nor touches the icon.
class tst_ArtworkCaptions : public QObject
{
    Q_OBJECT

private slots:
    void captionsFitTheirBox_data();
    void captionsFitTheirBox();
};

namespace {

// A channel step smaller than this is the faint edge of antialiasing, not visible ink.
constexpr int inkThreshold = 16;
// Captions lower than this many pixels (with accents, descenders) are too small to read.
constexpr int smallestCaptionHeight = 8;

bool differs(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) > inkThreshold || qAbs(qGreen(a) - qGreen(b)) > inkThreshold ||
           qAbs(qBlue(a) - qBlue(b)) > inkThreshold || qAbs(qAlpha(a) - qAlpha(b)) > inkThreshold;
}

QString shown(const QRect &rect)
{
    return QStringLiteral("(%1,%2 %3x%4)").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

} // namespace

void tst_ArtworkCaptions::captionsFitTheirBox_data()
{
    QTest::addColumn<QString>("captioned");
    QTest::addColumn<QString>("bare");
    QTest::addColumn<QRect>("box");

    QFile table(QStringLiteral(KESTREL_BINARY_DIR "/assets/caption-boxes.txt"));
    QVERIFY2(table.open(QIODevice::ReadOnly | QIODevice::Text),
             "no caption table: configure with BUILD_TESTING and build kestrel_artwork");
    int rows = 0;
    while (!table.atEnd()) {
        const QStringList fields = QString::fromUtf8(table.readLine()).simplified().split(QLatin1Char(' '));
        if (fields.size() != 6)
            continue;
        const QRect box(fields[2].toInt(), fields[3].toInt(), fields[4].toInt(), fields[5].toInt());
        // "zh_CN/Customer.png", "Customer.png"
        const QString tag = fields[0].section(QLatin1Char('/'), -2).remove(QRegularExpression("^Image/"));
        QTest::newRow(qPrintable(tag)) << fields[0] << fields[1] << box;
        ++rows;
    }
    QVERIFY2(rows > 0, "the caption table lists no picture");
}

void tst_ArtworkCaptions::captionsFitTheirBox()
{
    QFETCH(QString, captioned);
    QFETCH(QString, bare);
    QFETCH(QRect, box);

    const QImage picture = QImage(captioned).convertToFormat(QImage::Format_ARGB32);
    const QImage blank = QImage(bare).convertToFormat(QImage::Format_ARGB32);
    QVERIFY2(!picture.isNull(), qPrintable(captioned));
    QVERIFY2(!blank.isNull(), qPrintable(bare));
    QCOMPARE(picture.size(), blank.size());
    // The box keeps a pixel of margin to every edge of the picture.
    QVERIFY2(picture.rect().adjusted(1, 1, -1, -1).contains(box), qPrintable(shown(box)));

    // The box is empty ground: one colour, no part of the icon or the frame.
    const QRgb ground = blank.pixel(box.topLeft());
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            if (blank.pixel(x, y) != ground)
                QFAIL(qPrintable(QStringLiteral("the caption box %1 covers drawing at %2,%3")
                                     .arg(shown(box))
                                     .arg(x)
                                     .arg(y)));
        }
    }

    QRect ink;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (differs(picture.pixel(x, y), blank.pixel(x, y)))
                ink |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY2(!ink.isEmpty(), "no caption drawn");
    QVERIFY2(box.contains(ink),
             qPrintable(QStringLiteral("caption ink %1 outside its box %2").arg(shown(ink), shown(box))));
    QVERIFY2(ink.height() >= smallestCaptionHeight,
             qPrintable(QStringLiteral("caption only %1 pixels high").arg(ink.height())));
}

QTEST_GUILESS_MAIN(tst_ArtworkCaptions)
#include "tst_ArtworkCaptions.moc"
