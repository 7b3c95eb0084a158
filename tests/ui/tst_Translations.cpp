#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include "Codec.h"
#include "ConfigManager.h"
#include "DocSettingUI.h"
#include "HistoryCsv.h"
#include "HistoryManager.h"
#include "HistoryUI.h"
#include "Language.h"
#include "MainUI.h"
#include "UiTestEnvironment.h"

namespace {

const QString tsPath = QStringLiteral(KESTREL_SOURCE_DIR "/translations/kestrel_zh_CN.ts");
const QString builtQm = QStringLiteral(KESTREL_BINARY_DIR "/Translations/kestrel_zh_CN.qm");
const QString sourceList = QStringLiteral(KESTREL_BINARY_DIR "/translations/operator-sources.lst");

struct TsMessage
{
    QString context;
    QString source;
    QString comment;
    QString translation;
    bool numerus = false;
    QString type; // "unfinished", "vanished", "obsolete" or empty
};

QList<TsMessage> readTs(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QList<TsMessage> messages;
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage message;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        if (name == u"name") {
            context = xml.readElementText();
        } else if (name == u"message") {
            message = TsMessage{
                context, {}, {}, {}, xml.attributes().value(QLatin1String("numerus")) == u"yes", {}};
        } else if (name == u"source") {
            message.source = xml.readElementText();
        } else if (name == u"comment") {
            message.comment = xml.readElementText();
        } else if (name == u"translation") {
            message.type = xml.attributes().value(QLatin1String("type")).toString();
            if (!message.numerus)
                message.translation = xml.readElementText();
        } else if (name == u"numerusform") {
            message.translation = xml.readElementText();
        }
        // A message ends with its translation (and numerus forms); record it at the next message
        // or at the end of the file.
        if (name == u"translation" && !message.numerus)
            messages.append(message);
        if (name == u"numerusform")
            messages.append(message);
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

QSet<QString> placeholders(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%(\\d+|n)"));
    QSet<QString> found;
    for (const QRegularExpressionMatch &match : marker.globalMatch(text))
        found.insert(match.captured());
    return found;
}

// Latin words a Chinese operator's text may keep: names of programs, files, keys and formats,
// and the units and rating standards the workshop reads as symbols.
const QStringList keptWords = {
    QStringLiteral("CloseDataPrinter"),
    QStringLiteral("SaveDataProcess"),
    QStringLiteral("main.ini"),
    QStringLiteral("kestrel"),
    QStringLiteral("dialout"),
    QStringLiteral("Ctrl+H"),
    QStringLiteral("Word"),
    QStringLiteral("USB"),
    QStringLiteral("CSV"),
    QStringLiteral("csv"),
    QStringLiteral("PDF"),
    QStringLiteral("pdf"),
    QStringLiteral("docx"),
    QStringLiteral("doc"),
    QStringLiteral("UTC"),
    QStringLiteral("CCA"),
    QStringLiteral("mΩ"),
    QStringLiteral("V"),
    QStringLiteral("K"),
};

// The text without placeholders, keyboard mnemonics ("(&S)"), kept words and code points ("U+%2").
QString withoutKept(QString text)
{
    static const QRegularExpression marker(QStringLiteral("%(\\d+|n)"));
    static const QRegularExpression mnemonic(QStringLiteral("\\(&[A-Za-z]\\)|&(?=[A-Za-z])"));
    static const QRegularExpression codePoint(QStringLiteral("U\\+[0-9A-Fa-f]*"));
    text.remove(marker).remove(mnemonic).remove(codePoint);
    for (const QString &word : keptWords) {
        const QString alone =
            QStringLiteral("(?<![A-Za-z])%1(?![A-Za-z])").arg(QRegularExpression::escape(word));
        text.remove(QRegularExpression(alone));
    }
    return text;
}

bool hasLatinWord(const QString &text)
{
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    return withoutKept(text).contains(latin);
}

bool hasChinese(const QString &text)
{
    for (const QChar ch : text) {
        if (ch.script() == QChar::Script_Han)
            return true;
    }
    return false;
}

// Every text a widget and its children show the operator.
QStringList shownTexts(const QWidget &top)
{
    QList<const QWidget *> widgets{&top};
    for (const QWidget *child : top.findChildren<QWidget *>())
        widgets.append(child);
    QStringList texts;
    const auto add = [&texts](const QWidget *widget, const char *what, const QString &text) {
        if (!text.trimmed().isEmpty())
            texts << QStringLiteral("%1.%2: %3").arg(widget->objectName(), QLatin1String(what), text);
    };
    for (const QWidget *widget : widgets) {
        if (!widget->isVisibleTo(&top) && widget != &top)
            continue;
        add(widget, "windowTitle", widget->isWindow() ? widget->windowTitle() : QString());
        add(widget, "toolTip", widget->toolTip());
        add(widget, "accessibleName", widget->accessibleName());
        add(widget, "accessibleDescription", widget->accessibleDescription());
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            add(widget, "text", label->text());
        if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
            add(widget, "text", button->text());
        if (const auto *edit = qobject_cast<const QLineEdit *>(widget)) {
            add(widget, "placeholder", edit->placeholderText());
            if (edit->isReadOnly())
                add(widget, "text", edit->text());
        }
        // The folders a file dialog lists are the file system's, not texts of the program.
        if (const auto *combo = qobject_cast<const QComboBox *>(widget);
            combo && combo->objectName() != QLatin1String("lookInCombo")) {
            for (int i = 0; i < combo->count(); ++i)
                add(widget, "item", combo->itemText(i));
        }
        if (const auto *header = qobject_cast<const QHeaderView *>(widget); header && header->model()) {
            for (int i = 0; i < header->count(); ++i)
                add(widget, "header",
                    header->model()->headerData(i, header->orientation(), Qt::DisplayRole).toString());
        }
    }
    return texts;
}

// The lines of the list that still hold a Latin word outside the kept ones.
QStringList englishLeft(const QStringList &texts)
{
    QStringList left;
    for (const QString &line : texts) {
        const QString text = line.section(QStringLiteral(": "), 1);
        if (hasLatinWord(text))
            left << line;
    }
    return left;
}

struct ProgramRun
{
    bool finished = false;
    int exitCode = -1;
    QString output;
};

ProgramRun runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ProgramRun run;
    run.finished = process.waitForFinished(60000);
    if (!run.finished)
        process.kill();
    process.waitForFinished(5000);
    run.exitCode = process.exitCode();
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

// Puts the built translation where kestrel looks for it in the test's application tree.
bool placeTranslation(TestAppDir &dir)
{
    QDir().mkpath(dir.path(QStringLiteral("Translations")));
    return QFile::copy(builtQm, dir.path(QStringLiteral("Translations/kestrel_zh_CN.qm")));
}

} // namespace

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void languageChoice_data();
    void languageChoice();
    void everyTextIsTranslated();
    void sourcesAndTranslationAgree();
    void translatedText_data();
    void translatedText();
    void installAndBack();
    void windowsSpeakChinese_data();
    void windowsSpeakChinese();
    void runLogStaysEnglish();

private:
    QList<TsMessage> m_messages;
};

