#include "LogChannel.h"
