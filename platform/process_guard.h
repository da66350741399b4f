// What the programs do about the PIN as a process: the request, PIN included, arrives in the
// command line, which other processes can read, and the PIN then lives in this process's memory,
// which a core file or a debugger could show.
#pragma once

namespace cardplatform {

// Keeps this process's memory from other processes of the same user: no core file is written
// and no debugger can attach. Called first thing, before the request is read. Linux: the
// process becomes non-dumpable, which also makes its /proc files belong to root, and its core
// file size limit becomes 0. Windows: does nothing; there the same user's processes are kept
// out only by the process's access rights, which the programs leave as the system sets them.
void keepMemoryPrivate();

// Overwrites a command-line argument in place, once the program holds its own copy: its bytes
// become NULs, so /proc/<pid>/cmdline (Linux) no longer shows them. On Windows the command
// line is also kept as one text (GetCommandLineA, and GetCommandLineW, the copy that other
// processes read); there everything after the program name is overwritten, since the argument's
// bounds in that text follow quoting rules that only the C runtime's parse knows. Null: only the
// system's copies are overwritten.
void eraseArgument(char* argument);

}  // namespace cardplatform
