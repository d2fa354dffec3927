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
      // Upload times grow over the whole run: the newest-first cap of the records is predictable.
      const auto uploadedAt = std::int64_t{round} * 100000 + index;
      queue.markSucceeded(*queue.entry(id), testing::makeOutcome(id, uploadedAt));
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

/// `lumo-share stage <folder>` with its storage and temporary folder under `base`.
pid_t startStaging(const fs::path& base, const fs::path& source) {
  const pid_t child = ::fork();
  if (child == 0) {
    const auto data = "XDG_DATA_HOME=" + (base / "data").string();
    const auto temporary = "TMPDIR=" + (base / "tmp").string();
    const char* argv[] = {LUMO_SHARE_EXECUTABLE, "stage", source.c_str(), nullptr};
    const char* envp[] = {data.c_str(), temporary.c_str(), "PATH=/usr/bin:/bin", nullptr};
    ::execve(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(envp));
    ::_exit(127);
  }
  return child;
}

TEST(QueueCrashSafety, KilledStagingLeavesNoOrphanAndLosesNoShare) {
  testing::TemporaryDirectory folder;
  fs::create_directories(folder / "tmp");
  fs::create_directories(folder / "Big Folder");
  std::mt19937 random(20261207);
  for (int index = 0; index < 160; ++index) {
    std::string bytes(96 * 1024, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(random());  // incompressible: zip works
    std::ofstream(folder / "Big Folder" / ("f" + std::to_string(index) + ".bin")) << bytes;
  }
  const ShareStorage storage{folder / "data/group.com.lumo.share", ShareStorageLocation::appGroup};
  storage.ensureDirectories();  // under load a child may be killed before it makes the tree
  std::uniform_int_distribution<int> delayMs(5, 700);
  for (int round = 0; round < 14; ++round) {
    const auto child = startStaging(folder.path(), folder / "Big Folder");
    ::usleep(static_cast<useconds_t>(delayMs(random)) * 1000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  const auto survivors = [&] {  // processes whose command line names the test's folder
    int count = 0;
    for (const auto& process : fs::directory_iterator("/proc")) {
      std::ifstream in(process.path() / "cmdline");
      const std::string line(std::istreambuf_iterator<char>(in), {});
      count += line.find(folder.path().string()) != std::string::npos ? 1 : 0;
    }
    return count;
  };
  for (int waited = 0; waited < 200 && survivors() > 0; ++waited) ::usleep(10000);
  EXPECT_EQ(survivors(), 0) << "an archiver outlived its parent";

  std::size_t complete = 0;
  for (const auto& directory : storage.pendingDirectories())
    complete += fs::exists(directory / "share.json") ? 1 : 0;
  // A later run, once the leftovers are old enough to be certainly abandoned.
  const auto later = currentTimeMs() + PendingShareQueue::abandonedStagingMs + 1000;
  const auto shares = PendingShareQueue(storage, [later] { return later; }).all();
  EXPECT_EQ(shares.size(), complete) << "a complete share was lost";
  EXPECT_EQ(storage.pendingDirectories().size(), complete) << "an orphaned folder survived";
  for (const auto& entry : fs::recursive_directory_iterator(storage.rootURL)) {
    const auto name = entry.path().filename().string();
    EXPECT_EQ(name.find(".tmp-"), std::string::npos) << entry.path();
    EXPECT_FALSE(name.starts_with(".lumo-zip-")) << entry.path();
  }
  EXPECT_TRUE(fs::is_empty(folder / "tmp")) << "an archiver log was left behind";
  std::cout << complete << " complete shares after 14 kills\n";
}

}  // namespace
}  // namespace lumo
