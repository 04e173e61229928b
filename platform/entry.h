// How each edition is entered: the platform's own entry point turns the
// command line into narrow arguments and hands them to LoadfileMain, whose
// return value is the exit status.
//
// The tool handles narrow text in the system's ANSI code page. On POSIX
// systems the arguments are already bytes and pass through unchanged.
//
// On Windows a narrow main() would be given arguments that Windows converted
// from the wide command line with best-fit mapping: a character the code
// page lacks becomes a look-alike (U+FF0F FULLWIDTH SOLIDUS becomes '/') or
// '?'. The tool would then probe, install and print another path or another
// user than the one asked for. So entry-win32.cpp takes the wide arguments,
// split by the C runtime as it splits the narrow ones, and converts each to
// the ANSI code page with no best-fit mapping. An argument that converts
// exactly is passed on byte for byte as a narrow main() would have seen it.
// One that does not is never passed on altered:
//   - the file (argument 1) is passed as an empty path, which no open
//     accepts, so the run reports the file as not found;
//   - a later argument (the user) makes the command line one the tool does
//     not take: the run is given no arguments and prints its usage line.
#ifndef LOADFILE_PLATFORM_ENTRY_H_
#define LOADFILE_PLATFORM_ENTRY_H_

// One run of an edition, defined by each edition. |argv| holds |argc|
// narrow arguments, the program name first, and a null pointer after them.
int LoadfileMain(int argc, char** argv);

#endif  // LOADFILE_PLATFORM_ENTRY_H_
