#include "runner/mqtt/sample_store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <utility>

namespace {

// "DvAd" in the file's header, so that another program's database is told apart from a
// store of this program.
constexpr int kApplicationId = 0x44764164;

constexpr char kSchema[] =
    "CREATE TABLE samples(id INTEGER PRIMARY KEY AUTOINCREMENT, station INTEGER NOT NULL,"
    " sequence INTEGER NOT NULL, topic TEXT NOT NULL, payload BLOB NOT NULL);"
    "CREATE TABLE stations(station INTEGER PRIMARY KEY, sequence INTEGER NOT NULL);"
    "PRAGMA application_id=1148600676;"
    "PRAGMA user_version=1;";
static_assert(kApplicationId == 1148600676, "the schema's application id");

constexpr int kHighestStation = 65535;
constexpr std::size_t kLongestTopic = 1024;

bool Held(int rc) {
  int primary = rc & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool Bad(int rc) {
  int primary = rc & 0xFF;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

class Statement {
 public:
  Statement() = default;
  Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;
  Statement &operator=(Statement &&other) noexcept {
    std::swap(stmt_, other.stmt_);
    return *this;
  }
  sqlite3_stmt *get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt *stmt_ = nullptr;
};

bool Exists(const std::string &path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::string AsideName(const std::string &path) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32] = {};
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  std::string aside = path + ".bad-" + stamp;
  for (int n = 2; Exists(aside); ++n) aside = path + ".bad-" + stamp + "-" + std::to_string(n);
  return aside;
}

}  // namespace

struct SampleStore::Db {
  sqlite3 *handle = nullptr;
  Statement insert, station, raise, remove, after, trim;

  ~Db() {
    insert = Statement();
    station = Statement();
    raise = Statement();
    remove = Statement();
    after = Statement();
    trim = Statement();
    sqlite3_close_v2(handle);
  }

  int Exec(const char *sql) { return sqlite3_exec(handle, sql, nullptr, nullptr, nullptr); }
  std::string Error() const { return sqlite3_errmsg(handle); }

