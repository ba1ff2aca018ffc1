// Load, save and batch replay of the large sample, each beside its floor:
// the file reads, zlib calls and file writes that any implementation of the
// same operation has to make.
#include "bench_support.h"

#include "arrangement.h"
#include "batch.h"
#include "swap_list.h"
#include "sample_tileset.h"
#include "tileset.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// A whole file in one malloc'd buffer, as a loader would hold it (no
// zero-filling first, unlike a resized vector).
struct RawFile {
    uint8_t* data = nullptr;
    size_t size = 0;
    explicit RawFile(const std::string& path) {
        int fd = open(path.c_str(), O_RDONLY);
        struct stat st;
        if (fd < 0) return;
        if (fstat(fd, &st) == 0) {
            data = static_cast<uint8_t*>(malloc(size_t(st.st_size)));
            while (data && size < size_t(st.st_size)) {
                ssize_t n = read(fd, data + size, size_t(st.st_size) - size);
                if (n <= 0) break;
                size += size_t(n);
            }
        }
        close(fd);
    }
    ~RawFile() { free(data); }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
};

// Unpacks stream `index` of a file held in memory into a new buffer.
uint8_t* unpack_stream(const RawFile& file, int index) {
    size_t at = HEADER_SIZE;
    for (int i = 0; i < index; ++i) at += stream_packed_size(file.data, i);
    uLongf length = stream_unpacked_size(file.data, index);
    uint8_t* out = static_cast<uint8_t*>(malloc(length));
    if (!out ||
        uncompress(out, &length, file.data + at, stream_packed_size(file.data, index)) != Z_OK) {
        free(out);
        return nullptr;
    }
    return out;
}

