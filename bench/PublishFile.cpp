// Publishes one file as a signed-in document with the publishing client, as the share panel
// would, and prints the short link. Used by bench/publish-vs-curl.sh, which measures it against
// `curl -F` to the same loopback endpoint. The document is planned here rather than by
// `upload`, so that files beyond the client's own size limit can be measured too.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>

#include "LumoShare.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s API-BASE FILE\n", argv[0]);
    return 2;
  }
  const auto base = lumo::Url::parse(argv[1]);
  if (!base) {
    std::fprintf(stderr, "not a URL: %s\n", argv[1]);
    return 2;
  }
  const std::filesystem::path file = std::filesystem::absolute(argv[2]);
  lumo::StagedShare staged;
  staged.clientShareId = "bench";
  staged.payload.kind = "file";
  try {
    const lumo::ShareUploadClient client(*base, "bench-token",
                                         lumo::URLSessionTransport::makeDefault());
    const lumo::ShareUploadClient::DocumentPlan document{
        file.filename().string(),
        "application/octet-stream",
        {{lumo::ShareRequestParts::File::open(file, file.filename().string())}},
        std::nullopt};
    const auto outcome = client.publishDoc(document, staged, lumo::ShareOptions::defaultValue());
    std::printf("%s\n", outcome.shortUrl.c_str());
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "publish failed: %s\n", error.what());
    return 1;
  }
}
