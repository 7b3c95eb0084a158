#include "MainUI.h"

#include <cstring>

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

#include "AppPaths.h"
#include "Artwork.h"
#include "Codec.h"
#include "ConfigManager.h"
#include "DocSettingUI.h"
#include "HistoryMessages.h"
#include "HistoryReader.h"
#include "HistoryManager.h"
#include "HistoryUI.h"
#include "LogManager.h"
#include "PaintedPage.h"
#include "PdfWriter.h"
#include "PortComboBox.h"
#include "ReportText.h"
#include "SavePath.h"
#include "ServiceMessages.h"
#include "TesterPort.h"
#include "TesterPortSearch.h"
#include "ui_MainUI.h"

namespace {

// Pictures are read at each use, with captions in the program's language; a missing file gives
// an empty picture.
QString imagePath(const QString &fileName)
{
    return Artwork::path(fileName, Artwork::language());
}
QPixmap picture(const QString &fileName)
{
    return Artwork::picture(fileName, Artwork::language());
}

constexpr QSize buttonIconSize(130, 50);

// The file dialog that refuses, and stays open on, a path the document could not be written at.
// (A native dialog of the platform closes anyway; the window then opens it again with the name.)
class DocPathDialog final : public QFileDialog
{
public:
    DocPathDialog(QWidget *parent, MainUI::SaveDialogSetup &setup)
        : QFileDialog(parent, setup.caption, setup.suggestedPath), m_setup(setup)
    {
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        setNameFilters(setup.filters);
        selectNameFilter(setup.selectedFilter);
        setObjectName(QStringLiteral("saveFileDialog"));
    }

    void accept() override
    {
        // The name as typed: while the folder is still being read, selectedFiles() may give the
        // folder itself rather than the name in the field.
        QString typed = selectedFiles().value(0);
        if (const auto *nameField = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            nameField && !nameField->text().isEmpty())
            typed = QDir::isAbsolutePath(nameField->text()) ? nameField->text()
                                                            : directory().absoluteFilePath(nameField->text());
        // A folder typed into the name field is opened, as the dialog always does.
        if (!typed.isEmpty() && !QFileInfo(typed).isDir() && m_setup.problem) {
            const QString path = SavePath::withSuffix(typed, selectedNameFilter());
            if (!m_setup.problem(path).isEmpty())
                return;
        }
        QFileDialog::accept();
    }

private:
    MainUI::SaveDialogSetup &m_setup;
};

QString defaultSaveFileChooser(QWidget *parent, MainUI::SaveDialogSetup &setup)
{
    DocPathDialog dialog(parent, setup);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    setup.selectedFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().value(0);
}

// The caption each picture's artwork shows, for screen readers and tooltips.
QString pictureCaption(const QString &fileName)
{
    static const std::pair<const char *, const char *> captions[] = {
        {"USB.png", QT_TRANSLATE_NOOP("MainUI", "USB Port")},
        {"Customer.png", QT_TRANSLATE_NOOP("MainUI", "Customer")},
        {"BatteryModel.png", QT_TRANSLATE_NOOP("MainUI", "Battery Model")},
        {"Date.png", QT_TRANSLATE_NOOP("MainUI", "Test Date")},
        {"RegistrationNo.png", QT_TRANSLATE_NOOP("MainUI", "Reg. No.")},
        {"Capacity.png", QT_TRANSLATE_NOOP("MainUI", "Capacity")},
        {"AddReport.png", QT_TRANSLATE_NOOP("MainUI", "Add to Report")},
        {"DocHeader.png", QT_TRANSLATE_NOOP("MainUI", "Doc Settings")},
        {"QueryData.png", QT_TRANSLATE_NOOP("MainUI", "Query Data")},
        {"Printer.png", QT_TRANSLATE_NOOP("MainUI", "Print")},
        {"SaveAs.png", QT_TRANSLATE_NOOP("MainUI", "Save As")},
        {"History.png", QT_TRANSLATE_NOOP("MainUI", "History")},
    };
    for (const auto &[name, caption] : captions) {
        if (fileName == QLatin1String(name))
            return QCoreApplication::translate("MainUI", caption);
    }
    // Section pictures "<section>-<result>.png": the section and its verdict.
    static const char *const sections[] = {
        QT_TRANSLATE_NOOP("MainUI", "Battery"),     QT_TRANSLATE_NOOP("MainUI", "Grounding"),
        QT_TRANSLATE_NOOP("MainUI", "Starter"),     QT_TRANSLATE_NOOP("MainUI", "Charging 3K"),
        QT_TRANSLATE_NOOP("MainUI", "Charging 2K"), QT_TRANSLATE_NOOP("MainUI", "Average 2K"),
    };
    static const char *const verdicts[] = {
        QT_TRANSLATE_NOOP("MainUI", "no result"), QT_TRANSLATE_NOOP("MainUI", "pass"),
        QT_TRANSLATE_NOOP("MainUI", "attention"), QT_TRANSLATE_NOOP("MainUI", "result 3"),
        QT_TRANSLATE_NOOP("MainUI", "replace"),
    };
    const QStringList parts = QFileInfo(fileName).completeBaseName().split(QLatin1Char('-'));
    const int section = parts.value(0).toInt() - 1;
    bool isNumber = false;
    const int verdict = parts.value(1).toInt(&isNumber);
    if (parts.size() != 2 || section < 0 || section >= 6 || !isNumber)
        return fileName;
    const QString verdictText = verdict >= 0 && verdict < 5
                                    ? QCoreApplication::translate("MainUI", verdicts[verdict])
                                    : QCoreApplication::translate("MainUI", "result %1").arg(verdict);
    return QCoreApplication::translate("MainUI", "%1: %2")
        .arg(QCoreApplication::translate("MainUI", sections[section]), verdictText);
}

void setPicture(QLabel *label, const QString &fileName)
{
    label->setPixmap(picture(fileName));
    label->setAccessibleName(pictureCaption(fileName));
    label->setToolTip(pictureCaption(fileName));
}

constexpr int resultMessageCount = 9;

QString noTesterText()
{
#ifdef Q_OS_LINUX
    return QCoreApplication::translate(
        "MainUI", "No tester found. Check the cable; the user must be allowed to open serial ports "
                  "(group dialout).");
#else
    return QCoreApplication::translate("MainUI", "No tester found. Check the cable.");
#endif
}
constexpr int configWatchIntervalMs = 1000;

bool defaultPrintDialogRunner(QPrinter &printer, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

MainUI::MainUI(QWidget *parent)
    : VirtualWidget(parent), m_ui(std::make_unique<Ui::MainUI>()), m_saveFileChooser(defaultSaveFileChooser),
      m_printDialogRunner(defaultPrintDialogRunner)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);

