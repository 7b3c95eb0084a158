#include "MainUI.h"

#include <cstring>

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
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
#include "Codec.h"
#include "ConfigManager.h"
#include "DocSettingUI.h"
#include "HistoryMessages.h"
#include "HistoryUI.h"
#include "LogManager.h"
#include "ReportText.h"
#include "ServiceMessages.h"
#include "TesterPort.h"
#include "ui_MainUI.h"

namespace {

QString imagePath(const QString &fileName)
{
    return AppPaths::imageDir() + QStringLiteral("/") + fileName;
}

// Pictures are read from the Image folder at each use; a missing file gives an empty picture.
QPixmap picture(const QString &fileName)
{
    return QPixmap(imagePath(fileName));
}

constexpr QSize buttonIconSize(130, 50);

QString defaultSaveFileChooser(QWidget *parent, const QString &caption, const QString &suggestedPath)
{
    return QFileDialog::getSaveFileName(parent, caption, suggestedPath);
}

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

    m_ui->usbLabel->setPixmap(picture(QStringLiteral("USB.png")));
    m_ui->customerLabel->setPixmap(picture(QStringLiteral("Customer.png")));
    m_ui->batteryModelLabel->setPixmap(picture(QStringLiteral("BatteryModel.png")));
    m_ui->dataShowLabel->setPixmap(picture(QStringLiteral("Date.png")));
    m_ui->customerShowLabel->setPixmap(picture(QStringLiteral("Customer.png")));
    m_ui->registrationNoShowLabel->setPixmap(picture(QStringLiteral("RegistrationNo.png")));
    m_ui->batteryModelShowLabel->setPixmap(picture(QStringLiteral("BatteryModel.png")));
    m_ui->capacityShowLabel->setPixmap(picture(QStringLiteral("Capacity.png")));

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
    }

    // Only ports on which a tester answers are listed; the list stays as found for the whole run.
    for (int portNumber : scanTesterPorts())
        m_ui->usbComboBox->addItem(tr("COM - %1").arg(portNumber), portNumber);

    const TestInfo testInfo = ConfigManager::instance()->testInfo();
    m_ui->customerEdit->setText(testInfo.customer);
    m_ui->batteryModelEdit->setText(testInfo.batteryModel);

    m_ui->paintWidget->setAttribute(Qt::WA_TranslucentBackground);

    connect(m_ui->addReportButton, &QPushButton::clicked, this, &MainUI::addReportClicked);
    connect(m_ui->queryDataButton, &QPushButton::clicked, this, &MainUI::queryDataClicked);
    connect(m_ui->printerButton, &QPushButton::clicked, this, &MainUI::printerClicked);
    connect(m_ui->docSettingButton, &QPushButton::clicked, this, &MainUI::docSettingClicked);
    connect(m_ui->saveAsButton, &QPushButton::clicked, this, &MainUI::saveAsClicked);
    connect(m_ui->historyButton, &QPushButton::clicked, this, &MainUI::historyClicked);

    addReportClicked();

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
}

MainUI::~MainUI() = default;

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
            QCoreApplication::translate("MainUI", "MainUI Font substitution failed, Font:%1").arg(wanted));
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
    sectionPictureLabel(section)->setPixmap(picture(ReportText::sectionPicture(m_record, section)));
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
    if (index == -1)
        return;
    auto request = makeMessage<QueryDataRequest>(MSG_QUERY_DATA_REQUEST);
    request.portNumber = static_cast<std::uint16_t>(m_ui->usbComboBox->itemData(index, Qt::UserRole).toInt());
    // A refused request starts no query and brings no QueryDataFinished: the button stays usable
    // and the results on screen stay as they were.
    if (!postToService(&request, sizeof(request))) {
        LogManager::instance()->writeRunLog(
            tr("MainUI Query Data request refused, Port:%1").arg(request.portNumber));
        return;
    }
    m_ui->queryDataButton->setEnabled(false);
    m_record = TestRecord{};
    m_historyKey = QUuid();
    m_queryPortName = ConfigManager::instance()->serialPortName().arg(request.portNumber);
    m_queryStarted = QDateTime::currentDateTime();
    showAll();
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
        LogManager::instance()->writeRunLog(tr(" Pixmap save failed, Save Name:%1").arg(saveName));
}

