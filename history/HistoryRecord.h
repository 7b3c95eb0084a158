#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include "TestRecord.h"

// One kept test: everything needed to redraw its report exactly, plus where and when it was made.
// The tester's values stay the integers it sent, so a reopened test shows the same texts.
struct HistoryRecord
{
    QUuid key;
    QString workstation;
    std::int64_t testedUtcMs = 0;      // time of the query, milliseconds since 1970 UTC
    std::int32_t utcOffsetSeconds = 0; // the workstation's offset from UTC at that time
    QString portName;
    QString customer;     // as typed in the window when the query ended
    QString batteryModel; // likewise
    TestRecord record{};
};

// The overall verdict of a test, as the history list shows it.
enum class HistoryResult : int
{
    NoResult = 0,
    Pass = 1,
    Attention = 2,
};

// One line of the history list: what the table shows, without the section values.
struct HistoryRow
{
    QUuid key;
    std::int64_t testedUtcMs = 0;
    std::int32_t utcOffsetSeconds = 0;
    QString registration;
    QString customer;
    QString batteryModel;
    HistoryResult result = HistoryResult::NoResult;
    QString workstation;
};

// Something that happened to a kept test after it was recorded.
enum class HistoryEventKind : int
{
    Saved = 1,
    Printed = 2,
    Reopened = 3,
};

struct HistoryEvent
{
    QUuid key;
    HistoryEventKind kind = HistoryEventKind::Saved;
    std::int64_t utcMs = 0;
    QString documentPath; // Saved only
    QString picturePath;  // Saved only
    QString outcome;      // Saved: what became of the request
};

namespace HistoryRules {

// True when at least one section or header value came from the tester: a section with a status,
// a date that was read (the year is 2000 plus a byte, never 0), a registration or a capacity.
bool hasTesterData(const TestRecord &record);

// The picture number of a section's result (0 none, 1 good, 2 or 4 needs attention).
int sectionPictureNumber(const TestRecord &record, Section section);
// "no result", "pass" or "attention" for one section; the words of the export.
QString sectionResultWord(const TestRecord &record, Section section);
// Attention when any section's picture asks for it or any shown value is marked; pass when some
// section has values and none asks for attention; otherwise no result.
HistoryResult overallResult(const TestRecord &record);
QString resultWord(HistoryResult result);

// The text a search looks in: registration and customer, case-folded, joined by a line feed.
QString searchText(const QString &registration, const QString &customer);
// A LIKE pattern (escape character '\') that finds `text` anywhere in a searchText.
QString containsPattern(const QString &text);

// A GLOB pattern that finds `text` anywhere in a searchText (for the SQLite trigram index).
QString containsGlob(const QString &text);

// The registration bytes as the tester sent them, without the zero padding at the end, in hex;
// and back into a fresh RegistrationNoInfo.
QString registrationHex(const RegistrationNoInfo &info);
RegistrationNoInfo registrationFromHex(const QString &hex);

} // namespace HistoryRules
