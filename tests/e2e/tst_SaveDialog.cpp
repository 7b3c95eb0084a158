#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "Codec.h"
#include "ConfigManager.h"
#include "MainUI.h"
#include "ServiceMessages.h"
#include "UiTestEnvironment.h"

namespace {

// An X server of the test's own, so that the real file dialog runs as on a desktop.
class XvfbServer final
{
public:
    ~XvfbServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (program.isEmpty())
            return false;
        const QByteArray path = program.toLocal8Bit();
        for (int display = 71; display < 140; ++display) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
            if (QFileInfo::exists(socket) || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)))
                continue;
            const QByteArray name = ":" + QByteArray::number(display);
            const pid_t pid = ::fork();
            if (pid == 0) {
                // Ends with the test however it ends, and keeps the test's output to itself.
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                const int null = ::open("/dev/null", O_RDWR);
                ::dup2(null, STDIN_FILENO);
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
                ::execl(path.constData(), path.constData(), name.constData(), "-nolisten", "tcp", "-screen",
                        "0", "1280x1024x24", static_cast<char *>(nullptr));
                ::_exit(127);
            }
            if (pid < 0)
                return false;
            for (int waited = 0; waited < 100; ++waited) {
                if (QFileInfo::exists(socket)) {
                    m_pid = pid;
                    m_display = name;
                    return true;
                }
                if (::waitpid(pid, nullptr, WNOHANG) == pid)
                    break; // taken by someone else meanwhile
                ::usleep(50 * 1000);
            }
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        return false;
    }

    QByteArray display() const { return m_display; }

private:
    pid_t m_pid = 0;
    QByteArray m_display;
};

// Types as a keyboard does: one key event per character, non-ASCII ones carried by their text as an
// input method delivers them.
void typeText(QWidget *widget, const QString &text)
{
    for (const QChar character : text) {
        if (character.unicode() < 0x80)
            QTest::keyClick(widget, character.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(character), Qt::NoModifier);
    }
}

QFileDialog *openFileDialog()
{
    return qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
}

} // namespace

// The real Save As dialog on a real X display, typed into as an operator does.
class tst_SaveDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MainUI::installFonts(); }
    void typedPathGbkCannotHoldIsRefused();
};

void tst_SaveDialog::typedPathGbkCannotHoldIsRefused()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    const QString folder = env.dir().path(QStringLiteral("docs"));
    QVERIFY(QDir().mkpath(folder));
    ConfigManager::instance()->setLastSaveFolder(folder);
    RecordingReceiver service;
    MainUI window;
    window.setServiceReceiver(&service);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QString startFolder;
    QString statusWhileOpen;
    bool stayedOpen = false;
    bool typed = false;
    const QString refusedName = QStringLiteral("caf\u0151.docx");
    // The dialog runs modally inside the click; this drives it from the event loop it runs.
    QTimer driver;
    int step = 0;
    int waits = 0;
    QString seenName;
    connect(&driver, &QTimer::timeout, this, [&] {
        QFileDialog *dialog = openFileDialog();
        if (!dialog || !dialog->isVisible())
            return;
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name)
            return;
        if (step == 0) {
            startFolder = dialog->directory().absolutePath();
            name->selectAll();
            QTest::keyClick(name, Qt::Key_Delete);
            typeText(name, refusedName);
            typed = name->text() == refusedName;
            QTest::keyClick(name, Qt::Key_Return);
            step = 1;
        } else if (step == 1) {
            // A busy machine may still be filling the dialog's completer, which takes the first
            // Return as a person's would; then Return is pressed again.
            if (!window.statusText().startsWith(QStringLiteral("Not saved")) && ++waits < 25) {
                if (waits % 5 == 0) {
                    auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
                    QAbstractButton *save = buttons ? buttons->button(QDialogButtonBox::Save) : nullptr;
                    if (save && save->isEnabled())
                        QTest::mouseClick(save, Qt::LeftButton);
                    else
                        QTest::keyClick(name, Qt::Key_Return);
                    seenName = name->text();
                }
                return;
            }
            // Still open after Return, and the status line says why.
            stayedOpen = dialog->isVisible();
            statusWhileOpen = window.statusText();
            name->selectAll();
            QTest::keyClick(name, Qt::Key_Delete);
            typeText(name, QStringLiteral("report"));
            QTest::keyClick(name, Qt::Key_Return);
            step = 2;
        }
    });
    driver.start(200);
    QTimer::singleShot(0, &window, [&] {
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("saveAsButton")), Qt::LeftButton);
    });
    QTRY_VERIFY_WITH_TIMEOUT(step == 2 && !openFileDialog(), 30000);
    driver.stop();

    QCOMPARE(startFolder, folder);
    QVERIFY(typed);
    QVERIFY(stayedOpen);
    QVERIFY2(
        statusWhileOpen.startsWith(QStringLiteral("Not saved")),
        qPrintable(QStringLiteral("name field held \"%1\"; status \"%2\"").arg(seenName, statusWhileOpen)));
    QCOMPARE(statusWhileOpen, QStringLiteral("Not saved: the path holds \u201c\u0151\u201d (U+0151), which a "
                                             "document path cannot carry"));
    // Only the corrected name was posted, with the chosen type's suffix added.
    QTRY_COMPARE(service.messages.size(), 1);
    SaveDataRequest request;
    QCOMPARE(service.messages.first().size(), qsizetype(sizeof(request)));
    std::memcpy(&request, service.messages.first().constData(), sizeof(request));
    QCOMPARE(Codec::fromField(request.docPath, sizeof(request.docPath)),
             folder + QStringLiteral("/report.doc"));
    QCOMPARE(window.statusText(), QStringLiteral("Saving report.doc..."));
    const QString refusedPath = Codec::toText(Codec::toBytes(folder + QLatin1Char('/') + refusedName));
    QCOMPARE(env.runLogLines()
                 .filter(QStringLiteral("MainUI Save As refused, Reason:"))
                 .filter(refusedPath)
                 .size(),
             1);
}

int main(int argc, char **argv)
{
    XvfbServer server;
    if (!server.start()) {
        std::fprintf(stderr, "tst_SaveDialog: Xvfb could not be started; scripts/deps.sh installs it\n");
        return 1;
    }
    qputenv("DISPLAY", server.display());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // Qt's own dialog, as under Xvfb without a desktop: the one whose refusal keeps it open.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    tst_SaveDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_SaveDialog.moc"