void MainUI::printerClicked()
{
    if (ConfigManager::instance()->closeDataPrinter())
        return;
    QPrinter printer(QPrinter::HighResolution);
    if (!m_printDialogRunner(printer, this))
        return;
    // Drawn straight onto the printer at its own resolution rather than as a stretched 96-dpi
    // picture: the same page geometry, sharp text, and text a PDF printer keeps as text.
    QPainter painter;
    if (!painter.begin(&printer)) {
        LogManager::instance()->writeRunLog(tr("MainUI Print failed, Printer:%1").arg(printer.printerName()));
        return;
    }
    ReportPage::draw(painter, pageContent(true));
    painter.end();
    postHistoryEvent(HistoryEventKind::Printed);
}

void MainUI::saveAsClicked()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
    const QString docPath = m_saveFileChooser(this, tr("Save File"), stamp + QStringLiteral(".doc"));
    if (docPath.isEmpty())
        return;

    QPixmap page(ReportPage::pageSize);
    QDir().mkpath(AppPaths::tempDir());
    const QString picturePath = AppPaths::tempDir() + QStringLiteral("/") + stamp + QStringLiteral(".png");
    renderReport(page, picturePath);

    auto request = makeMessage<SaveDataRequest>(MSG_SAVE_DATA_REQUEST);
    Codec::toField(picturePath, request.picturePath, sizeof(request.picturePath));
    Codec::toField(docPath, request.docPath, sizeof(request.docPath));
    const bool posted = postToService(&request, sizeof(request));
    if (!posted)
        LogManager::instance()->writeRunLog(tr("MainUI Save Data request refused, Doc Path:%1").arg(docPath));
    postHistoryEvent(HistoryEventKind::Saved, docPath, picturePath,
                     posted ? QStringLiteral("requested") : QStringLiteral("refused"));
}

void MainUI::onQueryDataFinished(const QueryDataFinished *)
{
    m_ui->queryDataButton->setEnabled(true);
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
            tr("MainUI History record refused, Port:%1").arg(m_queryPortName));
}

void MainUI::postHistoryEvent(HistoryEventKind kind, const QString &documentPath, const QString &picturePath,
                              const QString &outcome)
{
    if (!m_historyReceiver || m_historyKey.isNull())
        return;
    const HistoryEventMessage message = toMessage(HistoryEvent{
        m_historyKey, kind, QDateTime::currentMSecsSinceEpoch(), documentPath, picturePath, outcome});
    if (!m_historyReceiver->postMessage(&message, sizeof(message)))
        LogManager::instance()->writeRunLog(
            tr("MainUI History event refused, Kind:%1").arg(static_cast<int>(kind)));
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
        auto *window = new HistoryUI(ConfigManager::instance()->historySetting(), this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        connect(window, &HistoryUI::openRequested, this, &MainUI::openHistoryRecord);
        m_historyWindow = window;
    }
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
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
}

void MainUI::onGroundingResult(const GroundingResult *message)
{
    store(m_record.grounding, message);
    showSection(Section::Grounding);
}

void MainUI::onStarterResult(const StarterResult *message)
{
    store(m_record.starter, message);
    showSection(Section::Starter);
}

void MainUI::onCharging3KResult(const Charging3KResult *message)
{
    store(m_record.charging3K, message);
    showSection(Section::Charging3K);
}

void MainUI::onCharging2KResult(const Charging2KResult *message)
{
    store(m_record.charging2K, message);
    showSection(Section::Charging2K);
}

void MainUI::onAvg2KResult(const Avg2KResult *message)
{
    store(m_record.avg2K, message);
    showSection(Section::Avg2K);
}

void MainUI::onTestDate(const TestDate *message)
{
    store(m_record.testDate, message);
    showDate();
}

void MainUI::onRegistrationNoInfo(const RegistrationNoInfo *message)
{
    store(m_record.registrationNoInfo, message);
    showRegistrationNo();
}

void MainUI::onCapacityInfo(const CapacityInfo *message)
{
    store(m_record.capacityInfo, message);
    showCapacity();
}
