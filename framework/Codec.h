#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The one place where text meets 8-bit bytes. The tester, main.ini, the run log and the helper
// protocol all speak GBK; every conversion in both programs goes through here so that nothing
// depends on a platform default.
class Codec final
{
public:
    // Selects GBK, or Latin-1 when the platform has no GBK converter. Called once by main();
    // conversions before that already use GBK when it exists.
    static bool install();
    static bool isGbk();
    static QString name();

    static QByteArray toBytes(QStringView text);
    static QString toText(QByteArrayView bytes);
    // C-string view of a fixed-size field: stops at the first NUL or at maxBytes.
    static QString fromField(const char *field, qsizetype maxBytes);
    // Copies text into a fixed-size field: at most fieldSize - 1 bytes, the rest zero-filled.
    static void toField(QStringView text, char *field, qsizetype fieldSize);
};