    setPicture(m_ui->usbLabel, QStringLiteral("USB.png"));
    setPicture(m_ui->customerLabel, QStringLiteral("Customer.png"));
    setPicture(m_ui->batteryModelLabel, QStringLiteral("BatteryModel.png"));
    setPicture(m_ui->dataShowLabel, QStringLiteral("Date.png"));
    setPicture(m_ui->customerShowLabel, QStringLiteral("Customer.png"));
    setPicture(m_ui->registrationNoShowLabel, QStringLiteral("RegistrationNo.png"));
    setPicture(m_ui->batteryModelShowLabel, QStringLiteral("BatteryModel.png"));
    setPicture(m_ui->capacityShowLabel, QStringLiteral("Capacity.png"));

    const std::pair<QPushButton *, QString> buttons[] = {
        {m_ui->addReportButton, QStringLiteral("AddReport.png")},
        {m_ui->docSettingButton, QStringLiteral("DocHeader.png")},
        {m_ui->queryDataButton, QStringLiteral("QueryData.png")},
        {m_ui->printerButton, QStringLiteral("Printer.png")},
        {m_ui->saveAsButton, QStringLiteral("SaveAs.png")},
        {m_ui->historyButton, QStringLiteral("History.png")},
    };
    for (const auto &[button, icon] : buttons) {
        button->setIcon(QIcon(imagePath(icon)));
        button->setIconSize(buttonIconSize);
        // The artwork is the button's only caption; screen readers and tooltips need it as text.
        button->setAccessibleName(pictureCaption(icon));
        button->setToolTip(pictureCaption(icon));
    }
    m_ui->usbComboBox->setAccessibleName(tr("Tester port"));
    m_ui->customerEdit->setAccessibleName(tr("Customer"));
    m_ui->batteryModelEdit->setAccessibleName(tr("Battery model"));
    m_ui->statusLabel->setAccessibleName(tr("Status"));

    // Only ports on which a tester answers are listed. The first search runs before the window is
    // shown; later ones (when the list is opened) run off the GUI thread.
    setPorts(scanTesterPorts());

    const TestInfo testInfo = ConfigManager::instance()->testInfo();
    m_ui->customerEdit->setText(testInfo.customer);
    m_ui->batteryModelEdit->setText(testInfo.batteryModel);

    m_ui->paintWidget->setAttribute(Qt::WA_TranslucentBackground);