void tst_Translations::initTestCase()
{
    // The tests never follow the machine's language: each says which one it wants.
    QLocale::setDefault(QLocale::c());
    QString error;
    m_messages = readTs(tsPath, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(m_messages.size() > 100);
    QVERIFY2(QFile::exists(builtQm), qPrintable(builtQm));
}

void tst_Translations::cleanup()
{
    Language::uninstall();
}

void tst_Translations::languageChoice_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("systemLocale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("system, C") << "system"
                               << "C"
                               << "en";
    QTest::newRow("system, English") << "system"
                                     << "en_US"
                                     << "en";
    QTest::newRow("system, German") << "system"
                                    << "de_DE"
                                    << "en";
    QTest::newRow("system, mainland China") << "system"
                                            << "zh_CN"
                                            << "zh_CN";
    QTest::newRow("system, Singapore Chinese") << "system"
                                               << "zh_SG"
                                               << "zh_CN";
    QTest::newRow("system, Taiwan") << "system"
                                    << "zh_TW"
                                    << "zh_CN";
    QTest::newRow("en on a Chinese system") << "en"
                                            << "zh_CN"
                                            << "en";
    QTest::newRow("zh_CN on an English system") << "zh_CN"
                                                << "en_US"
                                                << "zh_CN";
    QTest::newRow("zh_CN on C") << "zh_CN"
                                << "C"
                                << "zh_CN";
    QTest::newRow("case and blanks") << " Zh_Cn "
                                     << "en_US"
                                     << "zh_CN";
    QTest::newRow("garbage follows the system, English") << "klingon"
                                                         << "en_GB"
                                                         << "en";
    QTest::newRow("garbage follows the system, Chinese") << "zh"
                                                         << "zh_CN"
                                                         << "zh_CN";
    QTest::newRow("empty follows the system") << ""
                                              << "zh_CN"
                                              << "zh_CN";
}

void tst_Translations::languageChoice()
{
    QFETCH(QString, setting);
    QFETCH(QString, systemLocale);
    QFETCH(QString, expected);
    QCOMPARE(Language::codeFor(setting, QLocale(systemLocale)), expected);
}

void tst_Translations::everyTextIsTranslated()
{
    QStringList unfinished;
    for (const TsMessage &message : std::as_const(m_messages)) {
        if (!message.type.isEmpty() || message.translation.isEmpty())
            unfinished << message.context + QStringLiteral("::") + message.source + QStringLiteral(" (") +
                              message.type + QLatin1Char(')');
    }
    QVERIFY2(unfinished.isEmpty(), qPrintable(unfinished.join(QLatin1Char('\n'))));
}

void tst_Translations::sourcesAndTranslationAgree()
{
    // lupdate run over the sources on a copy of the translation: a text added or changed in the
    // code shows as unfinished, one removed from the code as a message fewer.
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("kestrel_zh_CN.ts"));
    QVERIFY(QFile::copy(tsPath, copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    const ProgramRun run =
        runProgram(QStringLiteral(LUPDATE_PROGRAM),
                   {QStringLiteral("-no-obsolete"), QStringLiteral("-locations"), QStringLiteral("none"),
                    QLatin1Char('@') + sourceList, QStringLiteral("-ts"), copy});
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QString error;
    const QList<TsMessage> updated = readTs(copy, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList unfinished;
    for (const TsMessage &message : updated) {
        if (!message.type.isEmpty())
            unfinished << message.context + QStringLiteral("::") + message.source;
    }
    QVERIFY2(unfinished.isEmpty(), qPrintable(QStringLiteral("not translated:\n") + unfinished.join(u'\n')));
    QCOMPARE(updated.size(), m_messages.size());
}

void tst_Translations::translatedText_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<bool>("numerus");
    for (const TsMessage &message : std::as_const(m_messages)) {
        const QString tag = message.context + QStringLiteral("::") + message.source.left(60);
        QTest::newRow(qPrintable(tag))
            << message.context << message.source << message.comment << message.numerus;
    }
}

void tst_Translations::translatedText()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, comment);
    QFETCH(bool, numerus);

    TestAppDir dir;
    QVERIFY(placeTranslation(dir));
    QVERIFY(Language::install(QStringLiteral("zh_CN")));
    const QByteArray contextBytes = context.toUtf8();
    const QByteArray sourceBytes = source.toUtf8();
    const QByteArray commentBytes = comment.toUtf8();
    const QString chinese =
        QCoreApplication::translate(contextBytes.constData(), sourceBytes.constData(),
                                    comment.isEmpty() ? nullptr : commentBytes.constData(), numerus ? 2 : -1);

    QVERIFY(!chinese.trimmed().isEmpty());
    // Every value the code fills in still has its place; a count (%n) is filled in by translate().
    QSet<QString> expected = placeholders(source);
    if (numerus) {
        QVERIFY2(expected.remove(QStringLiteral("%n")), "a count text counts");
        QVERIFY2(chinese.contains(QLatin1Char('2')), qPrintable(chinese));
    }
    QCOMPARE(placeholders(chinese), expected);
    // Different from the English unless the English holds nothing but values, units and names.
    if (hasLatinWord(source)) {
        QVERIFY2(chinese != source, qPrintable(chinese));
        QVERIFY2(hasChinese(chinese), qPrintable(chinese));
    }
    QVERIFY2(!hasLatinWord(chinese), qPrintable(chinese));
    // Texts reach the run log's neighbours, main.ini and documents as GBK: each must survive it.
    QCOMPARE(Codec::toText(Codec::toBytes(chinese)), chinese);
}

