// Cost of writing and reading queue records and of the option normalisations that run on every
// keystroke of the compose form.
#include <benchmark/benchmark.h>

#include "LumoShare.hpp"

namespace {

using namespace lumo;

StagedShare largeShare() {
  StagedShare share;
  share.clientShareId = "0c9f6f1e-8f4b-4bd3-9d1e-2a3c4b5d6e7f";
  share.createdAt = 1700000000000;
  share.payload.kind = ShareKindValues::mixed;
  share.payload.text = std::string(16384, 'x');
  share.payload.meta = ShareStringMap{{"capture", "share-sheet"}, {"platform", "linux"}};
  for (int index = 0; index < 200; ++index) {
    share.attachments.push_back(StagedAttachment{"item-" + std::to_string(index), "file.bin",
                                                 ItemTypeValues::file, "application/octet-stream",
                                                 "Datei 📄.bin", 1024, std::string(64, 'a'),
                                                 std::nullopt, std::nullopt, std::nullopt});
  }
  share.options = ShareOptions::defaultValue();
  return share;
}

void BM_EncodeStagedShare(benchmark::State& state) {
  const auto share = largeShare();
  for (auto _ : state) benchmark::DoNotOptimize(ShareJSON::encoder().encode(share));
}
BENCHMARK(BM_EncodeStagedShare);

void BM_DecodeStagedShare(benchmark::State& state) {
  const auto json = ShareJSON::encoder().encode(largeShare());
  for (auto _ : state) benchmark::DoNotOptimize(ShareJSON::decoder().decode<StagedShare>(json));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BM_DecodeStagedShare);

void BM_NormalizedNote(benchmark::State& state) {
  ShareOptions options;
  std::string note;
  while (note.size() < 16384) note += "Grüße 👩‍👩‍👧 e\u0301 ";
  options.note = note;
  for (auto _ : state) benchmark::DoNotOptimize(options.normalizedNote());
}
BENCHMARK(BM_NormalizedNote);

}  // namespace
