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

// Keeps the libraries this process loads from now on to folders an ordinary user cannot write to
// once the programs are installed. Windows: a DLL named without a folder is then looked for only
// in the program's own folder and the system folder, no longer in the working folder or on PATH
// (the whole process, system DLLs' own loads included). The DLLs in the program's import table
// are found before main runs, by the system's full search: the program's folder comes first, and
// the working folder is reached only for a DLL missing there. Linux: does nothing; the dynamic
// linker never looks in the working folder unless told to. Called first thing.
void keepLibrarySearchToInstalledFolders();

// Overwrites a command-line argument in place, once the program holds its own copy: its bytes
// become NULs, so /proc/<pid>/cmdline (Linux) no longer shows them. On Windows the command
// line is also kept as one text (GetCommandLineA, and GetCommandLineW, the copy that other
// processes read), and the C runtime keeps its own copies (_acmdln, _wcmdln, and __argv and
// __wargv, its parses into arguments); in the texts everything after the program name is
// overwritten, since the argument's bounds there follow quoting rules that only the C runtime's
// parse knows, and in the parses every argument after the program name. Null: only the system's
// and the runtime's copies are overwritten.
void eraseArgument(char* argument);

}  // namespace cardplatform
