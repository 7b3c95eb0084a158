#pragma once

// Run-log categories; a record may carry several and is then written to each.
enum LogFlag : int {
    LogOperation = 0x01,
    LogSecurity = 0x02,
    LogCommon = 0x04,
    LogDebug = 0x08,
    LogRun = 0x10,
    LogAll = 0x1F,
};
