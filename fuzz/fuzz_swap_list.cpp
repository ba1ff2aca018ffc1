// Arbitrary bytes as swap-list text. The in-memory parser and the file
// reader must agree with each other and with a plain tokenizer; a list that
// parses is replayed onto a fresh copy of the small sample, and the saved
// tables must hold, at every listed position, the tile the list names as
// it was before the replay.
#include "arrangement.h"
#include "batch.h"
#include "swap_list.h"
#include "fuzz_support.h"
#include "sample_tileset.h"

#include <algorithm>
#include <cstring>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Whitespace-separated decimal numbers, saturating at 2^32 - 1, paired as
// (from, to) with an odd last number dropped; false on any other byte, with
// its line and value.
bool reference_parse(const uint8_t* text, size_t length, std::vector<uint32_t>& entries,
                     uint64_t& bad_line, uint8_t& bad_byte) {
    std::vector<uint32_t> numbers;
    size_t i = 0;
    bad_line = 1;
    while (i < length) {
        uint8_t c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            bad_line += c == '\n';
            ++i;
            continue;
        }
        if (c < '0' || c > '9') {
            bad_byte = c;
            return false;
        }
        uint64_t value = 0;
        for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
            value = std::min<uint64_t>(value * 10 + (text[i] - '0'), UINT32_MAX);
        numbers.push_back(uint32_t(value));
    }
    entries.clear();
    for (size_t k = 0; k + 1 < numbers.size(); k += 2)
        entries.push_back((numbers[k + 1] & 0xFFF) << 16 | (numbers[k] & 0xFFF));
    return true;
}

struct Sample {
    std::vector<uint8_t> file;
    SampleStreams streams;
    Sample() : file(make_sample_tileset(false)), streams(make_sample_streams(false)) {}
};

void check_replay(const Sample& sample, const std::string& path, const SwapList& list) {
    TilesetFile after = {};
    check(bool(tileset_load(after, path.c_str(), STREAM_MASK_INFO | STREAM_MASK_IMAGE)));

    // Expected tables: the original with each entry applied, later entries
    // winning, all reading from the original.
    const uint16_t version = sample.streams.version;
    const uint32_t size = fixed_info_size(version);
    std::vector<uint8_t> original(sample.streams.info.begin(), sample.streams.info.begin() + size);
    std::vector<uint8_t> expected = original;
    TileInfoView from = bind_info_view(original.data(), version);
    TileInfoView to = bind_info_view(expected.data(), version);
    const uint32_t mask = capacity_for(version) - 1;
    for (uint32_t entry : list.entries)
        record_to_tile(to, tile_to_record(from, entry & mask, 0), (entry >> 16) & mask);

    check(memcmp(after.streams[STREAM_INFO].unpacked, expected.data(), size) == 0);
    // The replay never touches the images.
    const std::vector<uint8_t>& images = sample.streams.images;
    check(after.streams[STREAM_IMAGE].unpacked_size == images.size());
    check(memcmp(after.streams[STREAM_IMAGE].unpacked, images.data(), images.size()) == 0);
    tileset_release(after);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Sample sample;
    static const std::string list_path = scratch_file("list.swaps");
    static const std::string tileset_path = scratch_file("sample.tileset");

    // A copy keeps the parser's reads inside exactly `size` bytes.
    std::vector<uint8_t> text(data, data + size);
    SwapList parsed;
    SwapListError why;
    bool parsed_ok = parse_swap_list(text.data(), text.size(), parsed, &why);

    std::vector<uint32_t> reference;
    uint64_t bad_line = 0;
    uint8_t bad_byte = 0;
    check(parsed_ok == reference_parse(data, size, reference, bad_line, bad_byte));
    check(parsed_ok ||
          (why.kind == SwapListError::BAD_BYTE && why.line == bad_line && why.byte == bad_byte));
    check(parsed.lines.size() == parsed.entries.size());
    // A longer list is kept only replay-equivalent, which check_replay sees.
    if (parsed_ok && reference.size() <= SWAP_LIST_EXACT_ENTRIES)
        check(parsed.entries == reference);

    check(write_whole_file(list_path, data, size));
    SwapList read;
    bool read_ok = read_swap_list(list_path.c_str(), read);
    check(read_ok == parsed_ok);
    if (!read_ok) return 0;
    check(read.entries == parsed.entries);

    check(write_whole_file(tileset_path, sample.file));
    run_batch(tileset_path.c_str(), list_path.c_str());
    check_replay(sample, tileset_path, parsed);
    return 0;
}
