#pragma once

#include <QPixmap>
#include <QString>

// The pictures of the window, the settings dialog and the report page, by file name ("Customer.png",
// "4-2.png"). Their captions are drawn in one language: a picture of language "zh_CN" is
// Image/zh_CN/<name>; where a language has no picture of that name (or for English), Image/<name>.
namespace Artwork {

// The path of the picture in the given language, falling back to the English one in Image/.
// A code that is not a plain language code (a path, "..") gets the English picture.
QString path(const QString &fileName, const QString &language);

// The picture, read at each use; a missing file gives an empty picture.
QPixmap picture(const QString &fileName, const QString &language);

// The language the program shows its pictures in, "en" until set; set once at start from the
// language setting, before the windows are built.
QString language();
void setLanguage(const QString &language);

} // namespace Artwork
