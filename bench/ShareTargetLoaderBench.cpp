// Staging a 1 GiB shared file through the loader (a kernel-side copy) against `cp` of the same
// file. One run each: the page cache makes repeated runs meaningless.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "LumoShare.hpp"

namespace {

using namespace lumo;
namespace fs = std::filesystem;

class LargeFile {
 public:
  LargeFile() {
    auto pattern = (fs::temp_directory_path() / "lumo-stage-bench-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
    std::ofstream out(file(), std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::size_t index = 0; index < block.size(); ++index)
      block[index] = static_cast<char>(index * 131);
    for (int mebibyte = 0; mebibyte < 1024; ++mebibyte)
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  ~LargeFile() { fs::remove_all(folder_); }
  fs::path file() const { return folder_ / "large.bin"; }
  fs::path folder() const { return folder_; }

 private:
  fs::path folder_;
};

LargeFile& largeFile() {
  static LargeFile file;
  return file;
}

void BM_LoaderStages1GiB(benchmark::State& state) {
  const auto& source = largeFile();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(source.folder() / "staging");
    state.ResumeTiming();
    const ShareTargetLoader loader(source.folder() / "staging", 50,
                                   ShareSource{"linux", {}, {}, {}, {}});
    const auto payload = loader.load({std::make_shared<SharePathItemProvider>(source.file())});
    if (payload.attachments.size() != 1) state.SkipWithError("not staged");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1LL << 30));
}
BENCHMARK(BM_LoaderStages1GiB)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_CpCopies1GiB(benchmark::State& state) {
  const auto& source = largeFile();
  const auto command =
      "cp '" + source.file().string() + "' '" + (source.folder() / "copy.bin").string() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1LL << 30));
}
BENCHMARK(BM_CpCopies1GiB)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
