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

// Modules of the layers above the framework that own process-wide state the
// core must release at shut-down (the imaging module's colour-name list)
// register a hook from their start; the base module's stop runs the hooks
// first, in reverse order of registration, and then forgets them. The core
// thus never calls upward by name. A hook already registered is not added
// twice; false when the table (16 hooks) is full or the hook is nil.
using tStopHook = void (*)();
bool qlm_base_add_stop_hook(tStopHook hook);