  // The first column of the first row of `sql`, as a number or as text.
  int QueryInt(const char *sql, std::int64_t *value) {
    Statement query(handle, sql);
    if (!query) return sqlite3_extended_errcode(handle);
    int rc = sqlite3_step(query.get());
    if (rc == SQLITE_ROW) *value = sqlite3_column_int64(query.get(), 0);
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
  }
  int QueryText(const char *sql, std::string *value) {
    Statement query(handle, sql);
    if (!query) return sqlite3_extended_errcode(handle);
    int rc = sqlite3_step(query.get());
    if (rc == SQLITE_ROW) {
      const unsigned char *text = sqlite3_column_text(query.get(), 0);
      *value = text != nullptr ? reinterpret_cast<const char *>(text) : "";
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
  }
};

namespace {

enum class Verdict { kUsable, kHeld, kBad, kFailed };

// Looks at what is at the path, holding it for this runner; a new or empty file becomes a
// fresh store. `detail` says what was wrong.
Verdict Inspect(SampleStore::Db &db, std::string *detail) {
  // The store is held for as long as the runner has it open, and a second runner that
  // looks at it is answered at once.
  sqlite3_busy_timeout(db.handle, 0);
  int rc = db.Exec("PRAGMA locking_mode=EXCLUSIVE");
  std::int64_t application = 0, version = 0, objects = 0;
  if (rc == SQLITE_OK) rc = db.QueryInt("SELECT count(*) FROM sqlite_master", &objects);
  if (rc == SQLITE_OK) rc = db.QueryInt("PRAGMA application_id", &application);
  if (rc == SQLITE_OK) rc = db.QueryInt("PRAGMA user_version", &version);
  if (Held(rc)) return Verdict::kHeld;
  if (Bad(rc)) {
    *detail = "is not a store (" + db.Error() + ")";
    return Verdict::kBad;
  }
  if (rc != SQLITE_OK) {
    *detail = db.Error();
    return Verdict::kFailed;
  }
  if (application == 0 && objects == 0) {
    rc = db.Exec("PRAGMA journal_mode=WAL");
    if (rc == SQLITE_OK) rc = db.Exec("BEGIN EXCLUSIVE");
    if (rc == SQLITE_OK) rc = db.Exec(kSchema);
    if (rc == SQLITE_OK) rc = db.Exec("COMMIT");
    if (Held(rc)) return Verdict::kHeld;
    if (rc != SQLITE_OK) *detail = db.Error();
    return rc == SQLITE_OK ? Verdict::kUsable : Verdict::kFailed;
  }
  if (application != kApplicationId) {
    *detail = "is another program's database";
    return Verdict::kBad;
  }
  if (version != SampleStore::kSchemaVersion) {
    *detail = "has schema version " + std::to_string(version) + ", which this release (version " +
              std::to_string(SampleStore::kSchemaVersion) + ") cannot read";
    return Verdict::kBad;
  }
  std::string check;
  rc = db.QueryText("PRAGMA quick_check", &check);
  if (Held(rc)) return Verdict::kHeld;
  if (rc != SQLITE_OK || check != "ok") {
    *detail = "is damaged (" + (rc != SQLITE_OK ? db.Error() : check) + ")";
    return Verdict::kBad;
  }
  rc = db.Exec("PRAGMA journal_mode=WAL");
  if (rc == SQLITE_OK) rc = db.Exec("BEGIN EXCLUSIVE; COMMIT");
  if (Held(rc)) return Verdict::kHeld;
  if (rc != SQLITE_OK) *detail = db.Error();
  return rc == SQLITE_OK ? Verdict::kUsable : Verdict::kFailed;
}

// The file and its write-ahead log go aside together: a fresh store must not pick up the
// old log.
bool MoveAside(const std::string &path, std::string *aside) {
  *aside = AsideName(path);
  if (std::rename(path.c_str(), aside->c_str()) != 0) return false;
  if (Exists(path + "-wal")) std::rename((path + "-wal").c_str(), (*aside + "-wal").c_str());
  if (Exists(path + "-shm")) std::remove((path + "-shm").c_str());
  return true;
}

// Why the store cannot be written, when that is so: the store and the journal files that
// SQLite keeps beside it need a writable folder, and SQLite itself says no more than "disk
// I/O error" then. Empty when it can be written, as far as can be told beforehand.
std::string WhyNotWritable(const std::string &path, bool exists) {
  std::string::size_type slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  if (::access(folder.c_str(), W_OK) != 0) {
    if (errno == EROFS) return "it is on a read-only file system";
    if (errno == EACCES) return "its folder " + folder + " cannot be written";
  }
  if (exists && ::access(path.c_str(), W_OK) != 0) {
    if (errno == EROFS) return "it is on a read-only file system";
    if (errno == EACCES) return "it cannot be written";
  }
  return std::string();
}

}  // namespace

SampleStore::SampleStore() = default;
SampleStore::~SampleStore() = default;

SampleStore::Opened SampleStore::Open(const std::string &path, std::int64_t maxBytes,
                                      std::vector<std::string> *notes, std::string *why) {
  path_ = path;
  maxBytes_ = maxBytes;
  // Only a regular file is ever moved aside: a device or a folder named by mistake is
  // refused as it is.
  struct stat info {};
  bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    *why = "cannot use the store " + path + ": it is not a regular file";
    return Opened::kFailed;
  }
  std::string readOnly = WhyNotWritable(path, exists);
  if (!readOnly.empty()) {
    *why = "cannot use the store " + path + ": " + readOnly;
    return Opened::kFailed;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    db_ = std::make_unique<Db>();
    int rc =
        sqlite3_open_v2(path.c_str(), &db_->handle,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::string detail;
    Verdict verdict = Verdict::kFailed;
    if (rc != SQLITE_OK) {
      detail = db_->handle != nullptr ? db_->Error() : "out of memory";
    } else {
      sqlite3_extended_result_codes(db_->handle, 1);
      verdict = Inspect(*db_, &detail);
    }
    if (verdict == Verdict::kUsable) break;
    db_.reset();
    if (verdict == Verdict::kHeld) {
      *why = "the store " + path + " is in use by another running devado-host";
      return Opened::kHeld;
    }
    std::string aside;
    if (verdict == Verdict::kFailed || attempt > 0 || !MoveAside(path, &aside)) {
      *why = "cannot use the store " + path + ": " +
             (detail.empty() ? "cannot move it aside" : detail);
      return Opened::kFailed;
    }
    notes->push_back("the store " + path + " " + detail + ": moved aside to " + aside +
                     "; a fresh store is started");
  }
  db_->Exec("PRAGMA synchronous=NORMAL");
  db_->insert =
      Statement(db_->handle, "INSERT INTO samples(station,sequence,topic,payload) VALUES(?,?,?,?)");
  // Without an upsert, which the oldest SQLite that the package admits lacks.
  db_->station =
      Statement(db_->handle, "INSERT OR IGNORE INTO stations(station,sequence) VALUES(?,0)");
  db_->raise =
      Statement(db_->handle, "UPDATE stations SET sequence=max(sequence,?2) WHERE station=?1");
  db_->remove = Statement(db_->handle, "DELETE FROM samples WHERE id=?");
  db_->after = Statement(db_->handle,
                         "SELECT id,station,sequence,topic,payload FROM samples WHERE id>?"
                         " ORDER BY id LIMIT ?");
  db_->trim = Statement(
      db_->handle, "DELETE FROM samples WHERE id IN (SELECT id FROM samples ORDER BY id LIMIT ?)");
  if (!db_->insert || !db_->station || !db_->raise || !db_->remove || !db_->after || !db_->trim) {
    *why = "cannot use the store " + path + ": " + db_->Error();
    db_.reset();
    return Opened::kFailed;
  }
  return Opened::kReady;
}

std::map<int, long> SampleStore::Sequences() {
  std::map<int, long> sequences;
  if (!db_) return sequences;
  Statement query(db_->handle, "SELECT station,sequence FROM stations");
  while (query && sqlite3_step(query.get()) == SQLITE_ROW) {
    sequences[sqlite3_column_int(query.get(), 0)] =
        static_cast<long>(sqlite3_column_int64(query.get(), 1));
  }
  return sequences;
}

std::int64_t SampleStore::Count() {
  std::int64_t count = 0;
  if (db_) db_->QueryInt("SELECT count(*) FROM samples", &count);
  return count;
}

namespace {

int Run(sqlite3_stmt *statement) {
  int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int Insert(sqlite3_stmt *insert, sqlite3 *db, StoredSample *sample) {
  sqlite3_bind_int(insert, 1, sample->station);
  sqlite3_bind_int64(insert, 2, sample->sequence);
  sqlite3_bind_text(insert, 3, sample->topic.data(), static_cast<int>(sample->topic.size()),
                    SQLITE_STATIC);
  sqlite3_bind_blob(insert, 4, sample->payload.data(), static_cast<int>(sample->payload.size()),
                    SQLITE_STATIC);
  int rc = Run(insert);
  if (rc == SQLITE_OK) sample->id = sqlite3_last_insert_rowid(db);
  return rc;
}

}  // namespace

bool SampleStore::Commit(std::vector<StoredSample> *fresh,
                         const std::vector<std::int64_t> &acknowledged, std::string *why) {
  if (!db_) {
    *why = "the store is not open";
    return false;
  }
  int rc = db_->Exec("BEGIN IMMEDIATE");
  std::map<int, long> highest;
  for (std::size_t i = 0; rc == SQLITE_OK && i < fresh->size(); ++i) {
    StoredSample &sample = (*fresh)[i];
    rc = Insert(db_->insert.get(), db_->handle, &sample);
    long &top = highest[sample.station];
    if (sample.sequence > top) top = sample.sequence;
  }
  for (auto it = highest.begin(); rc == SQLITE_OK && it != highest.end(); ++it) {
    sqlite3_bind_int(db_->station.get(), 1, it->first);
    rc = Run(db_->station.get());
    if (rc != SQLITE_OK) break;
    sqlite3_bind_int(db_->raise.get(), 1, it->first);
    sqlite3_bind_int64(db_->raise.get(), 2, it->second);
    rc = Run(db_->raise.get());
  }
  for (std::size_t i = 0; rc == SQLITE_OK && i < acknowledged.size(); ++i) {
    sqlite3_bind_int64(db_->remove.get(), 1, acknowledged[i]);
    rc = Run(db_->remove.get());
  }
  if (rc == SQLITE_OK) rc = db_->Exec("COMMIT");
  if (rc == SQLITE_OK) return true;
  *why = db_->Error();
  db_->Exec("ROLLBACK");
  for (StoredSample &sample : *fresh) sample.id = 0;
  return false;
}

std::vector<StoredSample> SampleStore::After(std::int64_t after, std::size_t most,
                                             std::vector<std::string> *notes, std::int64_t *last) {
  std::vector<StoredSample> found;
  std::vector<std::int64_t> absurd;
  *last = after;
  if (!db_) return found;
  sqlite3_stmt *query = db_->after.get();
  sqlite3_bind_int64(query, 1, after);
  sqlite3_bind_int64(query, 2, static_cast<std::int64_t>(most));
  while (sqlite3_step(query) == SQLITE_ROW) {
    StoredSample sample;
    sample.id = sqlite3_column_int64(query, 0);
    *last = sample.id;
    std::int64_t station = sqlite3_column_int64(query, 1);
    sample.sequence = static_cast<long>(sqlite3_column_int64(query, 2));
    auto topicBytes = static_cast<std::size_t>(sqlite3_column_bytes(query, 3));
    auto payloadBytes = static_cast<std::size_t>(sqlite3_column_bytes(query, 4));
    const char *topic = reinterpret_cast<const char *>(sqlite3_column_text(query, 3));
    const char *payload = static_cast<const char *>(sqlite3_column_blob(query, 4));
    bool sound = station >= 0 && station <= kHighestStation && sample.sequence > 0 &&
                 topic != nullptr && topicBytes > 0 && topicBytes <= kLongestTopic &&
                 payload != nullptr && payloadBytes > 1 && payloadBytes <= kLargestPayload &&
                 payload[0] == '{' && payload[payloadBytes - 1] == '}';
    if (!sound) {
      absurd.push_back(sample.id);
      continue;
    }
    sample.station = static_cast<int>(station);
    sample.topic.assign(topic, topicBytes);
    sample.payload.assign(payload, payloadBytes);
    found.push_back(std::move(sample));
  }
  sqlite3_reset(query);
  for (std::int64_t id : absurd) {
    notes->push_back("the store " + path_ + " held a sample that this runner cannot have written" +
                     " (number " + std::to_string(id) + "): skipped and deleted");
    sqlite3_bind_int64(db_->remove.get(), 1, id);
    Run(db_->remove.get());
  }
  return found;
}

long SampleStore::Trim() {
  if (!db_ || maxBytes_ <= 0) return 0;
  long dropped = 0;
  for (int round = 0; round < 8; ++round) {
    std::int64_t pages = 0, free = 0, pageSize = 0;
    db_->QueryInt("PRAGMA page_count", &pages);
    db_->QueryInt("PRAGMA freelist_count", &free);
    db_->QueryInt("PRAGMA page_size", &pageSize);
    std::int64_t used = (pages - free) * pageSize;
    if (used <= maxBytes_) break;
    std::int64_t count = Count();  // a walk over the table: only when the store is over
    if (count == 0) break;
    // The share of the samples by which the store is over, and a little more, so that
    // it is not trimmed again at the next write.
    std::int64_t excess = count * (used - maxBytes_) / used + count / 100 + 1;
    sqlite3_bind_int64(db_->trim.get(), 1, excess);
    if (Run(db_->trim.get()) != SQLITE_OK) break;
    dropped += sqlite3_changes(db_->handle);
  }
  return dropped;
}
