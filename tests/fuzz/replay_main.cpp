// Replays inputs through a fuzz target's entry point without libFuzzer, so that the ordinary test
// run catches a regression on the seed corpus and on every saved finding.
#include <cstdint>
#include <cstdio>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files.append(it.next());
        } else {
            files.append(path);
        }
    }
    files.sort();
    if (files.isEmpty()) {
        std::fprintf(stderr, "no inputs given\n");
        return 1;
    }
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        std::fprintf(stderr, "replaying %s (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size()));
    }
    std::fprintf(stderr, "%lld inputs replayed\n", static_cast<long long>(files.size()));
    return 0;
}
