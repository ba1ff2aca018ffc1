// The platform seam on Windows: names opened under their folder's final
// path, ReplaceFileW, and a lock that keeps out savers but no reader.
#include "platform.h"

#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handle_of(const Fd& fd) { return reinterpret_cast<HANDLE>(fd.value); }

std::wstring wide(const std::string& s) {
    std::wstring w(s.size(), L'\0');
    w.resize(
        size_t(MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], int(w.size()))));
    return w;
}

std::string narrow(const wchar_t* w, size_t length) {
    std::string s(length * 3, '\0');
    s.resize(size_t(
        WideCharToMultiByte(CP_UTF8, 0, w, int(length), &s[0], int(s.size()), nullptr, nullptr)));
    return s;
}

// Windows' errors as the C library's, whose texts the messages show.
int errno_of(DWORD error) {
    static const DWORD ERRORS[][2] = {
        {ERROR_FILE_NOT_FOUND, ENOENT},    {ERROR_PATH_NOT_FOUND, ENOENT},
        {ERROR_INVALID_NAME, ENOENT},      {ERROR_ACCESS_DENIED, EACCES},
        {ERROR_SHARING_VIOLATION, EBUSY},  {ERROR_FILE_EXISTS, EEXIST},
        {ERROR_ALREADY_EXISTS, EEXIST},    {ERROR_LOCK_VIOLATION, EWOULDBLOCK},
        {ERROR_DISK_FULL, ENOSPC},         {ERROR_HANDLE_DISK_FULL, ENOSPC},
        {ERROR_WRITE_PROTECT, EROFS},      {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
        {ERROR_DIRECTORY, ENOTDIR},        {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
        {ERROR_NOT_SUPPORTED, EOPNOTSUPP}, {ERROR_INVALID_FUNCTION, EOPNOTSUPP}};
    for (const DWORD* pair : ERRORS)
        if (pair[0] == error) return int(pair[1]);
    return EIO;
}

int last_error() { return errno_of(GetLastError()); }
int result(BOOL ok) { return ok ? 0 : last_error(); }

// The final path of an open file or folder, in the \\?\ form that takes
// any length.
std::wstring final_path(const Fd& fd) {
    std::wstring path(32768, L'\0'); // the longest there is
    DWORD n = GetFinalPathNameByHandleW(handle_of(fd), &path[0], DWORD(path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return path.substr(0, n < path.size() ? n : 0);
}

std::wstring under(const Fd* folder, const std::string& name) {
    if (!folder) return wide(name);
    const std::wstring path = final_path(*folder);
    return name == "." ? path : path + L"\\" + wide(name);
}

// The file's attributes, 0 when they cannot be had.
DWORD attributes_of(const Fd& fd) {
    FILE_BASIC_INFO basic;
    return GetFileInformationByHandleEx(handle_of(fd), FileBasicInfo, &basic, sizeof basic)
               ? basic.FileAttributes
               : 0;
}

int set_attributes(const Fd& fd, DWORD attributes) {
    FILE_BASIC_INFO basic = {}; // times of 0 are left as they are
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return result(SetFileInformationByHandle(handle_of(fd), FileBasicInfo, &basic, sizeof basic));
}

// A call takes at most a DWORD's worth of bytes.
DWORD step(size_t left) { return DWORD(left < (1u << 30) ? left : (1u << 30)); }

int open_wide(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags, Fd& out) {
    HANDLE h = CreateFileW(path.c_str(), access, SHARE_ALL, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    Fd opened(reinterpret_cast<intptr_t>(h));
    // A read-only file is written by no one, whoever runs the program.
    if ((access & GENERIC_WRITE) && (attributes_of(opened) & FILE_ATTRIBUTE_READONLY))
        return EACCES;
    out = std::move(opened);
    return 0;
}

// The byte the lock covers lies far past the end of any file.
int lock(const Fd& fd, bool take) {
    OVERLAPPED at = {0, 0, {{0xFFFFFFFE, 0x7FFFFFFF}}, nullptr};
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
        size_t server = path.find_first_of("/\\", 2); // \\server\share\ is one root
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

int os_stat(const Fd& fd, FileInfo& out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle_of(fd), &info)) return last_error();
    const bool folder = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    out.kind = folder ? KIND_FOLDER : KIND_REGULAR; // links are followed
    out.mode = folder ? 0755 : (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
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
    DWORD n = 1;
    for (got = 0; got < length && n > 0; got += n)
        if (!ReadFile(handle_of(fd), data + got, step(length - got), &n, nullptr))
            return last_error();
    return 0;
}

int os_rewind(const Fd& fd) {
    LARGE_INTEGER zero = {};
    return result(SetFilePointerEx(handle_of(fd), zero, nullptr, FILE_BEGIN));
}

int os_write_pieces(const Fd& fd, const FilePiece* pieces, size_t count) {
    if (int error = os_rewind(fd)) return error;
    DWORD n = 1;
    for (size_t i = 0; i < count; ++i)
        for (size_t done = 0; done < pieces[i].length && n > 0; done += n)
            if (!WriteFile(handle_of(fd), pieces[i].data + done, step(pieces[i].length - done), &n,
                           nullptr))
                return last_error();
    return n > 0 ? 0 : EIO;
}

int os_truncate(const Fd& fd, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(size);
    if (!SetFilePointerEx(handle_of(fd), at, nullptr, FILE_BEGIN)) return last_error();
    return result(SetEndOfFile(handle_of(fd)));
}

int os_flush(const Fd& fd) {
    // A folder's names are flushed with its files.
    if (attributes_of(fd) & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return result(FlushFileBuffers(handle_of(fd)));
}

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

int os_unlink(const Fd& folder, const std::string& name) {
    return result(DeleteFileW(under(&folder, name).c_str()));
}

int os_make_folder(const Fd* folder, const std::string& name, uint32_t) {
    return result(CreateDirectoryW(under(folder, name).c_str(), nullptr));
}

// The attributes and the access list: what ReplaceFileW would carry over,
// given to the new file before it takes the name.
int os_copy_identity(const Fd& from, const std::string&, const Fd& to) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    DWORD error = GetSecurityInfo(handle_of(from), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor);
    if (error == ERROR_SUCCESS && dacl)
        error = SetSecurityInfo(handle_of(to), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, dacl, nullptr);
    LocalFree(descriptor);
    if (error != ERROR_SUCCESS && error != ERROR_NOT_SUPPORTED) return errno_of(error);
    return set_attributes(to, attributes_of(from) & ~FILE_ATTRIBUTE_READONLY);
}

int os_set_mode(const Fd& fd, uint32_t mode) {
    const DWORD attributes = attributes_of(fd) & ~FILE_ATTRIBUTE_READONLY;
    return set_attributes(fd, mode & 0200 ? attributes : attributes | FILE_ATTRIBUTE_READONLY);
}

std::string os_state_folder() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    return local && *local ? narrow(local, wcslen(local)) : "";
}

void os_unlock(const Fd& fd) { fd.valid() && lock(fd, false); }

bool os_random(uint8_t* bytes, size_t count) {
    return BCryptGenRandom(nullptr, bytes, ULONG(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

int os_folder_path(const Fd& folder, std::string& out) {
    std::wstring path = final_path(folder);
    if (path.empty()) return last_error();
    if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
    out = narrow(path.data(), path.size());
    return 0;
}

// What Windows has no need of, or no way to tell: links are followed, no
// file is unnamed, no one else owns what is the user's, no limit is set on
// a file's size, and a closing console ends the process from another
// thread, where the editor's own handler keeps its work.
bool os_path_only(const Fd&) { return false; }
int os_read_link(const Fd&, std::string&) { return ENOSYS; } // links are followed here
int os_link_unnamed(const Fd&, const Fd&, const std::string&) { return EOPNOTSUPP; }
long os_lock_holder(const Fd&) { return 0; }
uint32_t os_new_file_mode() { return 0666; }
uint32_t os_user() { return 0; }
int os_reserve(const Fd&, uint64_t) { return 0; }
bool os_over_size_limit(uint64_t) { return false; }
void os_hold_endings(EndingsHeld&) {}
void os_release_endings(const EndingsHeld&) {}
void os_sleep_ms(long ms) { Sleep(DWORD(ms)); }
int os_try_lock(const Fd& fd) { return lock(fd, true); }