void tst_Translations::installAndBack()
{
    TestAppDir dir;
    QVERIFY(placeTranslation(dir));
    QVERIFY(Language::install(QStringLiteral("zh_CN")));
    QCOMPARE(Language::code(), QStringLiteral("zh_CN"));
    QCOMPARE(QCoreApplication::translate("MainUI", "Query Data"), QStringLiteral("读取数据"));
    // Qt's own texts, from the Debian package's qtbase translation.
    {
        QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    }
    // The tester's date reads year first in Chinese.
    TestDate date = makeTestDate();
    date.year = 2026;
    date.month = 3;
    date.day = 7;
    QCOMPARE(TestRecordRules::dateText(date), QStringLiteral("2026-03-07"));

    QVERIFY(Language::install(QStringLiteral("en")));
    QCOMPARE(Language::code(), QStringLiteral("en"));
    QCOMPARE(QCoreApplication::translate("MainUI", "Query Data"), QStringLiteral("Query Data"));
    QCOMPARE(TestRecordRules::dateText(date), QStringLiteral("07-03-2026"));
    {
        QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text().remove(u'&'), QStringLiteral("Cancel"));
    }

    // Without kestrel's own file the texts stay English, and install says it was incomplete.
    QVERIFY(QFile::remove(dir.path(QStringLiteral("Translations/kestrel_zh_CN.qm"))));
    QVERIFY(!Language::install(QStringLiteral("zh_CN")));
    QCOMPARE(QCoreApplication::translate("MainUI", "Query Data"), QStringLiteral("Query Data"));
}