    connect(m_ui->addReportButton, &QPushButton::clicked, this, &MainUI::addReportClicked);
    connect(m_ui->queryDataButton, &QPushButton::clicked, this, &MainUI::queryDataClicked);
    connect(m_ui->printerButton, &QPushButton::clicked, this, &MainUI::printerClicked);
    connect(m_ui->docSettingButton, &QPushButton::clicked, this, &MainUI::docSettingClicked);
    connect(m_ui->saveAsButton, &QPushButton::clicked, this, &MainUI::saveAsClicked);
    connect(m_ui->customerEdit, &QLineEdit::returnPressed, this, &MainUI::addReportClicked);
    connect(m_ui->batteryModelEdit, &QLineEdit::returnPressed, this, &MainUI::addReportClicked);
    connect(m_ui->customerEdit, &QLineEdit::textChanged, this, &MainUI::updatePending);
    connect(m_ui->batteryModelEdit, &QLineEdit::textChanged, this, &MainUI::updatePending);
    connect(m_ui->usbComboBox, &PortComboBox::popupAboutToShow, this, &MainUI::searchPorts);

    m_configWatch = new QTimer(this);
    connect(m_configWatch, &QTimer::timeout, this, &MainUI::updatePrintButton);
    m_configWatch->start(configWatchIntervalMs);
    connect(m_ui->historyButton, &QPushButton::clicked, this, &MainUI::historyClicked);

    addReportClicked();
    updatePrintButton();
    if (m_ui->usbComboBox->count() == 0)
        showNoTester();

    registerMessageHandler(MSG_QUERY_DATA_FINISHED, &MainUI::onQueryDataFinished);
    registerMessageHandler(MSG_BATTERY_RESULT, &MainUI::onBatteryResult);
    registerMessageHandler(MSG_GROUNDING_RESULT, &MainUI::onGroundingResult);
    registerMessageHandler(MSG_STARTER_RESULT, &MainUI::onStarterResult);
    registerMessageHandler(MSG_CHARGING3K_RESULT, &MainUI::onCharging3KResult);
    registerMessageHandler(MSG_CHARGING2K_RESULT, &MainUI::onCharging2KResult);
    registerMessageHandler(MSG_AVG2K_RESULT, &MainUI::onAvg2KResult);
    registerMessageHandler(MSG_TEST_DATE, &MainUI::onTestDate);
    registerMessageHandler(MSG_REGISTRATION_NO_INFO, &MainUI::onRegistrationNoInfo);
    registerMessageHandler(MSG_CAPACITY_INFO, &MainUI::onCapacityInfo);
    registerMessageHandler(MSG_SAVE_DATA_OUTCOME, &MainUI::onSaveDataOutcome);
}

MainUI::~MainUI()
{
    if (m_portSearch)
        m_portSearch->wait();
    delete m_historyWindow; // before the reader it uses
}

void MainUI::setHistoryReceiver(MessageReceiver *receiver)
{
    m_historyReceiver = receiver;
    if (!receiver || m_historyReader)
        return;
    const HistorySetting setting = ConfigManager::instance()->historySetting();
    m_historyReader = new HistoryReader(setting, HistoryManager::databasePath(), this);
    // A server connection takes tens of milliseconds to open: opened now, the history window
    // shows its first rows without waiting for it. The file of the embedded store opens at once.
    if (setting.isServer())
        m_historyReader->prepare();
}

