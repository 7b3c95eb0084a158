#include "TestAppDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "AppPaths.h"
#include "Codec.h"

TestAppDir::TestAppDir(bool createFolders) : m_dir(QDir::tempPath() + QStringLiteral("/kestrel test XXXXXX"))
{
    QDir root(m_dir.path());
    root.mkpath(QStringLiteral("bin"));
    if (createFolders) {
        for (const char *folder : {"Config", "Log", "Image", "Temp"})
            root.mkpath(QString::fromLatin1(folder));
    }
    AppPaths::setApplicationDirOverride(binDir());
}

TestAppDir::~TestAppDir() { AppPaths::setApplicationDirOverride(QString()); }

bool TestAppDir::writeFile(const QString &relative, const QByteArray &bytes) const
{
    const QString filePath = path(relative);
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

QByteArray TestAppDir::readFile(const QString &relative) const
{
    QFile file(path(relative));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QStringList TestAppDir::logLines(const QString &category, const QString &program) const
{
    const QString name = program.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
                                           : program;
    QDir dir(path(QStringLiteral("Log/%1/%2").arg(category, name)));
    QStringList lines;
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &fileName : files) {
        QFile file(dir.filePath(fileName));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = Codec::toText(file.readAll());
        for (const QString &line : text.split(QStringLiteral("\r\n")))
            lines << line;
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
    }
    return lines;
}
