// The benchmarks that run the real program as a child under the probe:
// the batch replay and --export as whole processes beside their floor
// processes, and their peak memory over a --version baseline.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Operations that wait for the disk are compared in real time. The others
// never block, so their CPU time is compared: on a machine shared with
// other work it leaves out the time spent preempted, which real time would
// add to whichever side happened to be running then.
enum Clock { CPU, WALL };

struct MemoryResult {
    const char* input;
    long baseline_kib = -1, batch_kib = -1, probe_kib = -1;
    double budget_kib = 0;
};

std::vector<uint8_t> info_bomb(const std::vector<uint8_t>& sample);
MemoryResult measure_batch_memory(const char* input, const std::vector<uint8_t>& bytes);
void measure_whole_process(std::map<std::string, double> (&median)[2]);
MemoryResult measure_export(std::map<std::string, double> (&median)[2]);
