// Whole-process measurements: each run is a child started under the probe
// (probe/rss_probe.cpp), which reports its peak memory and times.
#include "process_bench.h"
#include "bench_support.h"

#include "batch.h"
#include "tileset.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <zlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Probed {
    long peak_kib = -1;   // the program's peak resident set
    long probe_kib = -1;  // the probe's own size when it forked
    long elapsed_us = -1; // from before the fork to the end of the wait
    long cpu_us = -1;     // user and system
};

// Runs `argv` under the probe; false unless it exited 0.
bool probe_once(const std::vector<std::string>& argv, Probed& result) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char*> args = {const_cast<char*>(KELBO_RSS_PROBE_PATH)};
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    FILE* f = pid > 0 ? fdopen(out[0], "r") : nullptr;
    bool ok = f && fscanf(f, "%ld %ld %ld %ld", &result.peak_kib, &result.probe_kib,
                          &result.elapsed_us, &result.cpu_us) == 4;
    if (f)
        fclose(f);
    else
        close(out[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 && result.peak_kib >= 0;
}

long median_of(std::vector<long> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// The large sample with an info stream that claims 2^32 - 1 bytes and
// inflates to 1 GiB of zeros: only its fixed size may ever be held.
std::vector<uint8_t> info_bomb(const std::vector<uint8_t>& sample) {
    std::vector<uint8_t> packed(2 << 20);
    std::vector<uint8_t> zeros(1 << 20, 0);
    z_stream z = {};
    deflateInit(&z, 9);
    z.next_out = packed.data();
    z.avail_out = uInt(packed.size());
    for (int i = 0; i < 1024; ++i) {
        z.next_in = zeros.data();
        z.avail_in = uInt(zeros.size());
        deflate(&z, i == 1023 ? Z_FINISH : Z_NO_FLUSH);
    }
    packed.resize(z.total_out);
    deflateEnd(&z);

    const uint32_t old_packed = stream_packed_size(sample.data(), STREAM_INFO);
    const size_t rest = HEADER_SIZE + old_packed;
    std::vector<uint8_t> bomb(HEADER_SIZE + packed.size() + (sample.size() - rest));
    memcpy(bomb.data(), sample.data(), HEADER_SIZE);
    memcpy(bomb.data() + HEADER_SIZE, packed.data(), packed.size());
    memcpy(bomb.data() + HEADER_SIZE + packed.size(), sample.data() + rest, sample.size() - rest);
    const uint32_t table[2] = {uint32_t(packed.size()), UINT32_MAX};
    for (int i = 0; i < 8; ++i) bomb[230 + i] = uint8_t(table[i / 4] >> (8 * (i % 4)));
    return bomb;
}

// The batch route's own memory is its peak minus that of the same program
// started with --version (which maps the same libraries, prints one line
// and exits 0). Each is the median of five runs, the batch each time on a
// fresh copy of the input.
MemoryResult measure_batch_memory(const char* input, const std::vector<uint8_t>& bytes) {
    const BenchFiles& files = bench_files();
    const std::string tool = KELBO_TOOL_PATH;
    const std::string copy = files.file("memory.tileset");
    MemoryResult m;
    m.input = input;
    std::vector<long> baseline, batch;
    for (int i = 0; i < 5; ++i) {
        Probed run;
        if (probe_once({tool, "--version"}, run)) baseline.push_back(run.peak_kib);
        m.probe_kib = std::max(m.probe_kib, run.probe_kib);
        write_file_bytes(copy, bytes);
        run = Probed();
        if (probe_once({tool, copy, files.list_path}, run)) batch.push_back(run.peak_kib);
        m.probe_kib = std::max(m.probe_kib, run.probe_kib);
    }
    if (baseline.size() == 5 && batch.size() == 5) {
        m.baseline_kib = median_of(baseline);
        m.batch_kib = median_of(batch);
    }
    const double info = fixed_info_size(LARGE_LAYOUT_VERSION);
    m.budget_kib = (double(bytes.size()) + 3 * info + 8 * 1024 * 1024) / 1024;
    return m;
}

// `kelbo-tool TILESET LIST` on the large sample, start-up and all, against
// the floor process durable and plain. The three run in a random order in
// each round, each on a fresh copy of its input; the floors get the file
// the replay produces, so that all three pack the same tables. The medians
// join the benchmarks' own, by clock, in seconds.
constexpr int PROCESS_ROUNDS = 61;

void measure_whole_process(std::map<std::string, double> (&median)[2]) {
    const BenchFiles& files = bench_files();
    const std::string reference = files.file("process-reference.tileset");
    write_file_bytes(reference, files.large);
    run_batch(reference.c_str(), files.list_path.c_str());
    const std::vector<uint8_t> replayed = read_file(reference);
    const std::string tool_input = files.file("process-tool.tileset");
    const std::string floor_input = files.file("process-floor.tileset");
    struct Side {
        const char* name;
        std::vector<std::string> argv;
        const std::string& input;
        const std::vector<uint8_t>& bytes;
        std::vector<long> us[2]; // by Clock
    } sides[] = {{"process/kelbo-tool",
                  {KELBO_TOOL_PATH, tool_input, files.list_path},
                  tool_input,
                  files.large,
                  {}},
                 {"process/floor_with_fsync",
                  {KELBO_REPLAY_FLOOR_PATH, "durable", floor_input, files.list_path},
                  floor_input,
                  replayed,
                  {}},
                 {"process/floor",
                  {KELBO_REPLAY_FLOOR_PATH, "plain", floor_input, files.list_path},
                  floor_input,
                  replayed,
                  {}}};
    std::mt19937 random(PROCESS_ROUNDS);
    int order[] = {0, 1, 2};
    for (int round = 0; round < PROCESS_ROUNDS; ++round) {
        std::shuffle(order, order + 3, random);
        for (int i : order) {
            Side& side = sides[i];
            write_file_bytes(side.input, side.bytes);
            Probed run;
            if (!probe_once(side.argv, run)) continue;
            side.us[CPU].push_back(run.cpu_us);
            side.us[WALL].push_back(run.elapsed_us);
        }
    }
    for (const Side& side : sides) {
        if (side.us[WALL].size() != PROCESS_ROUNDS) {
            printf("%s failed in some rounds.\n", side.name);
            continue;
        }
        for (Clock clock : {CPU, WALL}) median[clock][side.name] = median_of(side.us[clock]) * 1e-6;
    }
}

// `kelbo-tool --export` of the large sample beside its floor, durable and
// plain, in a random order each round as above; the medians join the
// others. Its peak memory, over the --version baseline, against the picture
// plus the file plus 8 MiB.
constexpr int EXPORT_ROUNDS = 15;

MemoryResult measure_export(std::map<std::string, double> (&median)[2]) {
    const BenchFiles& files = bench_files();
    const std::string out = files.file("export.png");
    const std::vector<std::string> argv[] = {
        {KELBO_TOOL_PATH, "--export", files.large_path, out},
        {KELBO_EXPORT_FLOOR_PATH, "durable", files.large_path, out},
        {KELBO_EXPORT_FLOOR_PATH, "plain", files.large_path, out}};
    const char* names[] = {"export/kelbo-tool", "export/floor_with_fsync", "export/floor"};
    std::vector<long> us[3][2], peak, baseline;
    std::mt19937 random(EXPORT_ROUNDS);
    int order[] = {0, 1, 2};
    for (int round = 0; round < EXPORT_ROUNDS; ++round) {
        std::shuffle(order, order + 3, random);
        for (int i : order) {
            Probed run;
            if (!probe_once(argv[i], run)) continue;
            us[i][CPU].push_back(run.cpu_us);
            us[i][WALL].push_back(run.elapsed_us);
            if (i == 0) peak.push_back(run.peak_kib);
        }
        Probed run;
        if (probe_once({KELBO_TOOL_PATH, "--version"}, run)) baseline.push_back(run.peak_kib);
    }
    for (int i = 0; i < 3; ++i) {
        if (us[i][WALL].size() != EXPORT_ROUNDS) {
            printf("%s failed in some rounds.\n", names[i]);
            continue;
        }
        for (Clock clock : {CPU, WALL}) median[clock][names[i]] = median_of(us[i][clock]) * 1e-6;
    }
    MemoryResult m;
    m.input = "the large sample";
    if (peak.size() == EXPORT_ROUNDS && baseline.size() == EXPORT_ROUNDS) {
        m.baseline_kib = median_of(baseline);
        m.batch_kib = median_of(peak);
    }
    const double picture = 320.0 * (LARGE_CAPACITY + 9) / 10 * 32 * 3;
    m.budget_kib = (picture + double(files.large.size()) + 8 * 1024 * 1024) / 1024;
    return m;
}
