#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include "ConfigManager.h"
#include "DocSettingUI.h"
#include "MainUI.h"
#include "PageLayout.h"
#include "PaintedPage.h"
#include "UiTestEnvironment.h"

namespace {

template <typename Widget> Widget *child(const QWidget &dialog, const char *name)
{
    auto *widget = dialog.findChild<Widget *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

QByteArray docSettingIni(const DocSetting &setting)
{
    return "[Doc Setting]\r\nTitle=" + ConfigManager::hexEncode(setting.title).toLatin1() +
           "\r\nHeader=" + ConfigManager::hexEncode(setting.header).toLatin1() +
           "\r\nFooter=" + ConfigManager::hexEncode(setting.footer).toLatin1() + "\r\n";
}

} // namespace

class tst_DocSettingUI : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsStoredTexts();
    void acceptStoresAndReopensWithTwoLines();
    void rejectStoresNothing_data();
    void rejectStoresNothing();
    void acceptsOnlyWhatFitsThePage_data();
    void acceptsOnlyWhatFitsThePage();
};

void tst_DocSettingUI::initTestCase()
{
    QVERIFY(MainUI::installFonts()); // the widths are measured in the fonts the page uses
}

void tst_DocSettingUI::showsStoredTexts()
{
    const DocSetting stored{QStringLiteral("检测报告"), QStringLiteral("Kestrel Garage"),
                            QStringLiteral("Thanks")};
    UiTestEnvironment env({}, docSettingIni(stored));
    QVERIFY(env.isReady());
    env.writePictures();
    DocSettingUI dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Doc Setting"));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(child<QLineEdit>(dialog, "titleEdit")->text(), stored.title);
    QCOMPARE(child<QTextEdit>(dialog, "headerEdit")->toPlainText(), stored.header);
    QCOMPARE(child<QTextEdit>(dialog, "footerEdit")->toPlainText(), stored.footer);
    QCOMPARE(QApplication::focusWidget(), child<QLineEdit>(dialog, "titleEdit"));
    QCOMPARE(child<QTextEdit>(dialog, "headerEdit")->size(), QSize(500, 100));
    for (const char *name : {"titleLabel", "headerLabel", "footerLabel"})
        QVERIFY2(!child<QLabel>(dialog, name)->pixmap().isNull(), name);
    for (const char *name : {"acceptButton", "rejectButton"}) {
        auto *button = child<QPushButton>(dialog, name);
        QVERIFY2(!button->icon().isNull(), name);
        QCOMPARE(button->iconSize(), QSize(80, 32));
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    }
}

