#include "DocxWriter.h"

#include "DocxPackage.h"
#include "DocxParts.h"
#include "PageLayout.h"

namespace {

const QString officeRelations =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/");
const QString wordprocessingType =
    QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.");

} // namespace

QByteArray DocxWriter::build(const DocumentContent &content, QString *error)
{
    return build(content, QDateTime::currentDateTimeUtc(), error);
}

QByteArray DocxWriter::build(const DocumentContent &content, const QDateTime &createdUtc, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (content.png.isEmpty() || content.pixelWidth == 0 || content.pixelHeight == 0) {
        *error = QStringLiteral("no picture");
        return {};
    }

    DocxPackage package;
    package.addDefault(QStringLiteral("rels"),
                       QStringLiteral("application/vnd.openxmlformats-package.relationships+xml"));
    package.addDefault(QStringLiteral("xml"), QStringLiteral("application/xml"));
    package.addDefault(QStringLiteral("png"), QStringLiteral("image/png"));

    const QString documentPart = QStringLiteral("/word/document.xml");
    package.addRelationship(QStringLiteral("/"), officeRelations + QStringLiteral("officeDocument"),
                            QStringLiteral("word/document.xml"));
    package.addRelationship(
        QStringLiteral("/"),
        QStringLiteral(
            "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties"),
        QStringLiteral("docProps/core.xml"));
    package.addRelationship(QStringLiteral("/"), officeRelations + QStringLiteral("extended-properties"),
                            QStringLiteral("docProps/app.xml"));

    package.addRelationship(documentPart, officeRelations + QStringLiteral("styles"),
                            QStringLiteral("styles.xml"));
    DocxParts::DocumentReferences references;
    references.headerId = package.addRelationship(documentPart, officeRelations + QStringLiteral("header"),
                                                  QStringLiteral("header1.xml"));
    references.footerId = package.addRelationship(documentPart, officeRelations + QStringLiteral("footer"),
                                                  QStringLiteral("footer1.xml"));
    references.pictureId = package.addRelationship(documentPart, officeRelations + QStringLiteral("image"),
                                                   QStringLiteral("media/image1.png"));

    const PageLayout::Geometry page = PageLayout::compose(content.title, content.header, content.footer,
                                                          content.pixelWidth, content.pixelHeight);

    package.addPart(documentPart, wordprocessingType + QStringLiteral("document.main+xml"),
                    DocxParts::document(content.title, references, page));
    package.addPart(QStringLiteral("/word/styles.xml"), wordprocessingType + QStringLiteral("styles+xml"),
                    DocxParts::styles());
    package.addPart(QStringLiteral("/word/header1.xml"), wordprocessingType + QStringLiteral("header+xml"),
                    DocxParts::header(content.header));
    package.addPart(QStringLiteral("/word/footer1.xml"), wordprocessingType + QStringLiteral("footer+xml"),
                    DocxParts::footer(content.footer));
    package.addPart(QStringLiteral("/word/media/image1.png"), QString(), content.png, false);
    package.addPart(QStringLiteral("/docProps/core.xml"),
                    QStringLiteral("application/vnd.openxmlformats-package.core-properties+xml"),
                    DocxParts::coreProperties(content.title, createdUtc));
    package.addPart(QStringLiteral("/docProps/app.xml"),
                    QStringLiteral("application/vnd.openxmlformats-officedocument.extended-properties+xml"),
                    DocxParts::appProperties());

    QString zipError;
    QByteArray bytes = package.zip(&zipError);
    if (bytes.isEmpty())
        *error = QStringLiteral("packaging failed: %1").arg(zipError);
    return bytes;
}
