// Starting a file through the shell, as a double-click would.
#ifndef LUMISAFE_DECODE_SHELL_H
#define LUMISAFE_DECODE_SHELL_H

// Starts file through the shell with the current directory as its working
// directory, and without expanding %VARIABLES% in the file or parameters (a
// folder named like "50%TEMP%" must arrive as it is). The result is not
// reported: neither caller can do anything about a failure.
void StartWithShell(const char* file, const char* parameters);

#endif
