#include "Language.h"

#include <memory>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMutex>
#include <QTranslator>

#include "AppPaths.h"

namespace Language {

namespace {

QMutex s_lock;
QString s_code = QString::fromUtf16(english);     // guarded by s_lock
std::unique_ptr<QTranslator> s_kestrelTranslator; // GUI thread only
std::unique_ptr<QTranslator> s_qtTranslator;      // GUI thread only

void setCode(const QString &code)
{
    QMutexLocker locker(&s_lock);
    s_code = code;
}

// Loads one translation and installs it; the translator is kept only when it loaded.
bool installFrom(std::unique_ptr<QTranslator> &slot, const QString &fileName, const QString &folder)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(fileName, folder))
        return false;
    QCoreApplication::installTranslator(translator.get());
    slot = std::move(translator);
    return true;
}

void removeInstalled(std::unique_ptr<QTranslator> &slot)
{
    if (slot)
        QCoreApplication::removeTranslator(slot.get());
    slot.reset();
}

} // namespace

std::optional<QString> normalizedSetting(const QString &text)
{
    const QString trimmed = text.trimmed();
    for (const char16_t *known : {systemSetting, english, chinese}) {
        const QString name = QString::fromUtf16(known);
        if (trimmed.compare(name, Qt::CaseInsensitive) == 0)
            return name;
    }
    return std::nullopt;
}

QString codeFor(const QString &setting, const QLocale &systemLocale)
{
    const QString name = normalizedSetting(setting).value_or(QString::fromUtf16(systemSetting));
    if (name == QStringView(english) || name == QStringView(chinese))
        return name;
    // Traditional-script locales (Taiwan, Hong Kong) also read Simplified Chinese better than English.
    return systemLocale.language() == QLocale::Chinese ? QString::fromUtf16(chinese)
                                                       : QString::fromUtf16(english);
}

QString code()
{
    QMutexLocker locker(&s_lock);
    return s_code;
}

QString translationsDir()
{
    return AppPaths::applicationDir() + QStringLiteral("/../Translations");
}

void uninstall()
{
    removeInstalled(s_kestrelTranslator);
    removeInstalled(s_qtTranslator);
    setCode(QString::fromUtf16(english));
}

bool install(const QString &setting)
{
    uninstall();
    const QString chosen = codeFor(setting, QLocale::system());
    setCode(chosen);
    // The default QLocale stays the system's: changing it is not safe once the managers' threads
    // run, and Qt's dialogs take their words from the translation, not from the locale.
    if (chosen == QStringView(english))
        return true;
    const bool own = installFrom(s_kestrelTranslator, QStringLiteral("kestrel_") + chosen, translationsDir());
    const bool qt = installFrom(s_qtTranslator, QStringLiteral("qtbase_") + chosen,
                                QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    return own && qt;
}

} // namespace Language
