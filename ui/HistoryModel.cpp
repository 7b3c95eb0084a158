#include "HistoryModel.h"

#include <QDateTime>

#include "HistoryReader.h"

HistoryModel::HistoryModel(HistoryReader *reader, QObject *parent)
    : QAbstractTableModel(parent), m_reader(reader)
{
    connect(m_reader, &HistoryReader::pageReady, this, &HistoryModel::onPageReady);
}

void HistoryModel::setFilter(const HistoryFilter &filter)
{
    beginResetModel();
    m_filter = filter;
    m_rows.clear();
    m_exhausted = false;
    m_pendingRequest = 0; // an answer to an older request is dropped when it comes
    endResetModel();
    requestNextPage();
}

void HistoryModel::requestNextPage()
{
    if (m_pendingRequest != 0 || m_exhausted)
        return;
    std::optional<HistoryRow> after;
    if (!m_rows.isEmpty())
        after = m_rows.last();
    m_pendingRequest = m_reader->requestPage(m_filter, after, pageSize);
}

void HistoryModel::onPageReady(int request, const QList<HistoryRow> &rows, bool ok, const QString &error)
{
    if (request != m_pendingRequest)
        return;
    m_pendingRequest = 0;
    if (!ok) {
        m_lastError = error;
        m_exhausted = true;
        emit pageLoaded(false, error);
        return;
    }
    m_lastError.clear();
    if (rows.size() < pageSize)
        m_exhausted = true;
    if (!rows.isEmpty()) {
        beginInsertRows(QModelIndex(), m_rows.size(), m_rows.size() + rows.size() - 1);
        m_rows << rows;
        endInsertRows();
    }
    emit pageLoaded(true, QString());
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || role != Qt::DisplayRole)
        return QVariant();
    const HistoryRow &row = m_rows.at(index.row());
    switch (index.column()) {
    case TimeColumn:
        // The time as the workstation that made the test saw it.
        return QDateTime::fromMSecsSinceEpoch(row.testedUtcMs, Qt::OffsetFromUTC, row.utcOffsetSeconds)
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case RegistrationColumn:
        return row.registration;
    case CustomerColumn:
        return row.customer;
    case BatteryModelColumn:
        return row.batteryModel;
    case ResultColumn:
        return HistoryRules::resultWord(row.result);
    case WorkstationColumn:
        return row.workstation;
    default:
        return QVariant();
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case TimeColumn:
        return tr("Date and time");
    case RegistrationColumn:
        return tr("Registration");
    case CustomerColumn:
        return tr("Customer");
    case BatteryModelColumn:
        return tr("Battery model");
    case ResultColumn:
        return tr("Result");
    case WorkstationColumn:
        return tr("Workstation");
    default:
        return QVariant();
    }
}

bool HistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_exhausted && m_pendingRequest == 0;
}

void HistoryModel::fetchMore(const QModelIndex &parent)
{
    if (!parent.isValid())
        requestNextPage();
}

void HistoryModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    HistoryFilter filter = m_filter;
    filter.sortColumn = static_cast<HistoryFilter::Column>(column);
    filter.descending = order == Qt::DescendingOrder;
    if (filter.sortColumn == m_filter.sortColumn && filter.descending == m_filter.descending &&
        !m_rows.isEmpty())
        return;
    setFilter(filter);
}
