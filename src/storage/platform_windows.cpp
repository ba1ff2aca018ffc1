// The platform seam on Windows: every name opened by its full path under
// its folder's final path, the rename over a file through ReplaceFileW,
// and a lock on one byte far past any content, so that it keeps out other
// savers but never a reader.
#include "platform.h"

#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <cerrno>
#include <cstdlib>

namespace {

// The byte the lock covers: far past the end of any file.
constexpr DWORD LOCK_HIGH = 0x7FFFFFFF, LOCK_LOW = 0xFFFFFFFE;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handle_of(const Fd& fd) { return reinterpret_cast<HANDLE>(fd.value); }

std::wstring wide(const std::string& s) {
    std::wstring w(s.size(), L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], int(w.size()));
    w.resize(size_t(n > 0 ? n : 0));
    return w;
}

std::string narrow(const wchar_t* w, size_t length) {
    std::string s(length * 3, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, w, int(length), &s[0], int(s.size()), nullptr, nullptr);
    s.resize(size_t(n > 0 ? n : 0));
    return s;
}

int errno_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_SHARING_VIOLATION: return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_LOCK_VIOLATION: return EWOULDBLOCK;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION: return EOPNOTSUPP;
    default: return EIO;
    }
}

int last_error() { return errno_of(GetLastError()); }
int result(BOOL ok) { return ok ? 0 : last_error(); }

