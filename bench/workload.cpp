// Writes pairs of "verdata.mul" and "patchdata.mul" for demonstrations and benchmarks, and lists
// the entries of a file.
//
//   quelvane-workload demo  DIR   a small pair that shows every kind of change
//   quelvane-workload many  DIR   50000-entry target (~400 MB), 30000-entry patch
//   quelvane-workload sorted DIR  the same with the patch stored in key order
//   quelvane-workload large DIR   ~1 GiB target in ~2000 blocks, ~100 MB patch
//   quelvane-workload worst DIR   65535 entries, blocks stored in reverse index order
//   quelvane-workload shuffled DIR  65535 entries of about 1 KiB, blocks stored in random order
//   quelvane-workload list  FILE  prints the head and every entry
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::int32_t FileId, BlockId, Length;  // Length 0: no data
    std::uint32_t Extra;
};

void Put32(std::FILE* out, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    std::fwrite(bytes, 1, 4, out);
}

// The order in which a file's blocks lie, against the order of its index.
enum class Order { InIndexOrder, Reversed, Shuffled };

// Writes a file whose blocks lie in `order` (a shuffle drawn from `seed`).
bool WriteFile(const std::string& path, const std::vector<Entry>& entries,
               Order order = Order::InIndexOrder, std::uint32_t seed = 0) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return false;
    std::vector<char> buffer(1 << 20);
    std::setvbuf(out, buffer.data(), _IOFBF, buffer.size());
    std::vector<std::size_t> stored(entries.size());  // the entry whose block lies n-th
    for (std::size_t n = 0; n < stored.size(); ++n)
        stored[n] = order == Order::Reversed ? entries.size() - 1 - n : n;
    if (order == Order::Shuffled) {
        std::mt19937 random(seed);
        std::shuffle(stored.begin(), stored.end(), random);
    }
    std::vector<std::int64_t> offsets(entries.size(), -1);
    std::int64_t position = 4 + 20 * static_cast<std::int64_t>(entries.size());
    for (std::size_t n = 0; n < entries.size(); ++n) {
        const std::size_t k = stored[n];
        if (entries[k].Length == 0)
            continue;
        offsets[k] = position;
        position += entries[k].Length;
    }
    Put32(out, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const Entry& e = entries[k];
        Put32(out, static_cast<std::uint32_t>(e.FileId));
        Put32(out, static_cast<std::uint32_t>(e.BlockId));
        Put32(out, static_cast<std::uint32_t>(offsets[k]));
        Put32(out, static_cast<std::uint32_t>(e.Length == 0 ? -1 : e.Length));
        Put32(out, e.Extra);
    }
    std::vector<unsigned char> block;
    for (std::size_t n = 0; n < entries.size(); ++n) {
        const Entry& e = entries[stored[n]];
        if (e.Length == 0)
            continue;
        // Each block's bytes tell its key, so a wrong copy shows.
        block.resize(static_cast<std::size_t>(e.Length));
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<unsigned char>(static_cast<std::uint32_t>(e.FileId) * 31u +
                                                  static_cast<std::uint32_t>(e.BlockId) + i);
        }
        std::fwrite(block.data(), 1, block.size(), out);
    }
    return std::fclose(out) == 0;
}

std::int32_t Between(std::mt19937& random, std::int32_t low, std::int32_t high) {
    return std::uniform_int_distribution<std::int32_t>(low, high)(random);
}

// What a generated pair looks like.
struct Shape {
    std::int32_t Count;       // target entries
    std::int32_t PatchCount;  // patch entries
    std::int32_t MinLength, MaxLength, PatchMaxLength;
    Order TargetOrder;   // how the target's blocks lie against its index
    bool SomeEmpty;      // about one entry in 20 has no data
    bool PatchAddsKeys;  // half the patch entries bring new keys, else all replace
    bool PatchSorted;    // patch entries (and blocks) in key order, else random order
    std::uint32_t Seed;
};

