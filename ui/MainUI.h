#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUuid>

#include "DocumentFile.h"
#include "HistoryRecord.h"
#include "ReportPage.h"
#include "Singleton.h"
#include "TestRecord.h"
#include "VirtualWidget.h"

class HistoryReader;

class QLabel;
class QPixmap;
class QPainter;
class QPrinter;
class QRect;
class QThread;
class QTimer;
struct QueryDataFinished;
struct SaveDataOutcome;

namespace Ui {
class MainUI;
}

// The one main window: the operator picks the tester port, types the customer and battery model,
// queries the tester and sees the report fill in live; prints it or saves it for export.
// Owns the window's TestRecord; results arrive as messages posted by the service manager.
class MainUI final : public VirtualWidget, public Singleton<MainUI>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainUI)

public:
    // What the Save As dialog offers: its caption, the suggested path (last folder and name), the
    // document types and the one chosen (set by the chooser), and the check a path must pass.
    struct SaveDialogSetup
    {
        QString caption;
        QString suggestedPath;
        QStringList filters;
        QString selectedFilter;
        // Why the path cannot be used, empty when it can; a dialog may keep itself open on it.
        std::function<QString(const QString &path)> problem;
    };
    // Returns the chosen document path, or an empty text when the operator cancelled.
    using SaveFileChooser = std::function<QString(QWidget *parent, SaveDialogSetup &setup)>;
    // Lets the operator set up the printer; true when printing should go ahead.
    using PrintDialogRunner = std::function<bool(QPrinter &printer, QWidget *parent)>;

    // Builds the form, searches the tester ports (blocking), loads the test info and draws the
    // empty report. Needs the configuration store running.
    explicit MainUI(QWidget *parent = nullptr);
    ~MainUI() override;

    // Maps the report fonts "SimSun" and "Arial" to installed fonts where they are missing, so
    // Chinese texts show on screen, page and print. Call once after the application object exists,
    // before the window is built. False (and a run-log line, if the log is running) when no
    // replacement was found for one of them.
    static bool installFonts();

    // Where QueryDataRequest and SaveDataRequest go (the service manager; a recorder in tests).
    void setServiceReceiver(MessageReceiver *receiver) { m_serviceReceiver = receiver; }
    // Where finished queries and their later events go to be kept (the history manager).
    // Tests are kept through this receiver; with one, the window also keeps the history window's reader.
    void setHistoryReceiver(MessageReceiver *receiver);
    // Shows a kept test as its query left it, so that Print and Save As work on it again.
    void openHistoryRecord(const HistoryRecord &record);
    // The key of the kept test on screen; null when what is shown was not kept.
    QUuid historyKey() const { return m_historyKey; }

    // The dialogs of Save As and Print, replaceable so that tests can answer them.
    void setSaveFileChooser(SaveFileChooser chooser);
    void setPrintDialogRunner(PrintDialogRunner runner);

    const TestRecord &testRecord() const { return m_record; }

    // Writes the report as a one-page PDF at docPath, with the title, header and footer of the
    // document settings: the page the .doc and .docx of an export show. Logs the outcome line
    // (the helper's lines) and emits documentSaved with it.
    DocumentFile::Outcome exportPdf(const QString &docPath);

    // The page that printing and the PDF draw, onto a painter already open on its device.
    void drawDocumentPage(QPainter &painter, const QRect &paper) const;

    // The status line: one line below the buttons, also the window's accessible description.
    void showStatus(const QString &text, const QString &toolTip = QString());
    QString statusText() const;
    // The one place a save outcome reaches the operator, whoever wrote the document: an empty
    // problem shows "Saved <file name>" with the full path as tooltip, else "Not saved: <problem>".
    void showSaveOutcome(const QString &path, const QString &problem);

    // Searches the tester ports again, off the GUI thread; the list follows when it is done.
    void searchPorts();
    bool isSearchingPorts() const { return m_searchingPorts; }

    // Draws the report page into `page` (794 x 1123). An empty save name draws the print header and
    // footer; any other name draws neither and saves the page there as PNG (a failure is logged).
    void renderReport(QPixmap &page, const QString &saveName);

    void showDate();
    void showRegistrationNo();
    void showCapacity();
    void showSection(Section section);
    void showAll();

signals:
    // The outcome of a save that this window finished itself (today the PDF): saved or not, and
    // the run-log line that says what happened.
    void documentSaved(bool saved, const QString &runLogLine);

public slots:
    void addReportClicked();
    void docSettingClicked();
    void queryDataClicked();
    void printerClicked();
    void saveAsClicked();
    void historyClicked();

private:
    void onQueryDataFinished(const QueryDataFinished *message);
    void onSaveDataOutcome(const SaveDataOutcome *message);
    void resultArrived();
    void setPorts(const QList<int> &ports);
    void showNoTester();
    void startQuery(int index);
    void updatePrintButton();
    // The status line at the end of a query the operator started.
    void showQueryEnd();
    void updatePending();
    void onBatteryResult(const BatteryResult *message);
    void onGroundingResult(const GroundingResult *message);
    void onStarterResult(const StarterResult *message);
    void onCharging3KResult(const Charging3KResult *message);
    void onCharging2KResult(const Charging2KResult *message);
    void onAvg2KResult(const Avg2KResult *message);
    void onTestDate(const TestDate *message);
    void onRegistrationNoInfo(const RegistrationNoInfo *message);
    void onCapacityInfo(const CapacityInfo *message);

    QLabel *sectionPictureLabel(Section section) const;
    QLabel *sectionTextLabel(Section section) const;
    ReportPage::Content pageContent(bool printing) const;
    bool postToService(const void *message, std::uint32_t length);
    void postHistoryEvent(HistoryEventKind kind, const QString &documentPath = QString(),
                          const QString &picturePath = QString(), const QString &outcome = QString());
    void postHistoryEvent(const QUuid &key, HistoryEventKind kind, const QString &documentPath,
                          const QString &picturePath, const QString &outcome);

    std::unique_ptr<Ui::MainUI> m_ui;
    TestRecord m_record{};
    MessageReceiver *m_serviceReceiver = nullptr;
    MessageReceiver *m_historyReceiver = nullptr;
    QUuid m_historyKey;
    // Exports still running, by document path: their outcome belongs to the test they were asked
    // for, even when another test has been queried or opened since.
    struct PendingSave
    {
        QUuid key;
        QString picturePath;
    };
    QHash<QString, PendingSave> m_pendingSaves;
    QString m_queryPortName;
    QDateTime m_queryStarted;
    QPointer<QWidget> m_historyWindow;
    // Lives as long as the window: the history window comes and goes, its connection stays open.
    QPointer<HistoryReader> m_historyReader;
    SaveFileChooser m_saveFileChooser;
    PrintDialogRunner m_printDialogRunner;

    bool m_querying = false;
    QString m_queryPortText;
    int m_resultsArrived = 0;
    bool m_searchingPorts = false;
    QPointer<QThread> m_portSearch; // hands its result to this window, so it ends before the window
    bool m_queryAfterSearch = false;
    // Follows CloseDataPrinter as main.ini is reloaded.
    QTimer *m_configWatch = nullptr;
    int m_printingSwitchedOff = -1; // -1 before the first look
};
