// Stopping a batch cleanly on SIGINT or SIGTERM (Ctrl-C or Ctrl-Break in a
// Windows console): the first asks the workers to stop, a second exits.
#ifndef IMGTEXT_TOOL_INTERRUPT_H
#define IMGTEXT_TOOL_INTERRUPT_H

// Installs the handlers. The first signal only sets a flag the workers read
// between files and before each save; a second one exits at once with
// 128 + its number, as a shell reports a process the signal killed.
void catch_stop_signals();

// 0 until a signal asks the run to stop, then its number (SIGINT for
// Ctrl-C and Ctrl-Break).
int stop_signal();

#endif
