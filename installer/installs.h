// The install engine: start-up and shut-down of its module.
#pragma once

void installs_start();
void installs_stop();
