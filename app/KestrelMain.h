#pragma once

#include <functional>

// The whole of kestrel's main(): application object, codec, fonts, the managers' walks and the
// window. onEventLoop, when given, runs once the event loop has started (benchmarks and tests).
int kestrelMain(int argc, char *argv[], const std::function<void()> &onEventLoop = {});