// compress2 level 9 of the info tables, the CRC of the four packed streams
// and one write of header and streams to `path`: the least a save does.
// `file` supplies the header and the packed streams 1 to 3.
// With `durable`, it does what a save that survives a crash must: the bytes
// go to a new file in the same folder, which is flushed and renamed over
// `path`, and then the folder is flushed.
bool save_floor(const uint8_t* info, uint32_t info_size, const RawFile& file,
                const std::string& path, bool durable = false) {
    uLongf packed_size = compressBound(info_size);
    uint8_t* packed = static_cast<uint8_t*>(malloc(packed_size));
    if (!packed || compress2(packed, &packed_size, info, info_size, 9) != Z_OK) {
        free(packed);
        return false;
    }
    const uint8_t* rest = file.data + HEADER_SIZE + stream_packed_size(file.data, 0);
    size_t rest_size = file.size - HEADER_SIZE - stream_packed_size(file.data, 0);
    uLong crc = crc32(crc32(0, Z_NULL, 0), packed, uInt(packed_size));
    crc = crc32(crc, rest, uInt(rest_size));
    benchmark::DoNotOptimize(crc);

    iovec parts[3] = {
        {file.data, HEADER_SIZE}, {packed, packed_size}, {const_cast<uint8_t*>(rest), rest_size}};
    const std::string temp = durable ? path + ".new" : path;
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0 && writev(fd, parts, 3) == ssize_t(HEADER_SIZE + packed_size + rest_size);
    if (ok && durable) ok = fsync(fd) == 0;
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (ok && durable) {
        ok = rename(temp.c_str(), path.c_str()) == 0;
        int dir = open(path.substr(0, path.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY);
        ok = ok && dir >= 0 && fsync(dir) == 0;
        if (dir >= 0) close(dir);
    }
    free(packed);
    return ok;
}

void load_for_editor(benchmark::State& state) {
    const std::string& path = bench_files().large_path;
    for (auto _ : state) {
        TilesetFile tileset = {};
        if (!tileset_load(tileset, path.c_str(), STREAM_MASK_INFO | STREAM_MASK_IMAGE))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(tileset.images);
        tileset_release(tileset);
    }
}

void load_floor(benchmark::State& state) {
    const std::string& path = bench_files().large_path;
    for (auto _ : state) {
        RawFile file(path);
        uint8_t* info = file.data ? unpack_stream(file, STREAM_INFO) : nullptr;
        uint8_t* images = file.data ? unpack_stream(file, STREAM_IMAGE) : nullptr;
        if (!info || !images) state.SkipWithError("floor load failed");
        benchmark::DoNotOptimize(images);
        free(info);
        free(images);
    }
}

void save(benchmark::State& state) {
    const BenchFiles& files = bench_files();
    std::string path = files.file("save.tileset");
    write_file_bytes(path, files.large);
    TilesetFile tileset = {};
    if (!tileset_load(tileset, path.c_str(), STREAM_MASK_INFO)) {
        state.SkipWithError("load failed");
        return;
    }
    for (auto _ : state)
        if (!tileset_save(tileset, path.c_str())) state.SkipWithError("save failed");
    tileset_release(tileset);
}

void save_floor(benchmark::State& state, bool durable) {
    const BenchFiles& files = bench_files();
    std::string path = files.file("save-floor.tileset");
    RawFile file(files.large_path);
    uint8_t* info = unpack_stream(file, STREAM_INFO);
    const uint32_t info_size = fixed_info_size(header_version(file.data));
    if (!info || stream_unpacked_size(file.data, STREAM_INFO) != info_size) {
        state.SkipWithError("sample unreadable");
        free(info);
        return;
    }
    for (auto _ : state)
        if (!save_floor(info, info_size, file, path, durable))
            state.SkipWithError("floor save failed");
    free(info);
}

void batch_replay(benchmark::State& state) {
    const BenchFiles& files = bench_files();
    std::string path = files.file("batch.tileset");
    for (auto _ : state) {
        // Each replay starts from the sample, not from the last result.
        state.PauseTiming();
        write_file_bytes(path, files.large);
        state.ResumeTiming();
        run_batch(path.c_str(), files.list_path.c_str());
    }
}

// Reads the list and the tileset, unpacks the info stream, then does the
// save floor on the tables the replay produces (prepared beforehand, so
// that both compress the same bytes).
void batch_floor(benchmark::State& state, bool durable) {
    const BenchFiles& files = bench_files();
    std::string path = files.file("batch-floor.tileset");
    std::string reference = files.file("batch-reference.tileset");
    write_file_bytes(reference, files.large);
    run_batch(reference.c_str(), files.list_path.c_str());
    TilesetFile replayed = {};
    if (!tileset_load(replayed, reference.c_str(), STREAM_MASK_INFO)) {
        state.SkipWithError("replay failed");
        return;
    }
    const uint8_t* result = replayed.streams[STREAM_INFO].unpacked;
    const uint32_t info_size = fixed_info_size(replayed.version);

    for (auto _ : state) {
        state.PauseTiming();
        write_file_bytes(path, files.large);
        state.ResumeTiming();
        RawFile list(files.list_path);
        RawFile file(path);
        uint8_t* info = file.data ? unpack_stream(file, STREAM_INFO) : nullptr;
        benchmark::DoNotOptimize(list.data);
        if (!info || !save_floor(result, info_size, file, path, durable))
            state.SkipWithError("floor failed");
        free(info);
    }
    tileset_release(replayed);
}

} // namespace

// Real time sets the iteration counts: a save waits for the disk.
BENCHMARK(load_for_editor)
    ->Name("load/tileset_load_mask3")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(load_floor)->Name("load/floor")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(save)->Name("save/tileset_save")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(save_floor, plain, false)
    ->Name("save/floor")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(save_floor, durable, true)
    ->Name("save/floor_with_fsync")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(batch_replay)->Name("batch/run_batch_4096")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(batch_floor, plain, false)
    ->Name("batch/floor")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(batch_floor, durable, true)
    ->Name("batch/floor_with_fsync")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
