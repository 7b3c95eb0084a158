#pragma once

#include <QString>

// The Python 3 that the document checks run with: any one for the walkers, one that has the
// olefile module when needOlefile is set. Empty when there is none.
QString findTestPython(bool needOlefile);
