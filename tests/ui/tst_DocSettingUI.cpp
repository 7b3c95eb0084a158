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
    void refusesWhatDocumentsCannotCarry_data();
    void refusesWhatDocumentsCannotCarry();
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
    QCOMPARE(child<QLabel>(dialog, "problemLabel")->text().isEmpty(), accepted);
    const DocSetting expected = accepted ? DocSetting{title, header, footer} : stored;
    QCOMPARE(ConfigManager::instance()->docSetting(), expected);
    if (!accepted)
        QVERIFY(!child<QLabel>(dialog, "problemLabel")->text().isEmpty());
}

void tst_DocSettingUI::refusesWhatDocumentsCannotCarry_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("problem"); // empty: accepted
    const int lines = PageLayout::maxHeaderFooterLines();
    QVERIFY(lines >= 2);
    const auto linesOf = [](int count) {
        QStringList list;
        for (int i = 1; i <= count; ++i)
            list << QStringLiteral("line %1").arg(i);
        return list.join(QLatin1Char('\n'));
    };
    QTest::newRow("title with an emoji")
        << "titleEdit" << QStringLiteral("Report \U0001F600")
        << QStringLiteral("The title holds \u201c\U0001F600\u201d (U+1f600), which documents cannot carry");
    QTest::newRow("header with a Turkish letter")
        << "headerEdit" << QStringLiteral("Garage\n\u015e")
        << QStringLiteral("The header holds \u201c\u015e\u201d (U+015e), which documents cannot carry");
    QTest::newRow("footer with an accented letter")
        << "footerEdit" << QStringLiteral("Gy\u0151r")
        << QStringLiteral("The footer holds \u201c\u0151\u201d (U+0151), which documents cannot carry");
    QTest::newRow("header longer than the page holds")
        << "headerEdit" << linesOf(lines + 1)
        << QStringLiteral("The header has %1 lines; the page holds %2 with the report")
               .arg(lines + 1)
               .arg(lines);
    QTest::newRow("footer longer than the page holds")
        << "footerEdit" << linesOf(lines + 3)
        << QStringLiteral("The footer has %1 lines; the page holds %2 with the report")
               .arg(lines + 3)
               .arg(lines);
    QTest::newRow("header as long as the page holds") << "headerEdit" << linesOf(lines) << QString();
    QTest::newRow("Chinese footer") << "footerEdit" << QStringLiteral("\u6c7d\u8f66\u7ef4\u4fee")
                                    << QString();
    QTest::newRow("title wider than the page")
        << "titleEdit" << QString(400, QLatin1Char('t'))
        << QStringLiteral("The title is wider than the page: shorten it");
}

void tst_DocSettingUI::refusesWhatDocumentsCannotCarry()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, problem);
    const DocSetting stored{QStringLiteral("T"), QStringLiteral("H"), QStringLiteral("F")};
    UiTestEnvironment env({}, docSettingIni(stored));
    QVERIFY(env.isReady());
    DocSettingUI dialog;
    dialog.show();
    QWidget *edit = dialog.findChild<QWidget *>(field);
    QVERIFY(edit);
    if (auto *line = qobject_cast<QLineEdit *>(edit))
        line->setText(text);
    else
        qobject_cast<QTextEdit *>(edit)->setPlainText(text);

    auto *accept = child<QPushButton>(dialog, "acceptButton");
    QCOMPARE(accept->isEnabled(), problem.isEmpty());
    QCOMPARE(child<QLabel>(dialog, "problemLabel")->text(), problem);
    QCOMPARE(edit->toolTip(), problem);
    QTest::mouseClick(accept, Qt::LeftButton);
    if (!problem.isEmpty()) {
        // Nothing stored, nothing closed; setting the text right makes OK work again.
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QCOMPARE(ConfigManager::instance()->docSetting(), stored);
        if (auto *line = qobject_cast<QLineEdit *>(edit))
            line->setText(QStringLiteral("fine"));
        else
            qobject_cast<QTextEdit *>(edit)->setPlainText(QStringLiteral("fine"));
        QVERIFY(accept->isEnabled());
        QVERIFY(edit->toolTip().isEmpty());
        QTest::mouseClick(accept, Qt::LeftButton);
        text = QStringLiteral("fine");
    }
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const DocSetting saved = ConfigManager::instance()->docSetting();
    QCOMPARE(field == QLatin1String("titleEdit")    ? saved.title
             : field == QLatin1String("headerEdit") ? saved.header
                                                    : saved.footer,
             text);
}

QTEST_MAIN(tst_DocSettingUI)
#include "tst_DocSettingUI.moc"
