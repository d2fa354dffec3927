// The queue re-reads every "share.json" on each listing (nothing is cached, so other processes'
// changes show at once): measure listings over a full queue of 100 shares with 16 KiB texts, and
// markSucceeded against a full list of 50 records (includes the atomic, flushed write).
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>

#include "LumoShare.hpp"

namespace {

using namespace lumo;
namespace fs = std::filesystem;

class BenchStore {
 public:
  BenchStore() {
    auto pattern = (fs::temp_directory_path() / "lumo-bench-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
    ShareLog::setMinimumLevel(ShareLogLevel::error);
  }
  ~BenchStore() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ShareStorage storage() const { return ShareStorage{path_, ShareStorageLocation::injected}; }

 private:
  fs::path path_;
};

StagedShare textShare(int index) {
  StagedShare share;
  share.clientShareId = "share-" + std::to_string(1000 + index);
  share.createdAt = 1700000000000 + index;
  share.payload.kind = ShareKindValues::text;
  share.payload.text = std::string(16384, 'a' + index % 26);
  share.displayTitle = "Share " + std::to_string(index);
  return share;
}

void fillQueue(PendingShareQueue& queue) {
  for (int index = 0; index < 100; ++index) queue.enqueue(textShare(index));
}

void BM_QueueAll(benchmark::State& state) {
  BenchStore store;
  PendingShareQueue queue(store.storage());
  fillQueue(queue);
  for (auto _ : state) benchmark::DoNotOptimize(queue.all());
}
BENCHMARK(BM_QueueAll)->Unit(benchmark::kMillisecond);

void BM_QueueNextBatch(benchmark::State& state) {
  BenchStore store;
  PendingShareQueue queue(store.storage());
  fillQueue(queue);
  for (auto _ : state) benchmark::DoNotOptimize(queue.nextBatch(10, false));
}
BENCHMARK(BM_QueueNextBatch)->Unit(benchmark::kMillisecond);

void BM_QueueStats(benchmark::State& state) {
  BenchStore store;
  PendingShareQueue queue(store.storage());
  fillQueue(queue);
  for (auto _ : state) benchmark::DoNotOptimize(queue.stats());
}
BENCHMARK(BM_QueueStats)->Unit(benchmark::kMillisecond);

void BM_MarkSucceededWith50Records(benchmark::State& state) {
  BenchStore store;
  PendingShareQueue queue(store.storage());
  int next = 0;
  const auto succeedOne = [&] {
    auto share = textShare(next++);
    share.clientShareId = "record-" + std::to_string(next);
    queue.enqueue(share);
    return *queue.entry(share.clientShareId);
  };
  for (int index = 0; index < 50; ++index) {
    queue.markSucceeded(
        succeedOne(),
        ShareUploadOutcome{"doc", "slug" + std::to_string(index), "u", {}, false, 0, {}, index});
  }
  for (auto _ : state) {
    state.PauseTiming();
    const auto share = succeedOne();
    state.ResumeTiming();
    queue.markSucceeded(
        share,
        ShareUploadOutcome{"doc", "slug" + std::to_string(next), "u", {}, true, 0, "claim", next});
  }
}
BENCHMARK(BM_MarkSucceededWith50Records)->Unit(benchmark::kMillisecond);

}  // namespace
