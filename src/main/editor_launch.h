// Starts the editor. It is a program of its own, kelbo-editor, so that
// only the editor loads SDL and the sound, terminal and X libraries behind
// it; the batch route starts without them.
//
// Installed, the editor lives in the libexec folder beside the program's
// own (prefix/libexec/kelbo-tool/kelbo-editor); in the build tree it sits
// next to kelbo-tool.
#pragma once

// Replaces this process with the editor, given the same command line, so
// that its exit status and signals are the caller's to see. Returns only
// when the editor could not be started, after saying why.
void exec_editor(char** argv);
