// Time to write the .doc of one export, beside LibreOffice converting the same content to .doc.
// Usage: bench_worddoc [runs] [libreoffice-runs]
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include "DocxWriter.h"
#include "WordBinaryWriter.h"

namespace {

constexpr QSize reportSize(794, 1123);

QByteArray toPng(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// Something like the report page: text lines, frames and a few filled areas on white.
QImage reportLikeImage()
{
    QImage image(reportSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    for (int section = 0; section < 6; ++section) {
        const int top = 120 + section * 160;
        painter.drawRect(40, top, 714, 150);
        painter.fillRect(50, top + 10, 130, 130, section % 2 ? QColor(40, 160, 60) : QColor(200, 40, 40));
        for (int line = 0; line < 6; ++line)
            painter.drawText(
                200, top + 25 + line * 20,
                QStringLiteral("Value %1.%2: 12.%3 V  ** 345 CCA").arg(section).arg(line).arg(line * 7));
    }
    painter.drawText(QRect(0, 40, 794, 40), Qt::AlignCenter, QStringLiteral("Battery Test Report"));
    return image;
}

// Incompressible pixels: the largest PNG a report page of this size can become.
QImage noiseImage()
{
    QImage image(reportSize, QImage::Format_RGB32);
    QRandomGenerator generator(7);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = 0xFF000000u | generator.bounded(0x1000000u);
    }
    return image;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

DocumentContent contentWith(const QByteArray &png)
{
    DocumentContent content;
    content.title = QStringLiteral("蓄电池检测报告 Battery Test Report");
    content.header = QStringLiteral("深圳市某某汽车维修有限公司\n电话：0755-12345678");
    content.footer = QStringLiteral("检测员：张三　日期：2024年5月1日");
    content.png = png;
    content.pixelWidth = std::uint32_t(reportSize.width());
    content.pixelHeight = std::uint32_t(reportSize.height());
    return content;
}

double benchWriter(const char *label, const DocumentContent &content, int runs)
{
    std::vector<double> times;
    qsizetype bytes = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        QString error;
        const QByteArray doc = WordBinaryWriter::build(content, &error);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (doc.isEmpty()) {
            std::fprintf(stderr, "write failed: %s\n", qPrintable(error));
            return -1;
        }
        bytes = doc.size();
    }
    const double result = median(times);
    std::printf("%-44s median %8.3f ms  (min %.3f, max %.3f, %d runs, PNG %lld bytes, .doc %lld bytes)\n",
                label, result, *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()), runs,
                static_cast<long long>(content.png.size()), static_cast<long long>(bytes));
    return result;
}

void benchLibreOffice(const DocumentContent &content, int runs)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) {
        std::printf("LibreOffice conversion: skipped (soffice not installed)\n");
        return;
    }
    QTemporaryDir dir;
    QTemporaryDir profile;
    QString error;
    const QByteArray docx = DocxWriter::build(content, &error);
    QFile input(dir.filePath(QStringLiteral("report.docx")));
    if (docx.isEmpty() || !input.open(QIODevice::WriteOnly) || input.write(docx) != docx.size()) {
        std::printf("LibreOffice conversion: skipped (no .docx input: %s)\n", qPrintable(error));
        return;
    }
    input.close();
    const QStringList arguments{QStringLiteral("--headless"),
                                QStringLiteral("--norestore"),
                                QStringLiteral("-env:UserInstallation=") +
                                    QUrl::fromLocalFile(profile.path()).toString(),
                                QStringLiteral("--convert-to"),
                                QStringLiteral("doc"),
                                QStringLiteral("--outdir"),
                                dir.filePath(QStringLiteral("out")),
                                input.fileName()};
    // The first start creates the profile; it is not counted.
    QProcess::execute(soffice, arguments);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess process;
        process.start(soffice, arguments);
        process.waitForFinished(300000);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("%-44s median %8.1f ms  (min %.1f, max %.1f, %d runs, whole soffice process)\n",
                "LibreOffice .docx -> .doc, report picture", median(times),
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
                runs);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 51;
    const int officeRuns = argc > 2 ? std::max(0, atoi(argv[2])) : 5;

    const DocumentContent report = contentWith(toPng(reportLikeImage()));
    const DocumentContent noise = contentWith(toPng(noiseImage()));
    benchWriter("WordBinaryWriter, report picture 794 x 1123", report, runs);
    benchWriter("WordBinaryWriter, noise picture 794 x 1123", noise, runs);
    if (officeRuns > 0)
        benchLibreOffice(report, officeRuns);
    return 0;
}
