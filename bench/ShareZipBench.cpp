// The zip writer against the system archiver storing the same 100 MiB (10 entries of 10 MiB, no
// compression), streamed from the files on disk as a bundle upload sends it; and the CRC-32
// throughput that bounds it. bench/zip-vs-infozip.sh prints the ratio.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "LumoShare.hpp"

namespace {

using namespace lumo;
namespace fs = std::filesystem;

constexpr std::size_t entryBytes = 10 * 1024 * 1024;
constexpr int entryCount = 10;

std::string noise(std::size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (std::size_t offset = 0; offset + 8 <= size; offset += 8) {
    const auto value = random();
    std::memcpy(bytes.data() + offset, &value, 8);
  }
  return bytes;
}

std::vector<ShareZip::Entry> entries() {
  std::vector<ShareZip::Entry> result;
  for (int index = 0; index < entryCount; ++index) {
    result.push_back({"file-" + std::to_string(index) + ".bin", noise(entryBytes, index)});
  }
  return result;
}

void BM_Crc32(benchmark::State& state) {
  const auto data = noise(64 * 1024 * 1024, 7);
  for (auto _ : state) benchmark::DoNotOptimize(ShareZip::crc32(data));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc32)->Unit(benchmark::kMillisecond);

/// The entries written to a fresh folder (not timed).
fs::path writtenEntries() {
  auto pattern = (fs::temp_directory_path() / "lumo-zip-bench-XXXXXX").string();
  const fs::path folder = ::mkdtemp(pattern.data());
  for (const auto& entry : entries())
    std::ofstream(folder / entry.name, std::ios::binary) << entry.data;
  return folder;
}

/// The archive of the files on disk as a bundle upload makes it: each file read once for its
/// CRC-32, then every byte of the archive read through in the transport's 512 KiB steps.
void BM_ShareZipStreamed100MiB(benchmark::State& state) {
  const auto folder = writtenEntries();
  std::vector<char> buffer(512 * 1024);
  for (auto _ : state) {
    std::vector<ShareZip::StreamedEntry> files;
    for (int index = 0; index < entryCount; ++index) {
      const auto name = "file-" + std::to_string(index) + ".bin";
      files.push_back({name, ShareRequestParts::File::open(folder / name, name)});
    }
    const auto archive = ShareZip::streamedArchive(files, 1700000000000);
    for (std::int64_t offset = 0;;) {
      const auto count = archive.read(offset, buffer.data(), buffer.size());
      if (count == 0) break;
      offset += static_cast<std::int64_t>(count);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * entryBytes * entryCount));
  fs::remove_all(folder);
}
BENCHMARK(BM_ShareZipStreamed100MiB)->Unit(benchmark::kMillisecond)->Iterations(5);

/// `zip -0 -q` over the same entries written to disk first (writing them is not timed).
void BM_ZipToolStore100MiB(benchmark::State& state) {
  const auto folder = writtenEntries();
  const auto command =
      "cd '" + folder.string() + "' && rm -f out.zip && zip -0 -q out.zip file-*.bin";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("zip failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * entryBytes * entryCount));
  fs::remove_all(folder);
}
BENCHMARK(BM_ZipToolStore100MiB)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
