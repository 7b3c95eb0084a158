#pragma once

#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>

// Shared by the fuzz targets and their replay drivers.
namespace FuzzSupport {

// Qt's text codecs and timers want an application object; one for the whole process.
inline void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "kestrel_fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

} // namespace FuzzSupport

// A broken property is a finding: say which one and stop, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                              \
    do {                                                                                                   \
        if (!(condition)) {                                                                                \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);          \
            std::abort();                                                                                  \
        }                                                                                                  \
    } while (false)
