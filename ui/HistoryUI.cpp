#include "HistoryUI.h"

#include <QDate>
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>

#include "HistoryManager.h"
#include "HistoryModel.h"
#include "HistoryReader.h"
#include "ui_HistoryUI.h"

namespace {

// Typing is let settle this long before a search goes out, so each key does not start one.
constexpr int searchDelayMs = 200;

} // namespace

HistoryUI::HistoryUI(const HistorySetting &setting, QWidget *parent, const QString &databasePath)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::HistoryUI>())
{
    m_reader = new HistoryReader(
        setting, databasePath.isEmpty() ? HistoryManager::databasePath() : databasePath, this);
    setUp();
}

HistoryUI::HistoryUI(HistoryReader *reader, QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::HistoryUI>()), m_reader(reader)
{
    setUp();
}

void HistoryUI::setUp()
{
    m_ui->setupUi(this);
    m_model = new HistoryModel(m_reader, this);

    const QDate today = QDate::currentDate();
    m_ui->fromDateEdit->setDate(today.addMonths(-1));
    m_ui->toDateEdit->setDate(today);
    m_ui->fromDateEdit->setEnabled(false);
    m_ui->toDateEdit->setEnabled(false);

    m_ui->historyTableView->setModel(m_model);
    m_ui->historyTableView->verticalHeader()->hide();
    m_ui->historyTableView->horizontalHeader()->setStretchLastSection(true);
    m_ui->historyTableView->horizontalHeader()->setSortIndicator(HistoryModel::TimeColumn,
                                                                 Qt::DescendingOrder);
    m_ui->historyTableView->installEventFilter(this);
    m_ui->historyTableView->setColumnWidth(HistoryModel::TimeColumn, 150);

    m_searchDelay = new QTimer(this);
    m_searchDelay->setSingleShot(true);
    m_searchDelay->setInterval(searchDelayMs);
    connect(m_searchDelay, &QTimer::timeout, this, &HistoryUI::applyFilter);
    connect(m_ui->searchEdit, &QLineEdit::textChanged, m_searchDelay, qOverload<>(&QTimer::start));
    connect(m_ui->searchEdit, &QLineEdit::returnPressed, this, &HistoryUI::applyFilter);
    connect(m_ui->dateRangeCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        m_ui->fromDateEdit->setEnabled(on);
        m_ui->toDateEdit->setEnabled(on);
        applyFilter();
    });
    connect(m_ui->fromDateEdit, &QDateEdit::dateChanged, this, &HistoryUI::applyFilter);
    connect(m_ui->toDateEdit, &QDateEdit::dateChanged, this, &HistoryUI::applyFilter);

    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_ui->searchEdit->setFocus(Qt::ShortcutFocusReason);
        m_ui->searchEdit->selectAll();
    });

    connect(m_ui->historyTableView, &QAbstractItemView::doubleClicked, this, &HistoryUI::openSelected);
    connect(m_ui->openButton, &QPushButton::clicked, this, &HistoryUI::openSelected);
    connect(m_ui->deleteButton, &QPushButton::clicked, this, &HistoryUI::deleteSelected);
    connect(m_ui->exportButton, &QPushButton::clicked, this, &HistoryUI::exportRows);

    connect(m_model, &HistoryModel::pageLoaded, this, [this](bool ok, const QString &error) {
        showStatus(ok ? tr("%n test(s) shown", nullptr, m_model->rowCount())
                      : tr("History not readable: %1").arg(error));
    });
    connect(m_reader, &HistoryReader::recordReady, this,
            [this](int request, const std::optional<HistoryRecord> &record, const QString &error) {
                if (request != m_openRequest)
                    return;
                m_openRequest = 0;
                if (record)
                    emit openRequested(*record);
                else
                    // The store's own reason (a database or file error) follows the operator's words.
                    showStatus(error.isEmpty() ? tr("That test is no longer kept")
                                               : tr("Test not opened: %1").arg(error));
            });
    connect(m_reader, &HistoryReader::removeDone, this, [this](int request, bool ok, const QString &error) {
        if (!m_removeRequests.removeOne(request))
            return;
        if (!ok) {
            m_removeFailed = true;
            showStatus(tr("Delete failed: %1").arg(error));
        }
        if (m_removeRequests.isEmpty()) {
            m_model->reload();
            emit deleteFinished(!m_removeFailed);
        }
    });
    connect(m_reader, &HistoryReader::exportDone, this,
            [this](int request, bool ok, int rows, const QString &error) {
                if (request != m_exportRequest)
                    return;
                m_exportRequest = 0;
                showStatus(ok ? tr("%n test(s) exported", nullptr, rows)
                              : tr("Export failed: %1").arg(error));
                emit exportFinished(ok, rows, error);
            });

    m_deleteConfirmer = [](QWidget *parent, int count) {
        return QMessageBox::question(parent, tr("Delete"),
                                     tr("Delete %n kept test(s)? This cannot be undone.", nullptr, count)) ==
               QMessageBox::Yes;
    };
    m_exportFileChooser = [](QWidget *parent, const QString &suggestedPath) {
        return QFileDialog::getSaveFileName(parent, tr("Export CSV"), suggestedPath, tr("CSV files (*.csv)"));
    };

    applyFilter();
}

HistoryUI::~HistoryUI() = default;

void HistoryUI::applyFilter()
{
    m_searchDelay->stop();
    HistoryFilter filter = m_model->filter();
    filter.text = m_ui->searchEdit->text().trimmed();
    if (m_ui->dateRangeCheckBox->isChecked()) {
        // Whole local days, the last one included.
        filter.fromUtcMs = m_ui->fromDateEdit->date().startOfDay().toMSecsSinceEpoch();
        filter.toUtcMs = m_ui->toDateEdit->date().addDays(1).startOfDay().toMSecsSinceEpoch();
    } else {
        filter.fromUtcMs = 0;
        filter.toUtcMs = INT64_MAX;
    }
    m_model->setFilter(filter);
}

QList<QUuid> HistoryUI::selectedKeys() const
{
    QList<QUuid> keys;
    const QModelIndexList rows = m_ui->historyTableView->selectionModel()->selectedRows();
    for (const QModelIndex &index : rows)
        keys << m_model->row(index.row()).key;
    return keys;
}

void HistoryUI::openSelected()
{
    const QModelIndex current = m_ui->historyTableView->currentIndex();
    if (!current.isValid())
        return;
    m_openRequest = m_reader->requestRecord(m_model->row(current.row()).key);
}

void HistoryUI::deleteSelected()
{
    const QList<QUuid> keys = selectedKeys();
    if (keys.isEmpty() || !m_removeRequests.isEmpty())
        return;
    if (!m_deleteConfirmer(this, static_cast<int>(keys.size())))
        return;
    m_removeFailed = false;
    for (const QUuid &key : keys)
        m_removeRequests << m_reader->requestRemove(key);
}

void HistoryUI::exportRows()
{
    if (m_exportRequest != 0)
        return;
    const QString suggested =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/history-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".csv");
    const QString path = m_exportFileChooser(this, suggested);
    if (path.isEmpty())
        return;
    // The selected rows, or when none is selected every row the search finds.
    m_exportRequest = m_reader->requestExport(m_model->filter(), selectedKeys(), path);
    showStatus(tr("Exporting..."));
}

void HistoryUI::showStatus(const QString &text)
{
    m_ui->statusLabel->setText(text);
}

bool HistoryUI::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->historyTableView && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            openSelected();
            return true;
        }
        if (key->key() == Qt::Key_Delete) {
            deleteSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
