// kelbo-tool's main on Windows, which SDL's wrapper calls: the command line
// is taken again in full Unicode, as UTF-8, and the console told to show
// UTF-8, so that any file name works.
#include "entry.h"

#include <SDL.h>
#include <string>
#include <vector>
#include <windows.h>

int main(int, char**) {
    int argc = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; wide && i < argc; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size_t(n > 0 ? n : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], n, nullptr, nullptr);
        arg.resize(arg.size() - 1);
        args.push_back(arg);
    }
    LocalFree(wide);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    SetConsoleOutputCP(CP_UTF8);
    return tool_main(int(args.size()), argv.data());
}
