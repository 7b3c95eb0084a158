#pragma once

#include <QByteArray>
#include <QStringList>

#include "HistoryRecord.h"

// The export of kept tests: RFC 4180 CSV (CRLF line ends, fields quoted when they hold a comma,
// quote or line break, quotes doubled), UTF-8 with a byte-order mark so that spreadsheet
// programs read Chinese text correctly; values in display units, section results as words.
namespace HistoryCsv {

QByteArray byteOrderMark();
QStringList headerFields();
QStringList recordFields(const HistoryRecord &record);
QByteArray line(const QStringList &fields);

} // namespace HistoryCsv
