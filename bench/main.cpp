// kelbo-bench: runs every benchmark (9 repetitions, interleaved at random
// so that a busy moment of the machine does not land on one side of a
// comparison), then prints each operation's median beside its floor's, the
// batch replay as a whole process beside floor processes, and the batch
// replay's peak memory. Benchmark flags given on the command line override
// the defaults.
#include "bench_support.h"

#include "arrangement.h"
#include "batch.h"
#include "swap_list.h"
#include "tileset.h"

#include <benchmark/benchmark.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Operations that wait for the disk are compared in real time. The others
// never block, so their CPU time is compared: on a machine shared with
// other work it leaves out the time spent preempted, which real time would
// add to whichever side happened to be running then.
enum Clock { CPU, WALL };

struct Row {
    const char* operation;
    const char* measured; // benchmark names
    const char* floor;
    double target; // highest acceptable ratio; 0 = shown for information
    Clock clock;
};

const Row ROWS[] = {
    {"load for the editor (tileset_load mask 3)", "load/tileset_load_mask3", "load/floor", 1.10,
     CPU},
    // A save must survive a crash, so its floor writes a new file, flushes
    // it, renames it over the old one and flushes the folder.
    {"save (tileset_save after a mask-1 load)", "save/tileset_save", "save/floor_with_fsync", 1.15,
     WALL},
    {"batch replay, 4096 entries (run_batch)", "batch/run_batch_4096", "batch/floor_with_fsync",
     1.15, WALL},
    {"full redraw, 160 tiles, 40 selected", "redraw/render_tileset_view", "redraw/floor", 2.0, CPU},
    {"carry step handled and redrawn", "carry/editor_handle_event", "carry/floor", 1.10, CPU},
    {"sort_selection, 4095 reversed", "sort/sort_selection_4095", "sort/floor", 3.0, CPU},
    // Undo and redo are held against the sort they take back or redo.
    {"undo of that sort (history_undo)", "undo/history_undo_sort", "sort/sort_selection_4095", 1.5,
     CPU},
    {"redo of that sort (history_redo)", "redo/history_redo_sort", "sort/sort_selection_4095", 1.5,
     CPU},
    {"that sort kept as an edit (+ history_end_edit)", "sort/recorded_edit",
     "sort/sort_selection_4095", 0, CPU},
    // A move of 20 tiles to the end shifts 4075 others: no slower than the sort.
    {"move of 20 tiles from the start to the end (move_selection)", "move/move_selection_20",
     "sort/sort_selection_4095", 1.0, CPU},
    // What durability costs: the same operations against floors that only
    // write the bytes in place.
    {"save, floor without fsync", "save/tileset_save", "save/floor", 0, WALL},
    {"batch replay, floor without fsync", "batch/run_batch_4096", "batch/floor", 0, WALL},
    // The replay as a user starts it: a process of its own, whose loading
    // of shared libraries the in-process rows leave out.
    {"batch replay, whole process (kelbo-tool TILESET LIST)", "process/kelbo-tool",
     "process/floor_with_fsync", 1.15, WALL},
    {"batch replay, whole process, floor without fsync", "process/kelbo-tool", "process/floor", 0,
     WALL},
    {"batch replay, whole process, user + system time", "process/kelbo-tool",
     "process/floor_with_fsync", 0, CPU},
    // The large sample's sheet as a user writes it, against a process that
    // reads, inflates, lays the cells out and encodes with libpng's defaults.
    {"export, 4096 tiles, whole process (kelbo-tool --export)", "export/kelbo-tool",
     "export/floor_with_fsync", 1.5, WALL},
    {"export, whole process, floor without fsync", "export/kelbo-tool", "export/floor", 0, WALL},
};

