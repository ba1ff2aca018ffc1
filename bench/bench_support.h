// Shared fixtures of the benchmarks: one temp folder holding the large
// sample and a 4096-entry swap list, made once per process and removed at
// exit, plus small file helpers the floors use too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BenchFiles {
    std::string dir;
    std::vector<uint8_t> large; // the large sample's bytes
    std::string large_path;     // never written by a benchmark: they copy it
    std::string list_path;      // every position 0..4095 receives another tile
    std::string file(const std::string& name) const { return dir + "/" + name; }
};

const BenchFiles& bench_files();

std::vector<uint8_t> read_file(const std::string& path);
bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Fixed offsets of the header fields a floor needs.
uint16_t header_version(const uint8_t* file);
uint32_t stream_packed_size(const uint8_t* file, int index);
uint32_t stream_unpacked_size(const uint8_t* file, int index);
