// How each edition is entered: the platform's entry hands the narrow
// arguments, in the ANSI code page, to LoadfileMain, whose result is the
// exit status. On Windows the entry takes the wide arguments and converts
// them exactly (text-win32.h), never to a look-alike: a file that does not
// convert becomes an empty path (not found), a user that does not, a
// command line the tool does not take (its usage line).
#ifndef LOADFILE_PLATFORM_ENTRY_H_
#define LOADFILE_PLATFORM_ENTRY_H_

// One run of an edition, defined by each edition. |argv| holds |argc|
// narrow arguments, the program name first, and a null pointer after them.
int LoadfileMain(int argc, char** argv);

#endif  // LOADFILE_PLATFORM_ENTRY_H_
