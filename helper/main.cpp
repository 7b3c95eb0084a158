#include <csignal>

#include <QCoreApplication>

#include "CQuilletApp.h"
#include "Codec.h"

int main(int argc, char *argv[])
{
#ifdef SIGPIPE
    // A closed standard output or error makes a write fail, not the helper die before its report.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication application(argc, argv);
    Codec::install();

    CQuilletApp::Options options;
    // Tests run a fake kestrel on a free port; kestrel itself always listens on the fixed one.
    bool portGiven = false;
    const int testPort = qEnvironmentVariableIntValue("QUILLET_TEST_PORT", &portGiven);
    if (portGiven && testPort > 0 && testPort <= 65535)
        options.port = static_cast<std::uint16_t>(testPort);

    CQuilletApp quillet(options);
    quillet.run();
    // kestrel never reads the exit code; the outcome travelled as run-log lines.
    return 0;
}