// A sorted target over FileIds 0..33 and a patch whose entries name keys near random target
// entries: the same key (a replacement) or, when the shape allows, the free BlockId just after it
// (a new key).
void Generate(const std::string& dir, const Shape& shape) {
    std::mt19937 random(shape.Seed);
    std::vector<Entry> target, patch;
    const std::int32_t perFile = shape.Count / 34 + 1;
    auto length = [&](std::int32_t low, std::int32_t high) {
        return shape.SomeEmpty && Between(random, 0, 19) == 0 ? 0 : Between(random, low, high);
    };
    for (std::int32_t k = 0; k < shape.Count; ++k) {
        // BlockIds step by 2 so that new keys fit between them.
        target.push_back({k / perFile, 2 * (k % perFile), length(shape.MinLength, shape.MaxLength),
                          static_cast<std::uint32_t>(k)});
    }
    for (std::int32_t k = 0; k < shape.PatchCount; ++k) {
        const Entry& near = target[static_cast<std::size_t>(Between(random, 0, shape.Count - 1))];
        const bool adds = shape.PatchAddsKeys && k % 2 == 1;
        patch.push_back({near.FileId, adds ? near.BlockId + 1 : near.BlockId,
                         length(shape.MinLength, shape.PatchMaxLength),
                         0x80000000u | static_cast<std::uint32_t>(k)});
    }
    if (shape.PatchSorted) {
        std::stable_sort(patch.begin(), patch.end(), [](const Entry& a, const Entry& b) {
            return a.FileId != b.FileId ? a.FileId < b.FileId : a.BlockId < b.BlockId;
        });
    }
    std::filesystem::create_directories(dir);
    if (!WriteFile(dir + "/verdata.mul", target, shape.TargetOrder, shape.Seed) ||
        !WriteFile(dir + "/patchdata.mul", patch)) {
        std::fprintf(stderr, "cannot write the pair in %s\n", dir.c_str());
        std::exit(1);
    }
}

void Demo(const std::string& dir) {
    std::filesystem::create_directories(dir);
    // The target holds an earlier duplicate of (1,2) and a dropped entry of FileId 40; the patch
    // replaces (1,2), empties (2,1) and brings two new entries.
    const std::vector<Entry> target = {{1, 1, 16, 1}, {1, 2, 8, 2},  {1, 2, 12, 3},
                                       {2, 1, 20, 4}, {40, 1, 5, 5}, {3, 0, 0, 6}};
    const std::vector<Entry> patch = {{1, 2, 24, 7}, {2, 1, 0, 8}, {1, 3, 6, 9}, {2, 0, 10, 10}};
    if (!WriteFile(dir + "/verdata.mul", target) || !WriteFile(dir + "/patchdata.mul", patch)) {
        std::fprintf(stderr, "cannot write the demo pair in %s\n", dir.c_str());
        std::exit(1);
    }
}

std::uint32_t Get32(const unsigned char* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

int List(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    unsigned char head[4];
    if (std::fread(head, 1, 4, in) != 4)
        return 1;
    const auto count = static_cast<std::int32_t>(Get32(head));
    std::printf("%s: %d entries, %lld bytes\n", path.c_str(), count,
                static_cast<long long>(std::filesystem::file_size(path)));
    std::printf("  %8s %8s %10s %8s %10s\n", "FileId", "BlockId", "Offset", "Length", "Extra");
    for (std::int32_t k = 0; k < count && k < 65536; ++k) {
        unsigned char e[20];
        if (std::fread(e, 1, 20, in) != 20)
            break;
        std::printf("  %8d %8d %10d %8d %10u\n", static_cast<std::int32_t>(Get32(e)),
                    static_cast<std::int32_t>(Get32(e + 4)),
                    static_cast<std::int32_t>(Get32(e + 8)),
                    static_cast<std::int32_t>(Get32(e + 12)), Get32(e + 16));
    }
    std::fclose(in);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(
            stderr,
            "usage: quelvane-workload demo|many|sorted|large|worst|shuffled DIR | list FILE\n");
        return 2;
    }
    const std::string mode = argv[1], where = argv[2];
    if (mode == "list")
        return List(where);
    if (mode == "demo")
        Demo(where);
    else if (mode == "many")
        Generate(where,
                 {50000, 30000, 2048, 14336, 4096, Order::InIndexOrder, true, true, false, 1});
    else if (mode == "sorted")
        Generate(where,
                 {50000, 30000, 2048, 14336, 4096, Order::InIndexOrder, true, true, true, 1});
    else if (mode == "large")
        Generate(where,
                 {2000, 200, 262144, 786432, 1048576, Order::InIndexOrder, true, true, false, 2});
    else if (mode == "worst")
        // Every entry has data and the patch only replaces, so the result stays at the limit.
        Generate(where, {65535, 2000, 512, 1536, 1536, Order::Reversed, false, false, false, 3});
    else if (mode == "shuffled")
        // As a target written by another tool may be: small blocks in no order of the index's.
        Generate(where, {65535, 4000, 512, 1536, 1536, Order::Shuffled, false, false, false, 4});
    else {
        std::fprintf(stderr, "unknown workload %s\n", mode.c_str());
        return 2;
    }
    return 0;
}
