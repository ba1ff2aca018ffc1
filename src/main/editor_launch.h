// Starts the editor for `kelbo-tool TILESET`.
//
// On POSIX systems it is a program of its own, kelbo-editor, so that only
// the editor loads SDL and the sound, terminal and X libraries behind it;
// the batch route starts without them. Installed, it lives in the libexec
// folder beside the program's own (prefix/libexec/kelbo-tool/kelbo-editor);
// in the build tree it sits next to kelbo-tool. On Windows it runs in this
// process.
#pragma once

// Runs the editor with the same command line, so that its exit status and
// signals are the caller's to see: on POSIX systems this process becomes
// the editor, and returns only when it could not be started, after saying
// why (EXIT_FAILED). Otherwise the editor's exit status.
int start_editor(int argc, char** argv);
