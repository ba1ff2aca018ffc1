// Small helpers shared by the test programs: scratch folders, whole-file
// reads and writes, standard-output capture and running the built tools.
#pragma once

#include <cstdint>
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

std::vector<uint8_t> read_bytes(const std::string& path);
bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool file_exists(const std::string& path);

// Collects everything written to standard output (fd 1) between begin and
// end.
struct StdoutCapture {
    int saved_fd = -1;
    std::string temp_path;
    void begin();
    std::string end();
};

struct ProcessResult {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with arguments (no shell), capturing both output streams.
ProcessResult run_process(const std::vector<std::string>& argv);

uint32_t read_u32_le(const std::vector<uint8_t>& bytes, size_t offset);