void tst_DocSettingUI::acceptStoresAndReopensWithTwoLines()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    const QString header = QStringLiteral("Kestrel Garage\n汽车维修 0571-8888");
    {
        DocSettingUI dialog;
        child<QLineEdit>(dialog, "titleEdit")->setText(QStringLiteral("Battery report"));
        child<QTextEdit>(dialog, "headerEdit")->setPlainText(header);
        child<QTextEdit>(dialog, "footerEdit")->setPlainText(QStringLiteral("Thank you"));
        QTest::mouseClick(child<QPushButton>(dialog, "acceptButton"), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(ConfigManager::instance()->docSetting(),
             (DocSetting{QStringLiteral("Battery report"), header, QStringLiteral("Thank you")}));
    QCOMPARE(env.iniValue("Doc Setting", "Header"), header);

    // Read back from main.ini by a fresh store, then shown again with its line break.
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    QVERIFY(ConfigManager::instance()->initialize() && ConfigManager::instance()->active());
    DocSettingUI reopened;
    QCOMPARE(child<QTextEdit>(reopened, "headerEdit")->toPlainText(), header);
    QCOMPARE(child<QTextEdit>(reopened, "headerEdit")->document()->blockCount(), 2);
}

void tst_DocSettingUI::rejectStoresNothing_data()
{
    QTest::addColumn<bool>("byCloseButton");
    QTest::newRow("cancel button") << false;
    QTest::newRow("title-bar close") << true;
}

void tst_DocSettingUI::rejectStoresNothing()
{
    QFETCH(bool, byCloseButton);
    const DocSetting stored{QStringLiteral("T"), QStringLiteral("H"), QStringLiteral("F")};
    UiTestEnvironment env({}, docSettingIni(stored));
    QVERIFY(env.isReady());
    const QByteArray iniBefore = env.dir().readFile(QStringLiteral("Config/main.ini"));
    DocSettingUI dialog;
    dialog.show();
    child<QLineEdit>(dialog, "titleEdit")->setText(QStringLiteral("changed"));
    child<QTextEdit>(dialog, "headerEdit")->setPlainText(QStringLiteral("changed"));
    if (byCloseButton)
        dialog.close();
    else
        QTest::mouseClick(child<QPushButton>(dialog, "rejectButton"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(ConfigManager::instance()->docSetting(), stored);
    QCOMPARE(env.dir().readFile(QStringLiteral("Config/main.ini")), iniBefore);
}

namespace {

QString numbered(int count)
{
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QStringLiteral("line %1").arg(i);
    return lines.join(QLatin1Char('\n'));
}

// The longest run of `word` that still fits a line at the given size, and one word more.
QString widest(const QString &word, int points, bool oneMore)
{
    QString line = word;
    while (PaintedPage::lineWidth(line + word, points) <= PageLayout::maxLineWidth)
        line += word;
    return oneMore ? line + word : line;
}

} // namespace

void tst_DocSettingUI::acceptsOnlyWhatFitsThePage_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("footer");
    QTest::addColumn<bool>("accepted");
    const int most = PageLayout::maxHeaderFooterLines();
    const int header = PageLayout::headerFooterPoints;
    QTest::newRow("most lines") << QStringLiteral("T") << numbered(most) << numbered(most) << true;
    QTest::newRow("header one line too many")
        << QStringLiteral("T") << numbered(most + 1) << QString() << false;
    QTest::newRow("footer one line too many")
        << QStringLiteral("T") << QString() << numbered(most + 1) << false;
    QTest::newRow("widest lines") << widest(QStringLiteral("Report "), PageLayout::titlePoints, false)
                                  << widest(QStringLiteral("Garage "), header, false)
                                  << widest(QStringLiteral("汽车"), header, false) << true;
    QTest::newRow("header line too wide")
        << QStringLiteral("T") << QStringLiteral("ok\n") + widest(QStringLiteral("Garage "), header, true)
        << QString() << false;
    QTest::newRow("Chinese footer too wide")
        << QStringLiteral("T") << QString() << widest(QStringLiteral("汽车"), header, true) << false;
    QTest::newRow("title too wide") << widest(QStringLiteral("Report "), PageLayout::titlePoints, true)
                                    << QString() << QString() << false;
}

void tst_DocSettingUI::acceptsOnlyWhatFitsThePage()
{
    QFETCH(QString, title);
    QFETCH(QString, header);
    QFETCH(QString, footer);
    QFETCH(bool, accepted);
    const DocSetting stored{QStringLiteral("T0"), QStringLiteral("H0"), QStringLiteral("F0")};
    UiTestEnvironment env({}, docSettingIni(stored));
    QVERIFY(env.isReady());
    DocSettingUI dialog;
    dialog.show();
    child<QLineEdit>(dialog, "titleEdit")->setText(title);
    child<QTextEdit>(dialog, "headerEdit")->setPlainText(header);
    child<QTextEdit>(dialog, "footerEdit")->setPlainText(footer);
    QTest::mouseClick(child<QPushButton>(dialog, "acceptButton"), Qt::LeftButton);

    QCOMPARE(dialog.isVisible(), !accepted);
    QCOMPARE(child<QLabel>(dialog, "problemLabel")->isVisible(), !accepted);
    const DocSetting expected = accepted ? DocSetting{title, header, footer} : stored;
    QCOMPARE(ConfigManager::instance()->docSetting(), expected);
    if (!accepted)
        QVERIFY(!child<QLabel>(dialog, "problemLabel")->text().isEmpty());
}

QTEST_MAIN(tst_DocSettingUI)
#include "tst_DocSettingUI.moc"
