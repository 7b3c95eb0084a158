#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away application tree (bin/, Config/, Log/, Image/, Temp/) that AppPaths points at
// while the object lives, so tests never touch the source or build tree.
class TestAppDir final
{
public:
    explicit TestAppDir(bool createFolders = true);
    ~TestAppDir();

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString binDir() const { return root() + QStringLiteral("/bin"); }
    QString path(const QString &relative) const { return root() + QLatin1Char('/') + relative; }

    // Writes bytes to a file below the root, creating folders.
    bool writeFile(const QString &relative, const QByteArray &bytes) const;
    QByteArray readFile(const QString &relative) const;

    // All lines of every file of one run-log category of the given program, oldest file first,
    // decoded as GBK, without the line ends.
    QStringList logLines(const QString &category, const QString &program = QString()) const;

private:
    QTemporaryDir m_dir;
};
