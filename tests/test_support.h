// Small helpers shared by the test programs: scratch folders, whole-file
// reads and writes, standard-output capture, running the built tools and
// reading a tileset file's bytes directly.
#pragma once

#ifdef _WIN32 // the C library there has neither
#include <cstdlib>
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#include <string>
// A UTF-8 path for the wide API.
std::wstring wide(const std::string& s);
#endif

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A fresh folder under the system temp dir, removed with its contents when
// the object goes away.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// fopen for a path in UTF-8, whatever the system's own code page.
FILE* fopen_utf8(const std::string& path, const char* mode);
std::vector<uint8_t> read_bytes(const std::string& path);
bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool file_exists(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> folder_entries(const std::string& folder);
// Text may be empty or hold NUL bytes.
bool write_text(const std::string& path, const std::string& text);
std::string read_text(const std::string& path);

// Collects everything written to standard output (fd 1) between begin and
// end.
struct StdoutCapture {
    int saved_fd = -1;
    std::string temp_path;
    void begin();
    std::string end();
};

// Runs `body` with standard output captured and returns what it printed.
template <typename F> std::string printed_by(F body) {
    StdoutCapture capture;
    capture.begin();
    body();
    return capture.end();
}

struct ProcessResult {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with arguments (no shell), capturing both output streams.
// `env` entries "NAME=VALUE" set and "NAME" unsets a variable for it alone.
// A program still running after two minutes is killed, so a hang fails.
ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env = {});

uint32_t read_u32_le(const std::vector<uint8_t>& bytes, size_t offset);
void put_u32_le(std::vector<uint8_t>& bytes, size_t offset, uint32_t v);

// A tileset file read straight from its bytes, so that a check does not
// trust the storage code it is checking.
constexpr size_t STREAM_TABLE = 230; // packed, unpacked size per stream

uint32_t packed_size(const std::vector<uint8_t>& file, int index);
uint32_t unpacked_size(const std::vector<uint8_t>& file, int index);
size_t stream_offset(const std::vector<uint8_t>& file, int index);
// Empty when the file is too short to hold the stream.
std::vector<uint8_t> packed_stream(const std::vector<uint8_t>& file, int index);
// Inflated without trusting the table's unpacked size; empty on any error.
std::vector<uint8_t> unpacked_stream(const std::vector<uint8_t>& file, int index);
uint32_t crc_of_streams(const std::vector<uint8_t>& file);
// Sets the header's checksum to the CRC-32 of the streams the table names
// (as far as the file holds them), so that a bent file differs only where
// a test bent it.
void fix_checksum(std::vector<uint8_t>& file);

// An info stream of capacity n with every table entry of positions p and q
// exchanged.
std::vector<uint8_t> with_tiles_exchanged(std::vector<uint8_t> info, uint32_t n, uint32_t p,
                                          uint32_t q);
