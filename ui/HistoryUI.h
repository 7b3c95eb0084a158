#pragma once

#include <functional>
#include <memory>

#include <QList>
#include <QUuid>
#include <QWidget>

#include "HistoryRecord.h"
#include "HistorySetting.h"

class HistoryModel;
class HistoryReader;
class QTimer;

namespace Ui {
class HistoryUI;
}

// The history window: the kept tests newest first, found by registration or customer and a date
// range, opened again in the main window, deleted or exported as CSV. Non-modal; every database
// request goes to its reader's thread and the answers come back as signals.
class HistoryUI final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryUI)

public:
    // Asks the operator before deleting; true to go ahead. Replaceable so tests can answer.
    using DeleteConfirmer = std::function<bool(QWidget *parent, int count)>;
    // Returns the CSV path chosen, or an empty text when the operator cancelled.
    using ExportFileChooser = std::function<QString(QWidget *parent, const QString &suggestedPath)>;

    HistoryUI(const HistorySetting &setting, QWidget *parent = nullptr,
              const QString &databasePath = QString());
    // Uses a reader that someone else keeps (and that outlives this window), such as the main
    // window's, whose connection is then already open when the window shows.
    explicit HistoryUI(HistoryReader *reader, QWidget *parent = nullptr);
    ~HistoryUI() override;

    void setDeleteConfirmer(DeleteConfirmer confirmer) { m_deleteConfirmer = std::move(confirmer); }
    void setExportFileChooser(ExportFileChooser chooser) { m_exportFileChooser = std::move(chooser); }

    HistoryModel *model() const { return m_model; }

public slots:
    void openSelected();
    void deleteSelected();
    void exportRows();

signals:
    void openRequested(const HistoryRecord &record);
    void exportFinished(bool ok, int rows, const QString &error);
    void deleteFinished(bool ok);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUp();
    void applyFilter();
    QList<QUuid> selectedKeys() const;
    void showStatus(const QString &text);

    std::unique_ptr<Ui::HistoryUI> m_ui;
    HistoryReader *m_reader = nullptr;
    HistoryModel *m_model = nullptr;
    QTimer *m_searchDelay = nullptr;
    int m_openRequest = 0;
    int m_exportRequest = 0;
    QList<int> m_removeRequests;
    bool m_removeFailed = false;
    DeleteConfirmer m_deleteConfirmer;
    ExportFileChooser m_exportFileChooser;
};