void tst_Translations::windowsSpeakChinese_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main window") << "main";
    QTest::newRow("main window, printing off") << "main, printing off";
    QTest::newRow("history window") << "history";
    QTest::newRow("document settings") << "doc settings";
    QTest::newRow("document settings, refused title") << "doc settings, refused";
    QTest::newRow("Qt file dialog") << "file dialog";
}

void tst_Translations::windowsSpeakChinese()
{
    QFETCH(QString, window);
    const bool printingOff = window.contains(QLatin1String("printing off"));
    UiTestEnvironment env(printingOff ? QStringList{QStringLiteral("CloseDataPrinter=1")} : QStringList{});
    QVERIFY(env.isReady());
    env.writePictures();
    QVERIFY(placeTranslation(env.dir()));
    QVERIFY(Language::install(QStringLiteral("zh_CN")));

    QStringList texts;
    if (window.startsWith(QLatin1String("main"))) {
        MainUI main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        texts = shownTexts(main);
        QVERIFY2(!main.statusText().isEmpty(), "the status line says why no tester is listed");
    } else if (window == QLatin1String("history")) {
        HistoryManager *history = HistoryManager::instance();
        QVERIFY(history->initialize());
        QVERIFY(history->active());
        QTRY_COMPARE(history->state(), HistoryManager::State::Ready);
        {
            HistoryUI historyWindow(ConfigManager::instance()->historySetting());
            historyWindow.show();
            QVERIFY(QTest::qWaitForWindowExposed(&historyWindow));
            const auto *status = historyWindow.findChild<QLabel *>(QStringLiteral("statusLabel"));
            if (status)
                QTRY_VERIFY(!status->text().isEmpty());
            texts = shownTexts(historyWindow);
        }
        history->deactive();
        history->exit();
        HistoryManager::destroyInstance();
        // The exported file speaks the same language as the window.
        texts << QStringLiteral("csv: ") + HistoryCsv::headerFields().join(QLatin1Char(','));
    } else if (window.startsWith(QLatin1String("doc settings"))) {
        DocSettingUI dialog;
        if (window.endsWith(QLatin1String("refused")))
            dialog.findChild<QLineEdit *>(QStringLiteral("titleEdit"))
                ->setText(QStringLiteral(u"报告 \U0001F600"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        texts = shownTexts(dialog);
        if (window.endsWith(QLatin1String("refused")))
            QVERIFY2(texts.join(u'\n').contains(QStringLiteral(u"标题")), qPrintable(texts.join(u'\n')));
    } else {
        QFileDialog dialog(nullptr, QCoreApplication::translate("MainUI", "Save File"), env.dir().root());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        texts = shownTexts(dialog);
    }
    QVERIFY(!texts.isEmpty());
    const QStringList left = englishLeft(texts);
    QVERIFY2(left.isEmpty(), qPrintable(QStringLiteral("English left:\n") + left.join(QLatin1Char('\n'))));
}

void tst_Translations::runLogStaysEnglish()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    QVERIFY(placeTranslation(env.dir()));
    QVERIFY(Language::install(QStringLiteral("zh_CN")));
    const QString missingFolder = env.dir().path(QStringLiteral("nowhere/report.pdf"));
    {
        MainUI main;
        int offered = 0;
        main.setSaveFileChooser(
            [&](QWidget *, MainUI::SaveDialogSetup &) { return offered++ == 0 ? missingFolder : QString(); });
        main.saveAsClicked();
        QCOMPARE(main.statusText(), QStringLiteral("未保存：文件夹不存在"));
    }
    const QStringList lines = env.runLogLines();
    const QString expected =
        QStringLiteral("MainUI Save As refused, Reason:the folder does not exist, Doc Path:") + missingFolder;
    QVERIFY2(std::any_of(lines.cbegin(), lines.cend(),
                         [&](const QString &line) { return line.endsWith(expected); }),
             qPrintable(lines.join(QLatin1Char('\n'))));
    for (const QString &line : lines)
        QVERIFY2(!hasChinese(line), qPrintable(line));
}

QTEST_MAIN(tst_Translations)
#include "tst_Translations.moc"