// The final path of an open file or folder, in the \\?\ form that takes
// any length.
std::wstring final_path(const Fd& fd) {
    std::wstring path(512, L'\0');
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(handle_of(fd), &path[0], DWORD(path.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return L"";
        if (n < path.size()) return path.substr(0, n);
        path.resize(n + 1);
    }
}

std::wstring under(const Fd* folder, const std::string& name) {
    if (!folder) return wide(name);
    const std::wstring path = final_path(*folder);
    return name == "." ? path : path + L"\\" + wide(name);
}

bool is_folder(const Fd& fd) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle_of(fd), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

int open_wide(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags, Fd& out) {
    HANDLE h = CreateFileW(path.c_str(), access, SHARE_ALL, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    Fd opened(reinterpret_cast<intptr_t>(h));
    // A read-only file is written by no one, whoever runs the program.
    BY_HANDLE_FILE_INFORMATION info;
    if ((access & GENERIC_WRITE) && GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return EACCES;
    out = std::move(opened);
    return 0;
}

int lock(const Fd& fd, bool take) {
    OVERLAPPED at = {};
    at.Offset = LOCK_LOW;
    at.OffsetHigh = LOCK_HIGH;
    if (!take) return result(UnlockFileEx(handle_of(fd), 0, 1, 0, &at));
    return result(LockFileEx(handle_of(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                             1, 0, &at));
}

} // namespace

const char OS_SEPARATORS[] = "/\\";
const char OS_LINE_END[] = "\r\n";

size_t os_root_length(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':' && (path[2] == '/' || path[2] == '\\')) return 3;
    if (path.size() >= 2 && (path[0] == '/' || path[0] == '\\') && path[0] == path[1]) {
        // \\server\share\ as one root
        size_t server = path.find_first_of("/\\", 2);
        size_t share = server == std::string::npos ? server : path.find_first_of("/\\", server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    return 0;
}

void Fd::reset() {
    if (value >= 0) CloseHandle(handle_of(*this)); // closing also releases the lock
    value = -1;
}

int os_open(const Fd* folder, const std::string& name, OpenHow how, Fd& out) {
    const std::wstring path = under(folder, name);
    const DWORD any = FILE_FLAG_BACKUP_SEMANTICS; // folders too
    switch (how) {
    case OPEN_NAME: return open_wide(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, any, out);
    case OPEN_FOLDER: return open_wide(path, GENERIC_READ, OPEN_EXISTING, any, out);
    case OPEN_READ:
    case OPEN_READ_PATH: return open_wide(path, GENERIC_READ, OPEN_EXISTING, 0, out);
    case OPEN_WRITE: return open_wide(path, GENERIC_WRITE, OPEN_EXISTING, 0, out);
    case OPEN_READ_WRITE:
        return open_wide(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0, out);
    case OPEN_NEW: return open_wide(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, 0, out);
    case OPEN_UNNAMED: break;
    }
    return EOPNOTSUPP; // no file without a name here
}

bool os_path_only(const Fd&) { return false; }

int os_stat(const Fd& fd, FileInfo& out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle_of(fd), &info)) return last_error();
    const bool folder = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    out.kind = folder ? KIND_FOLDER : KIND_REGULAR;
    // The owner may write what is not read-only; no one else counts here.
    out.mode = folder ? 0755 : (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    out.owner = out.group = 0;
    out.device = info.dwVolumeSerialNumber;
    out.inode = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    out.size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    out.links = info.nNumberOfLinks;
    // 100 ns steps since 1601.
    const uint64_t t =
        uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
    out.modified_s = int64_t(t / 10000000) - 11644473600LL;
    out.modified_ns = int64_t(t % 10000000) * 100;
    return 0;
}

int os_stat_at(const Fd& folder, const std::string& name, FileInfo& out) {
    Fd fd;
    int error = os_open(&folder, name, OPEN_NAME, fd);
    return error ? error : os_stat(fd, out);
}

int os_read_link(const Fd&, std::string&) { return ENOSYS; } // links are followed here

int os_list(const Fd& folder, std::vector<std::string>& names) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((final_path(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return last_error();
    names.clear();
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(narrow(name.data(), name.size()));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return 0;
}

int os_read(const Fd& fd, uint8_t* data, size_t length, size_t& got) {
    size_t done = 0;
    while (done < length) {
        DWORD n = 0;
        DWORD want = DWORD(length - done < (1u << 30) ? length - done : (1u << 30));
        if (!ReadFile(handle_of(fd), data + done, want, &n, nullptr)) return last_error();
        if (n == 0) break;
        done += n;
    }
    got = done;
    return 0;
}

int os_rewind(const Fd& fd) {
    LARGE_INTEGER zero = {};
    return result(SetFilePointerEx(handle_of(fd), zero, nullptr, FILE_BEGIN));
}

int os_write_pieces(const Fd& fd, const FilePiece* pieces, size_t count) {
    if (int error = os_rewind(fd)) return error;
    for (size_t i = 0; i < count; ++i) {
        for (size_t done = 0; done < pieces[i].length;) {
            DWORD n = 0;
            DWORD want =
                DWORD(pieces[i].length - done < (1u << 30) ? pieces[i].length - done : (1u << 30));
            if (!WriteFile(handle_of(fd), pieces[i].data + done, want, &n, nullptr))
                return last_error();
            if (n == 0) return EIO;
            done += n;
        }
    }
    return 0;
}

int os_truncate(const Fd& fd, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(size);
    if (!SetFilePointerEx(handle_of(fd), at, nullptr, FILE_BEGIN)) return last_error();
    return result(SetEndOfFile(handle_of(fd)));
}

// A closing console ends the process from another thread; the editor's own
// handler keeps its work, and a save's copy covers the rest.
void os_hold_endings(EndingsHeld&) {}
void os_release_endings(const EndingsHeld&) {}

int os_flush(const Fd& fd) {
    if (is_folder(fd)) return 0; // a folder's names are flushed with its files
    return result(FlushFileBuffers(handle_of(fd)));
}

int os_reserve(const Fd&, uint64_t) { return 0; }
bool os_over_size_limit(uint64_t) { return false; }

// Windows replaces only a closed file, so both are closed first, and the
// file that then bears the name `to` is opened again and locked.
int os_rename_over(const Fd& folder, const std::string& from, Fd& from_fd, const std::string& to,
                   Fd& to_fd) {
    const std::wstring source = under(&folder, from), target = under(&folder, to);
    const bool replace = to_fd.valid();
    from_fd.reset();
    to_fd.reset();
    const BOOL done = replace ? ReplaceFileW(target.c_str(), source.c_str(), nullptr,
                                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                              : MoveFileExW(source.c_str(), target.c_str(),
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    // ReplaceFileW fails without a reason on a read-only file.
    const int error = done ? 0 : GetLastError() ? last_error() : EACCES;
    Fd& now = done ? from_fd : to_fd;
    if ((done || replace) &&
        open_wide(target, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0, now) == 0)
        lock(now, true);
    return error;
}

int os_link(const Fd& folder, const std::string& from, const std::string& to) {
    return result(
        CreateHardLinkW(under(&folder, to).c_str(), under(&folder, from).c_str(), nullptr));
}

int os_link_unnamed(const Fd&, const Fd&, const std::string&) { return EOPNOTSUPP; }

int os_unlink(const Fd& folder, const std::string& name) {
    return result(DeleteFileW(under(&folder, name).c_str()));
}

int os_make_folder(const Fd* folder, const std::string& name, uint32_t) {
    return result(CreateDirectoryW(under(folder, name).c_str(), nullptr));
}

// The attributes and the access list: what ReplaceFileW would carry over,
// given to the new file before it takes the name.
int os_copy_identity(const Fd& from, const std::string&, const Fd& to) {
    FILE_BASIC_INFO basic;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (!GetFileInformationByHandleEx(handle_of(from), FileBasicInfo, &basic, sizeof basic))
        return last_error();
    DWORD error = GetSecurityInfo(handle_of(from), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor);
    if (error == ERROR_SUCCESS && dacl)
        error = SetSecurityInfo(handle_of(to), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, dacl, nullptr);
    LocalFree(descriptor);
    if (error != ERROR_SUCCESS && error != ERROR_NOT_SUPPORTED) return errno_of(error);
    FILE_BASIC_INFO attributes = {};
    attributes.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    return result(
        SetFileInformationByHandle(handle_of(to), FileBasicInfo, &attributes, sizeof attributes));
}

int os_set_mode(const Fd& fd, uint32_t mode) {
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle_of(fd), FileBasicInfo, &basic, sizeof basic))
        return last_error();
    FILE_BASIC_INFO attributes = {};
    attributes.FileAttributes = (mode & 0200) ? basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY
                                              : basic.FileAttributes | FILE_ATTRIBUTE_READONLY;
    if (attributes.FileAttributes == 0) attributes.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return result(
        SetFileInformationByHandle(handle_of(fd), FileBasicInfo, &attributes, sizeof attributes));
}

uint32_t os_new_file_mode() { return 0666; }
uint32_t os_user() { return 0; }

std::string os_state_folder() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    return local && *local ? narrow(local, wcslen(local)) : "";
}

int os_try_lock(const Fd& fd) { return lock(fd, true); }

void os_unlock(const Fd& fd) {
    if (fd.valid()) lock(fd, false);
}

long os_lock_holder(const Fd&) { return 0; }
void os_sleep_ms(long ms) { Sleep(DWORD(ms)); }

bool os_random(uint8_t* bytes, size_t count) {
    return BCryptGenRandom(nullptr, bytes, ULONG(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

int os_stat_path(const std::string& path, FileInfo& out) {
    Fd fd;
    int error = os_open(nullptr, path, OPEN_NAME, fd);
    return error ? error : os_stat(fd, out);
}

int os_folder_path(const Fd& folder, std::string& out) {
    std::wstring path = final_path(folder);
    if (path.empty()) return last_error();
    if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
    out = narrow(path.data(), path.size());
    return 0;
}

int os_real_path(const std::string& path, std::string& out) {
    Fd fd;
    int error = os_open(nullptr, path, OPEN_NAME, fd);
    return error ? error : os_folder_path(fd, out);
}

int os_own_program(std::string& path) {
    std::wstring own(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, &own[0], DWORD(own.size()));
    if (n == 0) return last_error();
    path = narrow(own.data(), n);
    return 0;
}

int os_exec(const std::string&, char**) { return ENOSYS; } // the editor runs in-process here