// Keeps the median of every benchmark's repetitions, in seconds, while the
// console reporter prints as usual.
class MedianCollector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> median[2]; // by Clock
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median" ||
                run.error_occurred)
                continue;
            double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            median[CPU][run.run_name.function_name] = run.GetAdjustedCPUTime() / unit;
            median[WALL][run.run_name.function_name] = run.GetAdjustedRealTime() / unit;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string show_time(double seconds) {
    char text[32];
    if (seconds >= 1e-3)
        snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
    else
        snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
    return text;
}

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

struct MemoryResult {
    const char* input;
    long baseline_kib = -1, batch_kib = -1, probe_kib = -1;
    double budget_kib = 0;
};

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

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = {argv[0]};
    const char* defaults[] = {"--benchmark_repetitions=9",
                              "--benchmark_enable_random_interleaving=true",
                              "--benchmark_report_aggregates_only=true"};
    for (const char* d : defaults) args.push_back(const_cast<char*>(d));
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    bench_files(); // made before any timing starts
    MedianCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    measure_whole_process(reporter.median);
    const MemoryResult export_memory = measure_export(reporter.median);
    const MemoryResult memory[] = {
        measure_batch_memory("the large sample", bench_files().large),
        measure_batch_memory("an info-stream bomb (2^32 - 1 claimed, 1 GiB real)",
                             info_bomb(bench_files().large))};
    benchmark::Shutdown();

    printf("\n| operation | clock | median | floor median | ratio | target | result |\n");
    printf("| --- | --- | ---: | ---: | ---: | ---: | --- |\n");
    bool all_met = true;
    for (const Row& row : ROWS) {
        const std::map<std::string, double>& median = reporter.median[row.clock];
        auto m = median.find(row.measured);
        auto f = median.find(row.floor);
        if (m == median.end() || f == median.end()) continue; // filtered out
        double ratio = m->second / f->second;
        const char* clock = row.clock == CPU ? "CPU" : "real";
        if (row.target == 0) {
            printf("| %s | %s | %s | %s | %.2f | (information) | |\n", row.operation, clock,
                   show_time(m->second).c_str(), show_time(f->second).c_str(), ratio);
            continue;
        }
        bool met = ratio <= row.target;
        all_met = all_met && met;
        printf("| %s | %s | %s | %s | %.2f | <= %.2f | %s |\n", row.operation, clock,
               show_time(m->second).c_str(), show_time(f->second).c_str(), ratio, row.target,
               met ? "met" : "missed");
    }
    for (const MemoryResult& m : memory) {
        if (m.baseline_kib < 0 || m.batch_kib < 0) {
            printf("| batch replay peak memory, %s | | could not be measured | | | | missed |\n",
                   m.input);
            all_met = false;
            continue;
        }
        long over = m.batch_kib - m.baseline_kib;
        double ratio = over / m.budget_kib;
        bool met = ratio <= 1.0;
        all_met = all_met && met;
        printf("| batch replay peak memory over baseline, %s | RSS | %ld KiB | budget %.0f KiB | "
               "%.2f | <= 1.00 | %s |\n",
               m.input, over, m.budget_kib, ratio, met ? "met" : "missed");
    }
    {
        const MemoryResult& m = export_memory;
        const long over = m.batch_kib - m.baseline_kib;
        const bool met = m.batch_kib >= 0 && m.baseline_kib >= 0 && over <= m.budget_kib;
        all_met = all_met && met;
        printf("| export peak memory over baseline, %s | RSS | %ld KiB | budget %.0f KiB | %.2f | "
               "<= 1.00 | %s |\n",
               m.input, over, m.budget_kib, over / m.budget_kib, met ? "met" : "missed");
    }
    for (const MemoryResult& m : memory)
        printf("\nPeak RSS for %s: batch %ld KiB, baseline (--version) %ld KiB; the probe "
               "that started them held %ld KiB.",
               m.input, m.batch_kib, m.baseline_kib, m.probe_kib);
    printf("\n");
    printf("\n%s\n", all_met ? "All targets met." : "Some targets missed.");
    return 0;
}
