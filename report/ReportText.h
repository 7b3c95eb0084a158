#pragma once

#include <QString>

#include "TestRecord.h"

// The texts of the six report sections. The printed page and the window show the same values with
// their own field widths, marks and indentation; one function per section builds both, so the two
// forms cannot tell different stories.
namespace ReportText {

enum class Form
{
    Page,   // the 794 x 1123 report picture: values in 6 characters, indented, captions on charging lines
    Screen, // the window's section labels: values in 15 characters, no indentation
};

// Shown in place of every value of a section whose values are missing.
inline constexpr char16_t missingValue[] = u"------";

QString batteryText(const BatteryResult &result, Form form);
QString groundingText(const GroundingResult &result, Form form);
QString starterText(const StarterResult &result, Form form);
QString charging3KText(const Charging3KResult &result, Form form);
QString charging2KText(const Charging2KResult &result, Form form);
QString avg2KText(const Avg2KResult &result, Form form);

// The text of one section of the record.
QString sectionText(const TestRecord &record, Section section, Form form);
// The result picture file name ("4-2.png") of one section of the record.
QString sectionPicture(const TestRecord &record, Section section);

} // namespace ReportText
