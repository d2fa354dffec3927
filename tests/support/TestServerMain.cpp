// The loopback test server as a program, for benchmarks that drive it with other clients:
// answers every request with 200 and "{}" (or with --reply, the given JSON body), keeps no
// bodies (only their sizes; with --digest also their SHA-256), prints its port and runs until
// its standard input closes. On exit it lists the requests on standard error.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

#include "ShareTestServer.hpp"

int main(int argc, char** argv) {
  lumo::testing::ShareTestServer server;
  server.setBodyRecording(0, std::find(argv, argv + argc, std::string("--digest")) != argv + argc);
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--reply" && index + 1 < argc) {
      server.setFallback(lumo::testing::ScriptedReply::json(200, argv[++index]));
    }
  }
  std::printf("%d\n", server.port());
  std::fflush(stdout);
  std::string ignored;
  while (std::getline(std::cin, ignored)) {
  }
  const auto requests = server.requests();
  for (const auto& request : requests) {
    std::fprintf(stderr, "%s %s %llu bytes sha256 %s\n", request.method.c_str(),
                 request.target.c_str(), static_cast<unsigned long long>(request.bodySize),
                 request.bodySHA256.c_str());
  }
  return 0;
}
