// What the runner needs of the console beyond the platform layer: whether standard
// output is a terminal, its size, text that the terminal shows as meant (UTF-8, ANSI
// sequences), and a stop request from Ctrl-C or SIGTERM.
#pragma once

bool StdoutIsTerminal();

// Rows and columns of the terminal on standard output; when it does not tell, LINES and
// COLUMNS from the environment, else 24 x 80.
void TerminalSize(int *rows, int *columns);

// Lets the console show UTF-8 text and, when `ansi`, ANSI escape sequences.
void PrepareConsole(bool ansi);

// Called first in main, before any thread starts. On POSIX, the stop signals (Ctrl-C,
// SIGTERM, SIGHUP) are then taken by one thread of their own, so that none interrupts
// another thread in the middle of a call (under qemu-user, a join that a signal
// interrupts fails); until CatchStopSignals, they end the program as before.
void WatchStopSignals();
// From now on, Ctrl-C, SIGTERM and SIGHUP only set the stop request.
void CatchStopSignals();
bool StopRequested();
