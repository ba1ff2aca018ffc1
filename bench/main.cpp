// kelbo-bench: runs every benchmark (9 repetitions, interleaved at random
// so that a busy moment of the machine does not land on one side of a
// comparison), then prints each operation's median beside its floor's, the
// batch replay as a whole process beside floor processes, and the batch
// replay's peak memory. Benchmark flags given on the command line override
// the defaults.
#include "bench_support.h"
#include "process_bench.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

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
