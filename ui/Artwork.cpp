#include "Artwork.h"

#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>

#include "AppPaths.h"

namespace Artwork {

namespace {

QMutex s_lock;
QString s_language = QStringLiteral("en");

// "zh_CN", "en", "pt_BR": the code names a folder, so nothing that could leave Image/.
bool isLanguageCode(const QString &language)
{
    static const QRegularExpression code(QStringLiteral("^[a-z]{2,3}(_[A-Za-z0-9]{2,8})?$"));
    return code.match(language).hasMatch();
}

} // namespace

QString path(const QString &fileName, const QString &language)
{
    const QString imageDir = AppPaths::imageDir();
    if (isLanguageCode(language)) {
        const QString translated = imageDir + QLatin1Char('/') + language + QLatin1Char('/') + fileName;
        if (QFileInfo(translated).isFile())
            return translated;
    }
    return imageDir + QLatin1Char('/') + fileName;
}

QPixmap picture(const QString &fileName, const QString &language)
{
    return QPixmap(path(fileName, language));
}

QString language()
{
    QMutexLocker locker(&s_lock);
    return s_language;
}

void setLanguage(const QString &language)
{
    QMutexLocker locker(&s_lock);
    s_language = language;
}

} // namespace Artwork
