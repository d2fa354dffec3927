// makePayload on the largest texts the intake accepts: a 16 KiB chat transcript of 200 messages
// (every line goes through the three line patterns) and 16 KiB of plain prose.
#include <benchmark/benchmark.h>

#include "LumoShare.hpp"

namespace {

using namespace lumo;

std::string chatTranscript() {
  std::string text;
  for (int index = 0; index < 200; ++index) {
    text += "[10:" + std::to_string(10 + index % 50) + "] user" + std::to_string(index % 7) +
            "：今天的会议记录在这里 meeting notes\n";
  }
  while (text.size() < 16384) text += "trailing continuation line\n";
  text.resize(16384);
  return text;
}

std::string plainText() {
  std::string text;
  while (text.size() < 16384) {
    text += "The quick brown fox jumps over the lazy dog. 敏捷的棕色狐狸跳过了懒狗。\n";
  }
  text.resize(16300);
  return text;
}

void runMakePayload(benchmark::State& state, const std::string& text) {
  const ShareSource source{"linux", {}, {}, {}, "en_US"};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        SharePayloadFactory::makePayload("id", 0, source, text, std::nullopt, {}, "share-sheet"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_MakePayloadChat200(benchmark::State& state) {
  const auto text = chatTranscript();
  const auto chat = SharePayloadFactory::makePayload("id", 0, ShareSource{"linux", {}, {}, {}, {}},
                                                     text, std::nullopt, {}, "share-sheet");
  if (!chat.chat || chat.chat->messages.size() != 200) {
    state.SkipWithError("transcript was not parsed into 200 messages");
    return;
  }
  runMakePayload(state, text);
}
BENCHMARK(BM_MakePayloadChat200);

void BM_MakePayloadPlainText(benchmark::State& state) {
  runMakePayload(state, plainText());
}
BENCHMARK(BM_MakePayloadPlainText);

}  // namespace
