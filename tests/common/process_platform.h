#pragma once

// What the platform parts of the process runner share.

#include "process_runner.h"

#include <initializer_list>
#include <thread>

// Once the child has ended: waits for the threads that fed and read its pipes, and turns captured
// output into console text when it was asked for (once).
void join_child_output(std::initializer_list<std::thread*> threads, ProcessRun& run, bool& as_console_text);
