// Kills a process that works the queue at random moments, many times over, and checks after
// every kill that the store is intact: every "share.json" decodes or is absent, the records
// decode, and nothing that was fully enqueued or recorded went missing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <random>
#include <set>

#include "QueueTestSupport.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;

/// Appends one line with a single write, so a kill never leaves half a line.
void journal(const fs::path& file, const std::string& line) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  const auto text = line + "\n";
  if (fd >= 0) {
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
  }
}

/// Upload times grow over the whole run, so the newest-first cap of the records is predictable.
std::int64_t uploadTime(int round, int index) {
  return std::int64_t{round} * 100000 + index;
}

/// The child's endless workload: enqueue, attempt, fail, succeed; keep the queue and the records
/// below their caps, journaling every share before it legitimately leaves.
[[noreturn]] void workload(const ShareStorage& storage, const fs::path& journalFile, int round) {
  ShareLog::setMinimumLevel(ShareLogLevel::error);
  PendingShareQueue queue(storage);
  for (int index = 0;; ++index) {
    const auto id = "r" + std::to_string(round) + "-" + std::to_string(index);
    auto staged = testing::makeStagedShare(id, index, {100, 200});
    staged.payload.text = std::string(4096, 'x');
    queue.enqueue(staged);
    journal(journalFile, "E " + id);
    const auto share = *queue.entry(id);
    queue.markUploading(share);
    queue.markFailed(*queue.entry(id), "offline");
    if (index % 2 == 0) {
      // Make room first, so the records never reach their cap whenever a kill lands.
      for (auto records = queue.recentUploads(100); records.size() >= 30; records.pop_back()) {
        journal(journalFile, "D " + records.back().slug);
        queue.removeRecent(records.back().slug);
      }
      journal(journalFile, "X " + id);
      queue.markSucceeded(*queue.entry(id), testing::makeOutcome(id, uploadTime(round, index)));
      journal(journalFile, "S " + id);
    }
    if (const auto all = queue.all(); all.size() >= 60) {
      const auto oldest = all.front().staged().clientShareId;
      journal(journalFile, "X " + oldest);
      queue.remove(oldest);
    }
  }
}

struct Journal {
  std::set<std::string> enqueued, leaving, recorded, unrecorded;
};

Journal readJournal(const fs::path& file) {
  Journal result;
  std::ifstream in(file);
  std::string tag, id;
  while (in >> tag >> id) {
    auto& set = tag == "E"   ? result.enqueued
                : tag == "X" ? result.leaving
                : tag == "S" ? result.recorded
                             : result.unrecorded;
    set.insert(id);
  }
  return result;
}

void verifyStore(const ShareStorage& storage, const fs::path& journalFile) {
  for (const auto& directory : storage.pendingDirectories()) {
    const auto file = directory / "share.json";
    if (fs::exists(file)) {
      EXPECT_NO_THROW(ShareJSON::read<ShareQueueEntry>(file)) << file;
    }
  }
  if (fs::exists(storage.recentUploadsURL())) {
    EXPECT_NO_THROW(ShareJSON::read<std::vector<ShareUploadRecord>>(storage.recentUploadsURL()));
  }
  const auto log = readJournal(journalFile);
  PendingShareQueue queue(storage);
  for (const auto& id : log.enqueued) {
    if (!log.leaving.count(id)) {
      EXPECT_TRUE(queue.entry(id).has_value()) << "lost share " << id;
    }
  }
  std::set<std::string> recordIds;
  for (const auto& record : queue.recentUploads(100)) recordIds.insert(record.clientShareId);
  for (const auto& id : log.recorded) {
    if (!log.unrecorded.count(id)) {
      EXPECT_TRUE(recordIds.count(id)) << "lost record " << id;
    }
  }
}

TEST(QueueCrashSafety, RandomKillsLoseNothing) {
  testing::TemporaryDirectory folder;
  const ShareStorage storage{folder / "root", ShareStorageLocation::injected};
  storage.ensureDirectories();
  const auto journalFile = folder / "journal.log";
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int> delayUs(1000, 250000);
  int kills = 0;
  constexpr int rounds = 120;
  for (int round = 0; round < rounds && !::testing::Test::HasFailure(); ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) workload(storage, journalFile, round);
    ::usleep(static_cast<useconds_t>(delayUs(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
      ++kills;
    } else {
      ADD_FAILURE() << "worker ended on its own, status " << status;
    }
    verifyStore(storage, journalFile);
  }
  std::cout << "survived " << kills << " kills in " << rounds << " rounds; "
            << readJournal(journalFile).enqueued.size() << " shares enqueued\n";
  EXPECT_GT(kills, rounds / 2);
}

}  // namespace
}  // namespace lumo
