#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A Compound File Binary container (version 3, 512-byte sectors) holding flat streams in its root
// storage: the FAT, DIFAT, directory, mini FAT and mini stream are laid out when the file is built.
// Streams under the 4096-byte cut-off go to the mini stream, as every reader expects.
class CompoundFile final
{
public:
    static constexpr int sectorSize = 512;
    static constexpr int miniSectorSize = 64;
    static constexpr int miniStreamCutoff = 4096;
    static constexpr int maxNameLength = 31;

    // The class id stored in the root entry, 16 bytes in their on-disk order (empty: all zero).
    void setRootClassId(const QByteArray &classId);
    // Adds a stream to the root storage. Fails on an invalid or repeated name.
    bool addStream(const QString &name, const QByteArray &data, QString *error);
    // The whole file; empty with *error set when it cannot be built.
    QByteArray build(QString *error) const;

private:
    struct Stream
    {
        QString name;
        QByteArray data;
    };
    QList<Stream> m_streams;
    QByteArray m_rootClassId;
};
