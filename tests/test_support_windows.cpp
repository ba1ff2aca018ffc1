// The test helpers that ask the system, on Windows: paths in UTF-8 turned
// to the wide API, child processes with their output sent to files.
#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

std::wstring wide(const std::string& s) {
    std::wstring w(s.size(), L'\0');
    w.resize(
        size_t(MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], int(w.size()))));
    return w;
}

namespace {

std::string narrow(const std::wstring& w) {
    std::string s(w.size() * 3, '\0');
    s.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], int(s.size()),
                                        nullptr, nullptr)));
    return s;
}

std::string temp_name(const char* stem) {
    wchar_t folder[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    static unsigned counter = 0;
    return narrow(std::wstring(folder, n)) + stem + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
}

void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName, child = path + L"\\" + name;
            if (name == L"." || name == L"..") continue;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

// An argument as CommandLineToArgvW reads it back.
std::wstring quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    return out.append(2 * slashes, L'\\') + L"\"";
}

HANDLE inheritable(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, 0, nullptr);
}

} // namespace

FILE* fopen_utf8(const std::string& path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

ScratchDir::ScratchDir() {
    const std::string name = temp_name("kelbo-test-");
    path = CreateDirectoryW(wide(name).c_str(), nullptr) ? name : std::string();
}

ScratchDir::~ScratchDir() {
    if (!path.empty()) remove_tree(wide(path));
}

bool file_exists(const std::string& path) {
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> folder_entries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((wide(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(narrow(name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void StdoutCapture::begin() {
    fflush(stdout);
    temp_path = temp_name("kelbo-stdout-");
    int fd = _wopen(wide(temp_path).c_str(), _O_CREAT | _O_RDWR | _O_BINARY, 0600);
    saved_fd = _dup(1);
    _dup2(fd, 1);
    _close(fd);
}

std::string StdoutCapture::end() {
    fflush(stdout);
    _dup2(saved_fd, 1);
    _close(saved_fd);
    saved_fd = -1;
    std::string out = read_text(temp_path);
    DeleteFileW(wide(temp_path).c_str());
    return out;
}

ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env) {
    ProcessResult result;
    const std::string out_name = temp_name("kelbo-out-"), err_name = temp_name("kelbo-err-");
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    start.hStdOutput = inheritable(out_name, GENERIC_WRITE, CREATE_ALWAYS);
    start.hStdError = inheritable(err_name, GENERIC_WRITE, CREATE_ALWAYS);
    std::wstring line;
    for (const std::string& a : argv) line += (line.empty() ? L"" : L" ") + quoted(wide(a));
    // The child takes this process's settings, changed for it alone.
    std::vector<std::pair<std::string, std::string>> before;
    for (const std::string& e : env) {
        const std::string name = e.substr(0, e.find('='));
        const char* was = getenv(name.c_str());
        before.emplace_back(name, was ? was : "");
        _putenv_s(name.c_str(),
                  e.find('=') == std::string::npos ? "" : e.c_str() + name.size() + 1);
    }
    PROCESS_INFORMATION child = {};
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                       &child)) {
        // A program still running after two minutes has hung.
        if (WaitForSingleObject(child.hProcess, 120000) != WAIT_OBJECT_0)
            TerminateProcess(child.hProcess, 255);
        DWORD status = 0;
        GetExitCodeProcess(child.hProcess, &status);
        result.status = int(status);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    for (const auto& setting : before) _putenv_s(setting.first.c_str(), setting.second.c_str());
    for (HANDLE h : {start.hStdInput, start.hStdOutput, start.hStdError}) CloseHandle(h);
    // Text mode there ends lines with CR LF; the lines are what count.
    for (auto* text : {&result.out, &result.err}) {
        *text = read_text(text == &result.out ? out_name : err_name);
        for (size_t at; (at = text->find("\r\n")) != std::string::npos;) text->erase(at, 1);
    }
    DeleteFileW(wide(out_name).c_str());
    DeleteFileW(wide(err_name).c_str());
    return result;
}
