#pragma once

#include <QtGlobal>

// The process step that differs between platforms, kept in one place.

// Whether the detached program with this process id has ended (also when it is a zombie that its
// adopting parent has not reaped yet). An unknown id, or a platform without the check, counts as
// running, so nothing is given up on too early.
bool detachedProcessEnded(qint64 pid);
