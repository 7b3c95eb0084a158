#include "ExportRig.h"

#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>

#include "ConfigManager.h"

namespace {
constexpr int waitMs = 60000;
}

ExportRig::ExportRig(const DocSetting &setting)
    : m_env({QStringLiteral("SaveDataProcess=quillet")}), m_prepared(prepare(m_env, setting))
{
}

ExportRig::~ExportRig()
{
    stop();
}

bool ExportRig::prepare(UiTestEnvironment &env, const DocSetting &setting)
{
    if (!env.isReady())
        return false;
    env.writePictures();
    ConfigManager::instance()->setDocSetting(setting);
    return true;
}

bool ExportRig::fail(const QString &what)
{
    m_error = what;
    return false;
}

bool ExportRig::start()
{
    if (!m_prepared)
        return fail(QStringLiteral("the application tree could not be made"));
    m_helper = m_env.dir().binDir() + QStringLiteral("/quillet");
    if (!QFile::copy(QStringLiteral(QUILLET_PROGRAM), m_helper))
        return fail(QStringLiteral("cannot copy the helper to ") + m_helper);
    if (!m_sim.start(m_env.portPath(3), {QStringLiteral("--no-pacing")}))
        return fail(m_sim.errorText());

    m_interface.setListenPort(0);
    m_interface.setServiceReceiver(&m_service);
    m_service.setWindowReceiver(&m_window);
    m_service.setInterfaceReceiver(&m_interface);
    if (!m_interface.initialize() || !m_service.initialize() || !m_interface.active() || !m_service.active())
        return fail(QStringLiteral("the managers did not start"));
    m_running = true;
    if (!QTest::qWaitFor([this] { return m_interface.listenPort() != 0; }, waitMs))
        return fail(QStringLiteral("the interface service is not listening"));
    // The helper takes the port from the environment it inherits.
    qputenv("QUILLET_TEST_PORT", QByteArray::number(m_interface.listenPort()));
    m_window.setServiceReceiver(&m_service);

    auto *queryButton = m_window.findChild<QPushButton *>(QStringLiteral("queryDataButton"));
    QTest::mouseClick(queryButton, Qt::LeftButton);
    if (!QTest::qWaitFor([queryButton] { return queryButton->isEnabled(); }, waitMs))
        return fail(QStringLiteral("the query did not end"));
    return true;
}

bool ExportRig::saveAs(const QString &path)
{
    m_window.setSaveFileChooser([path](QWidget *, MainUI::SaveDialogSetup &) { return path; });
    QTest::mouseClick(m_window.findChild<QPushButton *>(QStringLiteral("saveAsButton")), Qt::LeftButton);
    if (!QTest::qWaitFor([&path] { return QFileInfo(path).isFile(); }, waitMs))
        return fail(QStringLiteral("no document at ") + path);
    if (!QTest::qWaitFor([this] { return !programRunning(m_helper); }, waitMs))
        return fail(QStringLiteral("the helper is still running after writing ") + path);
    return true;
}

bool ExportRig::stop()
{
    if (!m_running)
        return true;
    m_running = false;
    const bool stopped = m_service.deactive() && m_interface.deactive();
    m_service.exit();
    m_interface.exit();
    m_sim.stop();
    qunsetenv("QUILLET_TEST_PORT");
    return stopped;
}

QList<qint64> programPids(const QString &program)
{
    const QString target = QFileInfo(program).canonicalFilePath();
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath() == target)
            pids << pid;
    }
    return pids;
}

bool programRunning(const QString &program)
{
    return !programPids(program).isEmpty();
}
