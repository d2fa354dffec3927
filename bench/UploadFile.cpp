// Uploads one file to a URL with the library's transport, as the publishing client would, and
// prints the reply's status. Used by bench/upload-vs-curl.sh, which measures it against `curl`.
#include <cstdio>
#include <exception>
#include <memory>

#include "LumoShare.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
    return 2;
  }
  const auto url = lumo::Url::parse(argv[1]);
  if (!url) {
    std::fprintf(stderr, "not a URL: %s\n", argv[1]);
    return 2;
  }
  try {
    lumo::URLSessionTransport transport(std::make_shared<lumo::ShareCurlSession>());
    auto request = lumo::ShareHTTP::makeRequest(*url, "POST", std::nullopt, std::nullopt,
                                                "application/octet-stream");
    const auto reply = transport.uploadFile(request, argv[2]);
    std::printf("%d\n", reply.response.status);
    return reply.response.status == 200 ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "upload failed: %s\n", error.what());
    return 1;
  }
}
