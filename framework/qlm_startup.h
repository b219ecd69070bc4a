// Start-up and shut-down of the framework's modules in their fixed
// dependency order. Static constructors do no work in this system: every
// module has <module>_start and <module>_stop, and these two functions run
// them. main() and the test runner both call framework_start first.
#pragma once

// Runs every module's start in dependency order. Calling it again while the
// framework is started does nothing.
void framework_start(int argc, char** argv);
// Runs the stop hooks once, in reverse order. Does nothing when not started.
void framework_stop();
bool framework_started();

// The base module's own start and stop, in the order the framework needs:
// random seed, type ids, platform, full-string registry, resource registry,
// file layer, encoding registry (and the reverse at stop).
void qlm_base_start(int argc, char** argv);
void qlm_base_stop();
