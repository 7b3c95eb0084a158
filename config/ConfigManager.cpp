// Placeholder until the configuration store lands.
#include "ConfigManager.h"
