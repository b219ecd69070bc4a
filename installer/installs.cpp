// The install engine's module.
#include "installs.h"

void installs_start() {}
void installs_stop() {}
