#pragma once

// Ctrl-C and termination: temporary outputs are removed before the process ends, so an interrupted
// run leaves no partial file behind. On POSIX the signal handler removes the registered files and lets
// the signal end the process; on Windows, where an open file cannot be removed, the console handler
// raises a flag that the writers check, and the program cleans up and ends with kExitInterrupted.
// SIGXFSZ is ignored: a write past the file size limit fails and is handled as a failed write.

constexpr int kExitInterrupted = 130;

void install_interrupt_handlers();
bool interrupted();

// Registers a temporary file; the slot to unregister it with, or -1 when every slot is taken (the file
// is then removed only by the program's own cleanup).
int register_temp_file(const char* path);
void unregister_temp_file(int slot);
// Removes every registered temporary file: the program's last resort before it ends on an error that
// no job caught.
void remove_temp_files();