bool MainUI::installFonts()
{
    const QStringList families = QFontDatabase::families();
    const auto installed = [&families](const QString &family) {
        return families.contains(family, Qt::CaseInsensitive);
    };
    const auto substitute = [&installed](const QString &wanted, const QStringList &candidates) {
        if (installed(wanted))
            return true;
        for (const QString &candidate : candidates) {
            if (installed(candidate)) {
                QFont::insertSubstitution(wanted, candidate);
                return true;
            }
        }
        LogManager::instance()->writeRunLog(
            QStringLiteral("MainUI Font substitution failed, Font:%1").arg(wanted));
        return false;
    };
    // The section texts line up numbers with spaces; a fixed-pitch Chinese face keeps them aligned
    // as SimSun's half-width Latin letters do.
    const bool chinese =
        substitute(QStringLiteral("SimSun"),
                   {QStringLiteral("WenQuanYi Micro Hei Mono"), QStringLiteral("WenQuanYi Micro Hei"),
                    QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("AR PL UMing CN")});
    const bool latin =
        substitute(QStringLiteral("Arial"), {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                             QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
    return chinese && latin;
}

void MainUI::setSaveFileChooser(SaveFileChooser chooser)
{
    m_saveFileChooser = chooser ? std::move(chooser) : SaveFileChooser(defaultSaveFileChooser);
}

void MainUI::setPrintDialogRunner(PrintDialogRunner runner)
{
    m_printDialogRunner = runner ? std::move(runner) : PrintDialogRunner(defaultPrintDialogRunner);
}

void MainUI::showDate()
{
    m_ui->dataTextLabel->setText(TestRecordRules::dateText(m_record.testDate));
}

void MainUI::showRegistrationNo()
{
    m_ui->registrationNoTextLabel->setText(TestRecordRules::registrationText(m_record.registrationNoInfo));
}

void MainUI::showCapacity()
{
    m_ui->capacityTextLabel->setText(TestRecordRules::capacityText(m_record.capacityInfo, m_record.battery));
}

void MainUI::showSection(Section section)
{
    setPicture(sectionPictureLabel(section), ReportText::sectionPicture(m_record, section));
    sectionTextLabel(section)->setText(ReportText::sectionText(m_record, section, ReportText::Form::Screen));
}

void MainUI::showAll()
{
    showDate();
    showRegistrationNo();
    showCapacity();
    for (Section section : {Section::Battery, Section::Grounding, Section::Starter, Section::Charging3K,
                            Section::Charging2K, Section::Avg2K})
        showSection(section);
}

QLabel *MainUI::sectionPictureLabel(Section section) const
{
    switch (section) {
    case Section::Battery:
        return m_ui->batteryShowLabel;
    case Section::Grounding:
        return m_ui->groundingShowLabel;
    case Section::Starter:
        return m_ui->starterShowLabel;
    case Section::Charging3K:
        return m_ui->charging3KShowLabel;
    case Section::Charging2K:
        return m_ui->charging2KShowLabel;
    case Section::Avg2K:
        return m_ui->avg2KShowLabel;
    }
    return m_ui->batteryShowLabel;
}

QLabel *MainUI::sectionTextLabel(Section section) const
{
    switch (section) {
    case Section::Battery:
        return m_ui->batteryTextLabel;
    case Section::Grounding:
        return m_ui->groundingTextLabel;
    case Section::Starter:
        return m_ui->starterTextLabel;
    case Section::Charging3K:
        return m_ui->charging3KTextLabel;
    case Section::Charging2K:
        return m_ui->charging2KTextLabel;
    case Section::Avg2K:
        return m_ui->avg2KTextLabel;
    }
    return m_ui->batteryTextLabel;
}

void MainUI::addReportClicked()
{
    TestInfo testInfo;
    testInfo.customer = m_ui->customerEdit->text();
    testInfo.batteryModel = m_ui->batteryModelEdit->text();
    ConfigManager::instance()->setTestInfo(testInfo);

    m_ui->customerTextLabel->setText(testInfo.customer);
    m_ui->batteryModelTextLabel->setText(testInfo.batteryModel);
    showAll();
    updatePending();
}

void MainUI::updatePending()
{
    const bool pending = m_ui->customerEdit->text() != m_ui->customerTextLabel->text() ||
                         m_ui->batteryModelEdit->text() != m_ui->batteryModelTextLabel->text();
    if (m_ui->addReportButton->property("pending").toBool() == pending)
        return;
    m_ui->addReportButton->setProperty("pending", pending);
    // Typed but not added: the report (and a saved document) still carries the previous values.
    m_ui->addReportButton->setStyleSheet(
        pending ? QStringLiteral("QPushButton { border: 3px solid #d08000; border-radius: 4px; "
                                 "background-color: #fff1c2; }")
                : QString());
    const QString caption = pictureCaption(QStringLiteral("AddReport.png"));
    m_ui->addReportButton->setToolTip(
        pending ? tr("%1: the customer or battery model typed is not in the report yet").arg(caption)
                : caption);
    m_ui->addReportButton->setAccessibleDescription(
        pending ? tr("Customer or battery model typed but not added") : QString());
}

void MainUI::docSettingClicked()
{
    DocSettingUI dialog(this);
    dialog.exec();
}

bool MainUI::postToService(const void *message, std::uint32_t length)
{
    return m_serviceReceiver && m_serviceReceiver->postMessage(message, length);
}

void MainUI::queryDataClicked()
{
    const int index = m_ui->usbComboBox->currentIndex();
    if (index == -1) {
        // The tester may have been plugged in since the last search.
        m_queryAfterSearch = true;
        searchPorts();
        return;
    }
    startQuery(index);
}

void MainUI::startQuery(int index)
{
    auto request = makeMessage<QueryDataRequest>(MSG_QUERY_DATA_REQUEST);
    request.portNumber = static_cast<std::uint16_t>(m_ui->usbComboBox->itemData(index, Qt::UserRole).toInt());
    // A refused request starts no query and brings no QueryDataFinished: the button stays usable
    // and the results on screen stay as they were.
    if (!postToService(&request, sizeof(request))) {
        LogManager::instance()->writeRunLog(
            QStringLiteral("MainUI Query Data request refused, Port:%1").arg(request.portNumber));
        showStatus(tr("Query not started: kestrel is busy; try again"));
        return;
    }
    m_ui->queryDataButton->setEnabled(false);
    m_querying = true;
    m_resultsArrived = 0;
    m_queryPortText = m_ui->usbComboBox->itemText(index);
    m_record = TestRecord{};
    m_historyKey = QUuid();
    m_queryPortName = ConfigManager::instance()->serialPortName().arg(request.portNumber);
    m_queryStarted = QDateTime::currentDateTime();
    showAll();
    showStatus(tr("Reading the tester on %1...").arg(m_queryPortText));
}

void MainUI::resultArrived()
{
    if (!m_querying)
        return;
    ++m_resultsArrived;
    showStatus(tr("Reading the tester... %1 of %2").arg(m_resultsArrived).arg(resultMessageCount));
}

void MainUI::searchPorts()
{
    // A search opens every port; one during a query would take the tester from it.
    if (m_searchingPorts || m_querying)
        return;
    m_searchingPorts = true;
    m_ui->queryDataButton->setEnabled(false);
    showStatus(tr("Looking for the tester..."));
    // Each silent port costs a read window of QueryDataTimeout (up to 3.6 s), so the search runs
    // on a thread of its own and hands its result back to the window.
    QThread *search = QThread::create([this] {
        const QList<int> ports = scanTesterPorts();
        QMetaObject::invokeMethod(
            this, [this, ports] { setPorts(ports); }, Qt::QueuedConnection);
    });
    connect(search, &QThread::finished, search, &QObject::deleteLater);
    m_portSearch = search;
    search->start();
}

void MainUI::showNoTester()
{
    LogManager::instance()->writeRunLog(QStringLiteral("MainUI No tester found, Port Name:%1")
                                            .arg(ConfigManager::instance()->serialPortName()));
    showStatus(noTesterText());
}

void MainUI::setPorts(const QList<int> &ports)
{
    PortComboBox *list = m_ui->usbComboBox;
    const QVariant current = list->currentData();
    list->clear();
    for (int portNumber : ports) {
        list->addItem(tr("COM - %1").arg(portNumber), portNumber);
        list->setItemData(list->count() - 1, portName(portNumber), Qt::ToolTipRole);
    }
    const int kept = current.isValid() ? list->findData(current) : -1;
    if (kept >= 0)
        list->setCurrentIndex(kept);
    list->setToolTip(list->currentIndex() >= 0
                         ? list->itemData(list->currentIndex(), Qt::ToolTipRole).toString()
                         : tr("No tester found"));

    if (!m_searchingPorts)
        return;
    m_searchingPorts = false;
    m_ui->queryDataButton->setEnabled(true);
    const bool queryNext = m_queryAfterSearch;
    m_queryAfterSearch = false;
    if (list->count() == 0) {
        showNoTester();
        return;
    }
    showStatus(tr("Tester found on %1").arg(list->itemText(list->currentIndex())));
    if (queryNext)
        startQuery(list->currentIndex());
}

ReportPage::Content MainUI::pageContent(bool printing) const
{
    ReportPage::Content content;
    content.date = m_ui->dataTextLabel->text();
    content.customer = m_ui->customerTextLabel->text();
    content.batteryModel = m_ui->batteryModelTextLabel->text();
    content.registrationNo = m_ui->registrationNoTextLabel->text();
    content.capacity = m_ui->capacityTextLabel->text();
    content.record = m_record;
    content.language = Artwork::language();
    content.printing = printing;
    if (printing) {
        const DocSetting setting = ConfigManager::instance()->docSetting();
        content.printHeader = setting.header;
        content.printFooter = setting.footer;
    }
    return content;
}

void MainUI::renderReport(QPixmap &page, const QString &saveName)
{
    page.fill(Qt::transparent);
    {
        QPainter painter(&page);
        ReportPage::draw(painter, pageContent(saveName.isEmpty()));
    }
    if (!saveName.isEmpty() && !page.save(saveName))
        LogManager::instance()->writeRunLog(
            QStringLiteral(" Pixmap save failed, Save Name:%1").arg(saveName));
}

void MainUI::drawDocumentPage(QPainter &painter, const QRect &paper) const
{
    const DocSetting setting = ConfigManager::instance()->docSetting();
    const ReportPage::Content report = pageContent(false);
    PaintedPage::draw(painter, paper, {setting.title, setting.header, setting.footer},
                      [&report](QPainter &reportPainter) { ReportPage::draw(reportPainter, report); });
}

DocumentFile::Outcome MainUI::exportPdf(const QString &docPath)
{
    DocumentFile::Outcome outcome = DocumentFile::checkPath(docPath);
    if (outcome.saved) {
        const DocSetting setting = ConfigManager::instance()->docSetting();
        const ReportPage::Content report = pageContent(false);
        QString error;
        const QByteArray pdf = PdfWriter::build(
            {setting.title, setting.header, setting.footer},
            [&report](QPainter &reportPainter) { ReportPage::draw(reportPainter, report); }, &error);
        if (pdf.isEmpty())
            outcome = DocumentFile::failure(
                QStringLiteral("SaveDataToDoc Error, Build Document Failed, Reason:%1, Doc Path:%2")
                    .arg(error, docPath));
        else
            outcome = DocumentFile::save(docPath, pdf);
    }
    LogManager::instance()->writeRunLog(outcome.runLogLine);
    showSaveOutcome(docPath,
                    outcome.saved ? QString() : tr("the PDF could not be written (see the run log)"));
    emit documentSaved(outcome.saved, outcome.runLogLine);
    return outcome;
}

void MainUI::updatePrintButton()
{
    const int switchedOff = ConfigManager::instance()->closeDataPrinter() ? 1 : 0;
    if (switchedOff == m_printingSwitchedOff)
        return;
    const bool firstLook = m_printingSwitchedOff < 0;
    m_printingSwitchedOff = switchedOff;
    m_ui->printerButton->setEnabled(!switchedOff);
    const QString caption = pictureCaption(QStringLiteral("Printer.png"));
    m_ui->printerButton->setToolTip(
        switchedOff ? tr("%1: printing is switched off in main.ini (CloseDataPrinter=1)").arg(caption)
                    : caption);
    m_ui->printerButton->setAccessibleDescription(
        switchedOff ? tr("Printing is switched off in main.ini (CloseDataPrinter=1)") : QString());
    if (switchedOff)
        showStatus(tr("Printing is switched off (CloseDataPrinter=1 in main.ini)"));
    else if (!firstLook)
        showStatus(tr("Printing is switched on again"));
}

void MainUI::printerClicked()
{
    if (ConfigManager::instance()->closeDataPrinter()) {
        updatePrintButton();
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setFullPage(true);
    // main.ini keeps where the last print went, also across restarts.
    const QString lastPrinter = ConfigManager::instance()->lastPrinter();
    const QString lastPrintFolder = ConfigManager::instance()->lastPrintFolder();
    if (!lastPrinter.isEmpty())
        printer.setPrinterName(lastPrinter);
    // Printing to a file starts in the folder of the last such print, under a name of its own, so
    // a second print never lands on the first; a name the operator picks that exists already is
    // questioned by the print dialog.
    if (!lastPrintFolder.isEmpty()) {
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
        printer.setOutputFileName(lastPrintFolder + QStringLiteral("/") + stamp + QStringLiteral(".pdf"));
    }
    if (!m_printDialogRunner(printer, this))
        return;
    // A print to a file keeps the printer of the last print on paper.
    const bool toFile = !printer.outputFileName().isEmpty();
    ConfigManager::instance()->setLastPrint(toFile ? lastPrinter : printer.printerName(),
                                            toFile ? QFileInfo(printer.outputFileName()).absolutePath()
                                                   : QString());

    // Drawn straight onto the printer at its own resolution: the page of the PDF and the
    // documents, sharp, and text a PDF printer keeps as text.
    QPainter painter;
    if (!painter.begin(&printer)) {
        LogManager::instance()->writeRunLog(
            QStringLiteral("MainUI Print failed, Printer:%1").arg(printer.printerName()));
        return;
    }
    drawDocumentPage(painter, printer.paperRect(QPrinter::DevicePixel).toRect());
    painter.end();
    postHistoryEvent(HistoryEventKind::Printed);
}

void MainUI::showStatus(const QString &text, const QString &toolTip)
{
    m_ui->statusLabel->setText(text);
    m_ui->statusLabel->setToolTip(toolTip);
    m_ui->statusLabel->setAccessibleDescription(text);
    setAccessibleDescription(text);
}

QString MainUI::statusText() const
{
    return m_ui->statusLabel->text();
}

void MainUI::showSaveOutcome(const QString &path, const QString &problem)
{
    const QString name = QFileInfo(path).fileName();
    if (problem.isEmpty())
        showStatus(tr("Saved %1").arg(name), path);
    else
        showStatus(tr("Not saved: %1").arg(problem), path);
}

void MainUI::saveAsClicked()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = now.toString(QStringLiteral("yyyyMMddhhmmsszzz"));
    QString folder = ConfigManager::instance()->lastSaveFolder();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();

    SaveDialogSetup setup;
    setup.caption = tr("Save File");
    setup.filters = SavePath::filters();
    setup.selectedFilter = setup.filters.value(0);
    setup.suggestedPath =
        folder + QLatin1Char('/') + SavePath::suggestedName(m_ui->registrationNoTextLabel->text(), now);
    setup.problem = [this](const QString &path) {
        const QString problem = SavePath::problem(path);
        if (!problem.isEmpty()) {
            LogManager::instance()->writeRunLog(
                QStringLiteral("MainUI Save As refused, Reason:%1, Doc Path:%2")
                    .arg(SavePath::problem(path, SavePath::Wording::RunLog), path));
            showSaveOutcome(path, problem);
        }
        return problem;
    };

    // Refused paths open the dialog again with the name, until one is good or the operator cancels.
    QString docPath;
    for (;;) {
        const QString chosen = m_saveFileChooser(this, setup);
        if (chosen.isEmpty())
            return;
        docPath = SavePath::withSuffix(chosen, setup.selectedFilter);
        if (setup.problem(docPath).isEmpty())
            break;
        setup.suggestedPath = docPath;
    }
    ConfigManager::instance()->setLastSaveFolder(QFileInfo(docPath).absolutePath());
    if (SavePath::typeOfPath(docPath).writer == SavePath::Writer::Window) {
        const DocumentFile::Outcome outcome = exportPdf(docPath);
        postHistoryEvent(HistoryEventKind::Saved, docPath, QString(),
                         outcome.saved ? QStringLiteral("saved") : QStringLiteral("failed"));
        return;
    }

    QPixmap page(ReportPage::pageSize);
    QDir().mkpath(AppPaths::tempDir());
    const QString picturePath = AppPaths::tempDir() + QStringLiteral("/") + stamp + QStringLiteral(".png");
    renderReport(page, picturePath);

    auto request = makeMessage<SaveDataRequest>(MSG_SAVE_DATA_REQUEST);
    Codec::toField(picturePath, request.picturePath, sizeof(request.picturePath));
    Codec::toField(docPath, request.docPath, sizeof(request.docPath));
    const bool posted = postToService(&request, sizeof(request));
    postHistoryEvent(HistoryEventKind::Saved, docPath, picturePath,
                     posted ? QStringLiteral("requested") : QStringLiteral("refused"));
    if (posted && !m_historyKey.isNull())
        m_pendingSaves.insert(docPath, PendingSave{m_historyKey, picturePath});
    if (!posted) {
        LogManager::instance()->writeRunLog(
            QStringLiteral("MainUI Save Data request refused, Doc Path:%1").arg(docPath));
        showSaveOutcome(docPath, tr("kestrel is busy; try again"));
        return;
    }
    showStatus(tr("Saving %1...").arg(QFileInfo(docPath).fileName()), docPath);
}

void MainUI::onQueryDataFinished(const QueryDataFinished *)
{
    m_ui->queryDataButton->setEnabled(true);
    // Focus on Print after a query would let the next Space print; it goes back to Query Data.
    m_ui->queryDataButton->setFocus(Qt::OtherFocusReason);
    if (m_querying) {
        m_querying = false;
        showQueryEnd();
    }

    // The test is kept as the window shows it now, with the header it was taken under.
    if (!m_historyReceiver || !HistoryRules::hasTesterData(m_record))
        return;
    HistoryRecord record;
    record.key = QUuid::createUuid();
    const QDateTime started = m_queryStarted.isValid() ? m_queryStarted : QDateTime::currentDateTime();
    record.testedUtcMs = started.toMSecsSinceEpoch();
    record.utcOffsetSeconds = started.offsetFromUtc();
    record.portName = m_queryPortName;
    record.customer = m_ui->customerTextLabel->text();
    record.batteryModel = m_ui->batteryModelTextLabel->text();
    record.record = m_record;
    const HistoryRecordMessage message = toMessage(record);
    if (m_historyReceiver->postMessage(&message, sizeof(message)))
        m_historyKey = record.key;
    else
        LogManager::instance()->writeRunLog(
            QStringLiteral("MainUI History record refused, Port:%1").arg(m_queryPortName));
}

void MainUI::postHistoryEvent(HistoryEventKind kind, const QString &documentPath, const QString &picturePath,
                              const QString &outcome)
{
    postHistoryEvent(m_historyKey, kind, documentPath, picturePath, outcome);
}

void MainUI::postHistoryEvent(const QUuid &key, HistoryEventKind kind, const QString &documentPath,
                              const QString &picturePath, const QString &outcome)
{
    if (!m_historyReceiver || key.isNull())
        return;
    const HistoryEventMessage message = toMessage(
        HistoryEvent{key, kind, QDateTime::currentMSecsSinceEpoch(), documentPath, picturePath, outcome});
    if (!m_historyReceiver->postMessage(&message, sizeof(message)))
        LogManager::instance()->writeRunLog(
            QStringLiteral("MainUI History event refused, Kind:%1").arg(static_cast<int>(kind)));
}

void MainUI::openHistoryRecord(const HistoryRecord &record)
{
    m_record = record.record;
    m_ui->customerTextLabel->setText(record.customer);
    m_ui->batteryModelTextLabel->setText(record.batteryModel);
    m_historyKey = record.key;
    showAll();
    postHistoryEvent(HistoryEventKind::Reopened);
}

void MainUI::historyClicked()
{
    // One window, brought forward when it is already open; it never blocks this one.
    if (!m_historyWindow) {
        auto *window = m_historyReader ? new HistoryUI(m_historyReader, this)
                                       : new HistoryUI(ConfigManager::instance()->historySetting(), this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        connect(window, &HistoryUI::openRequested, this, &MainUI::openHistoryRecord);
        m_historyWindow = window;
    }
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

void MainUI::showQueryEnd()
{
    // A section the tester has no data for looks the same as one whose answer was lost; the run log
    // tells them apart. Nothing at all means the tester did not answer.
    if (HistoryRules::hasTesterData(m_record))
        showStatus(tr("Test read"));
    else
        showStatus(tr("Tester did not answer on %1").arg(m_queryPortText));
}

// How the end of an export is written in the test's history (stable words, not translated).
static QString historyOutcomeWord(SaveOutcome outcome)
{
    switch (outcome) {
    case SaveOutcome::Saved:
        return QStringLiteral("saved");
    case SaveOutcome::NotSaved:
        return QStringLiteral("not saved");
    case SaveOutcome::HelperMissing:
        return QStringLiteral("helper missing");
    case SaveOutcome::HelperNotStarted:
        return QStringLiteral("helper not started");
    case SaveOutcome::EndedBeforeJob:
        return QStringLiteral("helper ended before the job");
    case SaveOutcome::EndedWithoutResult:
        return QStringLiteral("helper ended while writing");
    case SaveOutcome::NoResultInTime:
        return QStringLiteral("no result in time");
    }
    return QStringLiteral("unknown");
}

void MainUI::onSaveDataOutcome(const SaveDataOutcome *message)
{
    const QString docPath = Codec::fromField(message->docPath, sizeof(message->docPath));
    const auto outcome = static_cast<SaveOutcome>(message->outcome);
    if (const auto pending = m_pendingSaves.constFind(docPath); pending != m_pendingSaves.constEnd()) {
        postHistoryEvent(pending->key, HistoryEventKind::Saved, docPath, pending->picturePath,
                         historyOutcomeWord(outcome));
        m_pendingSaves.erase(pending);
    }
    switch (outcome) {
    case SaveOutcome::Saved:
        showSaveOutcome(docPath, QString());
        return;
    case SaveOutcome::NotSaved: {
        // The helper's reason is in the run log; what the folder says now is worth telling.
        const QString problem = SavePath::problem(docPath);
        showSaveOutcome(docPath, problem.isEmpty()
                                     ? tr("the document helper could not write it (details in the Run log)")
                                     : problem);
        return;
    }
    case SaveOutcome::HelperMissing:
        showSaveOutcome(docPath, tr("the document helper program is missing (SaveDataProcess in main.ini)"));
        return;
    case SaveOutcome::HelperNotStarted:
        showSaveOutcome(docPath, tr("the document helper program could not be started"));
        return;
    case SaveOutcome::EndedBeforeJob:
        showSaveOutcome(docPath, tr("the document helper ended before it took the report"));
        return;
    case SaveOutcome::EndedWithoutResult:
        showSaveOutcome(docPath, tr("the document helper ended while writing the document"));
        return;
    case SaveOutcome::NoResultInTime:
        showSaveOutcome(docPath, tr("the document helper gave no answer in time"));
        return;
    }
    showSaveOutcome(docPath, tr("the export ended in an unknown way (details in the Run log)"));
}

// Each result replaces its slot of the record whole, header included, whatever the arrival order.
template <typename Message> static void store(Message &slot, const Message *message)
{
    std::memcpy(&slot, message, sizeof(Message));
}

void MainUI::onBatteryResult(const BatteryResult *message)
{
    store(m_record.battery, message);
    showSection(Section::Battery);
    resultArrived();
}

void MainUI::onGroundingResult(const GroundingResult *message)
{
    store(m_record.grounding, message);
    showSection(Section::Grounding);
    resultArrived();
}

void MainUI::onStarterResult(const StarterResult *message)
{
    store(m_record.starter, message);
    showSection(Section::Starter);
    resultArrived();
}

void MainUI::onCharging3KResult(const Charging3KResult *message)
{
    store(m_record.charging3K, message);
    showSection(Section::Charging3K);
    resultArrived();
}

void MainUI::onCharging2KResult(const Charging2KResult *message)
{
    store(m_record.charging2K, message);
    showSection(Section::Charging2K);
    resultArrived();
}

void MainUI::onAvg2KResult(const Avg2KResult *message)
{
    store(m_record.avg2K, message);
    showSection(Section::Avg2K);
    resultArrived();
}

void MainUI::onTestDate(const TestDate *message)
{
    store(m_record.testDate, message);
    showDate();
    resultArrived();
}

void MainUI::onRegistrationNoInfo(const RegistrationNoInfo *message)
{
    store(m_record.registrationNoInfo, message);
    showRegistrationNo();
    resultArrived();
}

void MainUI::onCapacityInfo(const CapacityInfo *message)
{
    store(m_record.capacityInfo, message);
    showCapacity();
    resultArrived();
}
