// The main of the GoogleTest programs: every test runs in a session of its own (PrivateSession),
// so running the suite never reads, publishes or changes what the person running it has queued,
// signed in or configured, and never reaches their session bus, display or proxy.
#include <gtest/gtest.h>

#include "PrivateSession.hpp"

int main(int argc, char** argv) {
  const lumo::testing::PrivateSession session;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
