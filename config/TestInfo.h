#pragma once

#include <QString>

// The customer details typed in the main window, kept in main.ini's "Test Info" group.
struct TestInfo
{
    QString customer;
    QString registrationNo;
    QString batteryModel;
    QString capacity;

    friend bool operator==(const TestInfo &, const TestInfo &) = default;
};
