// The samples on their way to the broker, kept on disk (SQLite, in WAL mode) from the
// moment they are taken from the outbox until the broker has acknowledged them, so that
// a broker that is away, a restart and a crash of the runner lose none of them. It also
// keeps each station's last sequence number, so that numbering goes on across runs.
// One runner holds a store at a time. Used on the broker session's thread only, after it
// was opened on the runner's.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct StoredSample {
  std::int64_t id = 0;  // given by the store, rising
  int station = 0;
  long sequence = 0;
  std::string topic;
  std::string payload;
};

class SampleStore {
 public:
  enum class Opened {
    kReady,   // the store can be used
    kHeld,    // another running runner holds it: `why` says so
    kFailed,  // it cannot be used now (a read-only folder, a full disk): `why`
  };

  SampleStore();
  ~SampleStore();
  SampleStore(const SampleStore &) = delete;
  SampleStore &operator=(const SampleStore &) = delete;

  // Opens the store at `path`, or makes it. A file that is not a store of this program,
  // is damaged, or was written by a newer release is never written to: it is moved aside
  // (to PATH.bad-<time>) and a fresh store made; `notes` tells of it.
  Opened Open(const std::string &path, std::int64_t maxBytes, std::vector<std::string> *notes,
              std::string *why);

  // Each station's last sequence number that reached the store.
  std::map<int, long> Sequences();
  std::int64_t Count();  // samples held

  // In one transaction: writes `fresh` (giving each its id) and deletes `acknowledged`.
  // False, with the reason, when the store failed; nothing of it was then done.
  bool Commit(std::vector<StoredSample> *fresh, const std::vector<std::int64_t> &acknowledged,
              std::string *why);
  // Up to `most` samples with an id above `after`, oldest first, and in `last` the
  // highest id looked at (`after` when there was none). A sample that cannot be what this
  // runner wrote (absurd size or content) is deleted and told in `notes`.
  std::vector<StoredSample> After(std::int64_t after, std::size_t most,
                                  std::vector<std::string> *notes, std::int64_t *last);
  // While the store is beyond its bound, its oldest samples go; how many went.
  long Trim();

  const std::string &Path() const { return path_; }

  static constexpr int kSchemaVersion = 1;
  // The largest payload a sample of this runner can have, with room to spare.
  static constexpr std::size_t kLargestPayload = 64 * 1024;

  struct Db;  // the open database and its prepared statements

 private:
  std::unique_ptr<Db> db_;
  std::string path_;
  std::int64_t maxBytes_ = 0;
};
