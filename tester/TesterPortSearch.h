#pragma once

#include <QList>
#include <QString>

constexpr int firstPortNumber = 0;
constexpr int lastPortNumber = 99;

// Probes every port number from 0 to 99 with the battery-status request and returns, ascending, the
// numbers on which a tester answered. Blocks the calling thread.
QList<int> scanTesterPorts(const QString &pattern, int timeout);
// Same, with the pattern and QueryDataTimeout of main.ini, read once.
QList<int> scanTesterPorts();
