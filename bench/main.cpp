// kelbo-bench: runs every benchmark (9 repetitions, interleaved at random
// so that a busy moment of the machine does not land on one side of a
// comparison), then prints each operation's median beside its floor's and
// the batch replay's peak memory. Benchmark flags given on the command line
// override the defaults.
#include "bench_support.h"

#include "tileset.h"

#include <benchmark/benchmark.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>
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
    {"save (tileset_save after a mask-1 load)", "save/tileset_save", "save/floor", 1.10, WALL},
    {"batch replay, 4096 entries (run_batch)", "batch/run_batch_4096", "batch/floor", 1.15, WALL},
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
    // The production save flushes to the disk before its rename; these
    // floors do too, to show what is left once that is accounted for.
    {"save, floor with fsync", "save/tileset_save", "save/floor_with_fsync", 0, WALL},
    {"batch replay, floor with fsync", "batch/run_batch_4096", "batch/floor_with_fsync", 0, WALL},
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

// Runs `argv` under the probe; false unless it exited 0. `peak` is its
// peak resident set in KiB, `probe` the probe's own size when it forked.
bool probe_once(const std::vector<std::string>& argv, long& peak, long& probe) {
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
    bool ok = f && fscanf(f, "%ld %ld", &peak, &probe) == 2;
    if (f)
        fclose(f);
    else
        close(out[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 && peak >= 0;
}

long median_of(std::vector<long> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct MemoryResult {
    long baseline_kib = -1, batch_kib = -1, probe_kib = -1;
    double budget_kib = 0;
};

// The batch route's own memory is its peak minus that of the same program
// started without arguments (which maps the same libraries, prints one line
// and exits). Each is the median of five runs, the batch each time on a
// fresh copy of the large sample.
MemoryResult measure_batch_memory() {
    const BenchFiles& files = bench_files();
    const std::string tool = KELBO_TOOL_PATH;
    const std::string copy = files.file("memory.tileset");
    MemoryResult m;
    std::vector<long> baseline, batch;
    for (int i = 0; i < 5; ++i) {
        long peak = -1, probe = -1;
        if (probe_once({tool}, peak, probe)) baseline.push_back(peak);
        m.probe_kib = std::max(m.probe_kib, probe);
        write_file_bytes(copy, files.large);
        if (probe_once({tool, copy, files.list_path}, peak, probe)) batch.push_back(peak);
        m.probe_kib = std::max(m.probe_kib, probe);
    }
    if (baseline.size() == 5 && batch.size() == 5) {
        m.baseline_kib = median_of(baseline);
        m.batch_kib = median_of(batch);
    }
    const double info = fixed_info_size(LARGE_LAYOUT_VERSION);
    m.budget_kib = (double(files.large.size()) + 3 * info + 8 * 1024 * 1024) / 1024;
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
    MemoryResult memory = measure_batch_memory();
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
    if (memory.baseline_kib < 0 || memory.batch_kib < 0) {
        printf("| batch replay peak memory | | could not be measured | | | | missed |\n");
        all_met = false;
    } else {
        long over = memory.batch_kib - memory.baseline_kib;
        double ratio = over / memory.budget_kib;
        bool met = ratio <= 1.0;
        all_met = all_met && met;
        printf("| batch replay peak memory over baseline | RSS | %ld KiB | budget %.0f KiB | %.2f "
               "| <= 1.00 | %s |\n",
               over, memory.budget_kib, ratio, met ? "met" : "missed");
        printf("\nPeak RSS: batch %ld KiB, baseline (no arguments) %ld KiB; the probe that "
               "started them held %ld KiB.\n",
               memory.batch_kib, memory.baseline_kib, memory.probe_kib);
    }
    printf("\n%s\n", all_met ? "All targets met." : "Some targets missed.");
    return 0;
}
