// Shared set-up for the container tests, reading and writing alike.
#pragma once

#include "file_lock.h"
#include "sample_tileset.h"
#include "test_support.h"
#include "tileset.h"

#include <gtest/gtest.h>

// The container read and written through a handle, as the program opens one.
inline StorageStatus read_at(const std::string& path, TilesetFile& t) {
    FileHandle file;
    open_file(path.c_str(), file);
    return read_container(file, t);
}

inline StorageStatus write_at(const std::string& path, const TilesetFile& t) {
    FileHandle file;
    if (lock_file(path.c_str(), file, LOCK_WAIT_MS) == 0) return write_container(file, t);
    return failed(LOCKED, path);
}

class ContainerTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::vector<uint8_t> sample = make_sample_tileset(false);
    std::string path = dir.file("tiles.dat");
    void SetUp() override { ASSERT_TRUE(write_bytes(path, sample)); }
};
