#pragma once

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include "MessageReceiver.h"
#include "TestAppDir.h"
#include "TestRecord.h"

// A temporary application tree with its own main.ini and pictures, and the run log and the
// configuration store started on it, as the window finds them in a real run.
class UiTestEnvironment final
{
public:
    // `basicKeys` are extra lines of the Basic group ("CloseDataPrinter=1"); SerialPortName always
    // points into the tree, where no device exists unless a test links one there.
    explicit UiTestEnvironment(const QStringList &basicKeys = {}, const QByteArray &extraIni = {});
    ~UiTestEnvironment();

    TestAppDir &dir() { return m_dir; }
    bool isReady() const { return m_ready; }
    // Device link of a port number in the tree ("<root>/dev/tty3").
    QString portPath(int portNumber) const;

    // Writes a one-colour PNG per picture name of the window and the report, into Image/ or, for a
    // language, Image/<language>/; each colour is distinct across names and languages, so a test
    // can tell which picture a label or a box shows.
    void writePictures(const QSize &size = QSize(80, 48), const QString &language = QString());
    static QColor pictureColour(const QString &fileName, const QString &language = QString());
    static QStringList pictureNames();

    // Stops the run log so that its files are complete, and returns the Run category's lines.
    QStringList runLogLines();
    // Values of one group of main.ini as written (hex-decoded where the store encodes them).
    QString iniValue(const QString &group, const QString &key, bool *present = nullptr) const;

private:
    TestAppDir m_dir;
    bool m_ready = false;
    bool m_logRunning = false;
};

// Stands in for the service manager: keeps a copy of every message posted to it, or refuses them.
class RecordingReceiver final : public MessageReceiver
{
public:
    bool postMessage(const void *message, std::uint32_t length) override;

    bool refuse = false;
    QList<QByteArray> messages;
};

// A test with every section answered and some values out of their limits: the report the window,
// the page and the documents are checked against.
TestRecord fullTestRecord();
