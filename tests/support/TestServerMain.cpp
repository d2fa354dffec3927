// The loopback test server as a program, for benchmarks that drive it with other clients:
// answers every request with 200 "{}", keeps no bodies, prints its port and runs until its
// standard input closes.
#include <cstdio>
#include <iostream>
#include <string>

#include "ShareTestServer.hpp"

int main() {
  lumo::testing::ShareTestServer server;
  server.setBodyRecordLimit(0);
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
