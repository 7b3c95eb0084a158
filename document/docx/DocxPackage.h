#pragma once

#include <vector>

#include <QByteArray>
#include <QString>

// An Office Open XML package being assembled: parts with their content types, and the
// relationships between them. The package writes [Content_Types].xml and every .rels part itself
// from what was recorded, so a part can never be stored without being declared.
class DocxPackage final
{
public:
    struct Part
    {
        QString name; // absolute within the package, e.g. "/word/document.xml"
        QByteArray bytes;
        bool compress = true;
    };
    struct Relationship
    {
        QString id;
        QString type;
        QString target; // relative to the folder of the source part
    };

    // Content type for every part whose name ends in extension (no dot), unless overridden.
    void addDefault(const QString &extension, const QString &contentType);
    // Adds a part; an empty contentType relies on the default of its extension. Pictures are stored
    // without compression since PNG data is already deflated.
    void addPart(const QString &name, const QString &contentType, const QByteArray &bytes,
                 bool compress = true);
    // Records a relationship from sourcePart ("/" for the package itself) and returns its id,
    // "rId1", "rId2", ... counted per source.
    QString addRelationship(const QString &sourcePart, const QString &type, const QString &target);

    // The name of the part holding the relationships of sourcePart ("/word/_rels/document.xml.rels").
    static QString relationshipsPartName(const QString &sourcePart);

    QByteArray contentTypesXml() const;
    QByteArray relationshipsXml(const QString &sourcePart) const;

    // The whole package as a ZIP archive; empty with *error set on failure.
    QByteArray zip(QString *error) const;

private:
    struct Override
    {
        QString partName;
        QString contentType;
    };
    struct Source
    {
        QString part;
        std::vector<Relationship> relationships;
    };

    std::vector<Override> m_defaults; // extension -> content type
    std::vector<Override> m_overrides;
    std::vector<Part> m_parts;
    std::vector<Source> m_sources;
};
