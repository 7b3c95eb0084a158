#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include "AppPaths.h"
#include "Artwork.h"
#include "DocSettingUI.h"
#include "MainUI.h"
#include "ReportPage.h"
#include "TestAppDir.h"
#include "UiTestEnvironment.h"

// The pictures are looked up in the language's folder first and in Image/ after; the window, the
// report page (and so the saved page and the documents made from it) and the settings dialog all
// show the pictures of the program's language.
class tst_Artwork : public QObject
{
    Q_OBJECT

private slots:
    void pathPrefersTheLanguage_data();
    void pathPrefersTheLanguage();
    void windowPageAndDialogShowTheLanguage();
};

namespace {

template <typename Widget> Widget *child(const QWidget &parent, const char *name)
{
    auto *widget = parent.findChild<Widget *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

QColor middleColour(const QPixmap &pixmap)
{
    if (pixmap.isNull())
        return QColor();
    return pixmap.toImage().pixelColor(pixmap.width() / 2, pixmap.height() / 2);
}

// The colour in the middle of a box of the logical page, mapped onto the page picture.
QColor pageColour(const QImage &page, const QRect &box)
{
    const QRect window = ReportPage::painterWindow;
    const QPointF centre = QRectF(box).center();
    const QPointF pixel((centre.x() - window.x()) * page.width() / window.width(),
                        (centre.y() - window.y()) * page.height() / window.height());
    return page.pixelColor(pixel.toPoint());
}

} // namespace

void tst_Artwork::pathPrefersTheLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("expected");

    const QString english = QStringLiteral("Image/Customer.png");
    const QString chinese = QStringLiteral("Image/zh_CN/Customer.png");
    QTest::newRow("picture of the language") << "zh_CN" << QStringList{english, chinese} << chinese;
    QTest::newRow("language without this picture")
        << "zh_CN" << QStringList{english, QStringLiteral("Image/zh_CN/Date.png")} << english;
    QTest::newRow("language without folder") << "zh_CN" << QStringList{english} << english;
    QTest::newRow("english") << "en" << QStringList{english, chinese} << english;
    QTest::newRow("no language") << "" << QStringList{english, chinese} << english;
    QTest::newRow("missing everywhere") << "zh_CN" << QStringList{} << english;
    QTest::newRow("folder in place of the picture")
        << "zh_CN" << QStringList{english, QStringLiteral("Image/zh_CN/Customer.png/inside")} << english;
    // The code names a folder; one that leads out of Image/ is not followed.
    QTest::newRow("code leaving Image")
        << "../Temp" << QStringList{english, QStringLiteral("Temp/Customer.png")} << english;
    QTest::newRow("code with a folder")
        << "zh_CN/../../Temp" << QStringList{english, QStringLiteral("Temp/Customer.png")} << english;
}

void tst_Artwork::pathPrefersTheLanguage()
{
    QFETCH(QString, language);
    QFETCH(QStringList, files);
    QFETCH(QString, expected);

    TestAppDir dir;
    QVERIFY(dir.isValid());
    AppPaths::setApplicationDirOverride(dir.binDir());
    const auto restore = qScopeGuard([] { AppPaths::setApplicationDirOverride(QString()); });
    for (const QString &file : files)
        QVERIFY(dir.writeFile(file, QByteArray("picture")));

    QCOMPARE(QDir::cleanPath(Artwork::path(QStringLiteral("Customer.png"), language)),
             QDir::cleanPath(dir.path(expected)));
}

void tst_Artwork::windowPageAndDialogShowTheLanguage()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    env.writePictures(QSize(80, 48), QStringLiteral("zh_CN"));
    // Pictures the language lacks come from Image/.
    QVERIFY(QFile::remove(env.dir().path(QStringLiteral("Image/zh_CN/Capacity.png"))));
    QVERIFY(QFile::remove(env.dir().path(QStringLiteral("Image/zh_CN/3-0.png"))));
    QVERIFY(QFile::remove(env.dir().path(QStringLiteral("Image/zh_CN/Cancel.png"))));
    const auto expected = [](const char *file, bool translated = true) {
        return UiTestEnvironment::pictureColour(QString::fromLatin1(file),
                                                translated ? QStringLiteral("zh_CN") : QString());
    };

    Artwork::setLanguage(QStringLiteral("zh_CN"));
    const auto restore = qScopeGuard([] { Artwork::setLanguage(QStringLiteral("en")); });
    MainUI window;

    QCOMPARE(middleColour(child<QLabel>(window, "customerLabel")->pixmap()), expected("Customer.png"));
    QCOMPARE(middleColour(child<QLabel>(window, "usbLabel")->pixmap()), expected("USB.png"));
    QCOMPARE(middleColour(child<QLabel>(window, "capacityShowLabel")->pixmap()),
             expected("Capacity.png", false));
    QCOMPARE(middleColour(child<QLabel>(window, "batteryShowLabel")->pixmap()), expected("1-0.png"));
    QCOMPARE(middleColour(child<QLabel>(window, "starterShowLabel")->pixmap()), expected("3-0.png", false));
    QCOMPARE(middleColour(child<QPushButton>(window, "printerButton")->icon().pixmap(QSize(80, 48))),
             expected("Printer.png"));

    QPixmap pixmap(ReportPage::pageSize);
    window.renderReport(pixmap, env.dir().path(QStringLiteral("Temp/page.png")));
    const QImage saved(env.dir().path(QStringLiteral("Temp/page.png")));
    QVERIFY(!saved.isNull());
    const std::tuple<QRect, const char *, bool> boxes[] = {
        {ReportPage::headerPictureBox(ReportPage::headerCell(ReportPage::HeaderItem::Customer)),
         "Customer.png", true},
        {ReportPage::headerPictureBox(ReportPage::headerCell(ReportPage::HeaderItem::Capacity)),
         "Capacity.png", false},
        {ReportPage::sectionPictureBox(ReportPage::sectionCell(Section::Battery)), "1-0.png", true},
        {ReportPage::sectionPictureBox(ReportPage::sectionCell(Section::Starter)), "3-0.png", false},
    };
    for (const auto &[box, file, translated] : boxes)
        QCOMPARE(pageColour(saved, box), expected(file, translated));

    DocSettingUI dialog;
    QCOMPARE(middleColour(child<QLabel>(dialog, "titleLabel")->pixmap()), expected("Title.png"));
    QCOMPARE(middleColour(child<QPushButton>(dialog, "acceptButton")->icon().pixmap(QSize(80, 48))),
             expected("SaveAs.png"));
    QCOMPARE(middleColour(child<QPushButton>(dialog, "rejectButton")->icon().pixmap(QSize(80, 48))),
             expected("Cancel.png", false));
}

QTEST_MAIN(tst_Artwork)
#include "tst_Artwork.moc"
