#pragma once

#include <optional>

#include <QAbstractTableModel>
#include <QList>

#include "HistoryRecord.h"
#include "HistoryStore.h"

class HistoryReader;

// The history list as a table model that fetches rows as the view scrolls to them: one page at
// a time from the reader's thread, appended when it arrives, so a million kept tests open as
// quickly as ten and the window never waits for the database.
class HistoryModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryModel)

public:
    enum Column
    {
        TimeColumn = 0,
        RegistrationColumn,
        CustomerColumn,
        BatteryModelColumn,
        ResultColumn,
        WorkstationColumn,
        ColumnCount,
    };

    static constexpr int pageSize = 100;

    explicit HistoryModel(HistoryReader *reader, QObject *parent = nullptr);

    // Starts again from the first page with this search and date range (the order is kept).
    void setFilter(const HistoryFilter &filter);
    HistoryFilter filter() const { return m_filter; }
    // Fetches the first page again, e.g. after a delete.
    void reload() { setFilter(m_filter); }

    HistoryRow row(int index) const { return m_rows.at(index); }
    bool isLoading() const { return m_pendingRequest != 0; }
    QString lastError() const { return m_lastError; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    void sort(int column, Qt::SortOrder order) override;

signals:
    // A page arrived (ok) or the database could not be read (error text).
    void pageLoaded(bool ok, const QString &error);

private:
    void onPageReady(int request, const QList<HistoryRow> &rows, bool ok, const QString &error);
    void requestNextPage();

    HistoryReader *m_reader;
    HistoryFilter m_filter;
    QList<HistoryRow> m_rows;
    int m_pendingRequest = 0;
    bool m_exhausted = false;
    QString m_lastError;
};
