#include "TesterPortSearch.h"

#include <memory>

#include "ConfigManager.h"
#include "TesterExchange.h"
#include "TesterPort.h"
#include "TesterProtocol.h"

QList<int> scanTesterPorts(const QString &pattern, int timeout)
{
    QList<int> found;
    for (int number = firstPortNumber; number <= lastPortNumber; ++number) {
        const std::unique_ptr<TesterPort> port = openTesterPort(pattern, number, timeout);
        if (!port)
            continue;
        QByteArray request = TesterProtocol::request(1, 5);
        QByteArray reply;
        if (probeExchange(*port, request, reply))
            found.append(number);
    }
    return found;
}

QList<int> scanTesterPorts()
{
    const ConfigManager *config = ConfigManager::instance();
    return scanTesterPorts(config->serialPortName(), config->queryDataTimeout());
}
