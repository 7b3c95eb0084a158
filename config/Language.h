#pragma once

#include <optional>

#include <QLocale>
#include <QString>

// The language of the operator's texts: main.ini Basic/Language holds "system" (the default), "en"
// or "zh_CN". It is chosen once at start-up, when the translations are installed, and holds for the
// life of the process, so every caption, picture and document of one run speaks the same language.
// The run log stays English whatever is chosen.
namespace Language {

inline constexpr char16_t systemSetting[] = u"system";
inline constexpr char16_t english[] = u"en";
inline constexpr char16_t chinese[] = u"zh_CN";

// The setting in its written form ("system", "en" or "zh_CN"), case and surrounding blanks
// ignored; nothing for any other text.
std::optional<QString> normalizedSetting(const QString &text);

// The language a valid setting means on a system of the given locale: "zh_CN" or "en". "system"
// gives "zh_CN" for every Chinese locale and "en" for all others.
QString codeFor(const QString &setting, const QLocale &systemLocale);

// The effective language code of this process: "en" before install() and for English, "zh_CN"
// for Simplified Chinese. Picture and text lookups ask this.
QString code();

// The folder kestrel's own translations are read from: <bin>/../Translations.
QString translationsDir();

// Installs kestrel's and Qt's own translations for the setting (see normalizedSetting) on the
// running application, after removing any installed earlier; nothing for English. Returns whether
// every file needed was loaded (a missing file leaves those texts English). GUI thread.
bool install(const QString &setting);

// Takes the installed translations off again and goes back to "en"; called before the application
// object goes, so no translator outlives it. GUI thread.
void uninstall();

} // namespace Language
