// The run's output containers in one SQLite file, written in a single
// transaction through one prepared statement.
#include "refhost/container_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace refhost {

namespace {

// SQLite's message, with the system's reason for an I/O error ("disk I/O
// error" alone hides a file size limit or a vanished disk).
std::string reason(sqlite3* db, const char* message) {
    std::string text = message;
    if ((sqlite3_errcode(db) & 0xff) == SQLITE_IOERR && sqlite3_system_errno(db) != 0)
        text += ": " + std::string(std::strerror(sqlite3_system_errno(db)));
    return text;
}

[[noreturn]] void fail(sqlite3* db, const std::string& path, const std::string& what) {
    throw StoreError(path + ": " + what + " (" + (db ? reason(db, sqlite3_errmsg(db)) : "out of memory") + ")");
}

// The text of column `i` with its exact length (keys may hold any byte).
std::string columnText(sqlite3_stmt* statement, int i) {
    const void* bytes = sqlite3_column_blob(statement, i);
    const int size = sqlite3_column_bytes(statement, i);
    return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
}

class Statement {
public:
    Statement(sqlite3* db, const std::string& path, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) fail(db, path, "cannot read");
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return statement_; }

private:
    sqlite3_stmt* statement_ = nullptr;
};

}  // namespace

ContainerStoreWriter::ContainerStoreWriter(const std::string& path) : path_(path) {
    // The writer is not thread-safe (its callers serialise their calls), so
    // the connection goes without SQLite's own mutex, which every bind and
    // step would otherwise take and release: a tenth of an entry's insert.
    // The file is made here, new, with the mode every other output file
    // gets (0666 less the umask); SQLite would make it 0644 whatever the
    // umask. An empty file is an empty database to SQLite.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) throw StoreError(path + ": cannot create the database (" + std::strerror(errno) + ")");
    ::close(fd);
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(path + ": cannot create the database (" + message + ")");
    }
    // A constructor that throws runs no destructor: the connection and the
    // statements prepared so far are released here (a file size limit can
    // refuse the first page).
    try {
        create();
    } catch (...) {
        release();
        throw;
    }
}

void ContainerStoreWriter::create() {
    // The file is private to the run until it is complete and moved into
    // place, so it needs no rollback journal: a failed run discards it.
    // Entries of a kilobyte or two fill large pages with little left over
    // (4 KiB pages hold two, leaving a fifth of the file empty); 32 KiB
    // pages leave as little as 64 KiB ones, and the leaf page splits, which
    // copy whole pages, cost less.
    exec("PRAGMA page_size=32768");
    exec("PRAGMA journal_mode=OFF");
    exec("PRAGMA synchronous=OFF");
    exec("PRAGMA locking_mode=EXCLUSIVE");
    exec("PRAGMA cache_size=-16384");
    exec(("PRAGMA user_version=" + std::to_string(kContainerStoreVersion)).c_str());
    exec("CREATE TABLE entries(container TEXT NOT NULL, seq INTEGER NOT NULL, key TEXT NOT NULL, "
         "mime_type TEXT NOT NULL, type_id TEXT NOT NULL, content BLOB NOT NULL)");
    exec("BEGIN");
    std::string sql = "INSERT INTO entries(rowid, container, seq, key, mime_type, type_id, content) VALUES";
    const std::string values = "(?, ?, ?, ?, ?, ?, ?)";
    if (sqlite3_prepare_v2(db_, (sql + values).c_str(), -1, &insert_, nullptr) != SQLITE_OK)
        fail(db_, path_, "cannot prepare the insert");
    for (std::size_t i = 0; i < kBatchRows; ++i) sql += (i ? ", " : "") + values;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insertBatch_, nullptr) != SQLITE_OK)
        fail(db_, path_, "cannot prepare the insert");
}

ContainerStoreWriter::~ContainerStoreWriter() { release(); }

void ContainerStoreWriter::release() {
    readBlob_.close();
    for (sqlite3_stmt** statement : {&insert_, &insertBatch_, &remove_, &insertGroup_, &insertGroupBatch_}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    sqlite3_close(db_);
    db_ = nullptr;
}

void ContainerStoreWriter::exec(const char* sql) {
    readBlob_.close();
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = reason(db_, message ? message : sqlite3_errmsg(db_));
        sqlite3_free(message);
        throw StoreError(path_ + ": cannot write the database (" + text + ")");
    }
}

void ContainerStoreWriter::add(const std::string& container, const std::string& key, const std::string& mimeType,
                               const std::string& typeId, const std::string& content) {
    auto next = std::find_if(nextSeq_.begin(), nextSeq_.end(), [&](const auto& c) { return c.first == container; });
    if (next == nextSeq_.end()) next = nextSeq_.insert(nextSeq_.end(), {container, 1});
    insert(container, next->second, key, mimeType, typeId, content.size(), content);
    ++next->second;
}

int64_t ContainerStoreWriter::insert(const std::string& container, int64_t seq, const std::string& key,
                                     const std::string& mimeType, const std::string& typeId, uint64_t length,
                                     std::string_view head) {
    const int64_t row = ++lastRow_;
    if (head.size() == length && length < kDirectBytes) {
        // A whole entry waits with others for one statement that inserts
        // them all: executing a statement costs about as much as the row
        // it inserts.
        Pending pending{row, seq, pendingBytes_.size(), {}};
        const std::string_view parts[5] = {container, key, mimeType, typeId, head};
        for (int i = 0; i < 5; ++i) {
            pending.lengths[i] = parts[i].size();
            pendingBytes_.append(parts[i]);
        }
        pending_.push_back(pending);
        if (pending_.size() == kBatchRows) flush();
        return row;
    }
    flush();
    // Large content, and content not all at hand, is reserved as zeros and
    // written in place: a large entry is never whole in memory, where a row
    // inserted with its content would be built as one record first.
    const std::string_view parts[5] = {container, key, mimeType, typeId, {}};
    bindRow(insert_, 0, row, seq, parts);
    sqlite3_bind_zeroblob64(insert_, 7, length);
    step(insert_);
    writeContent(row, 0, head);
    return row;
}

void ContainerStoreWriter::bindRow(sqlite3_stmt* statement, int first, int64_t row, int64_t seq,
                                   const std::string_view (&parts)[5]) {
    sqlite3_bind_int64(statement, first + 1, row);
    sqlite3_bind_text(statement, first + 2, parts[0].data(), static_cast<int>(parts[0].size()), SQLITE_STATIC);
    sqlite3_bind_int64(statement, first + 3, seq);
    for (int i = 1; i < 4; ++i)
        sqlite3_bind_text(statement, first + 3 + i, parts[i].data(), static_cast<int>(parts[i].size()),
                          SQLITE_STATIC);
    // An empty content is bound as an empty blob, never as NULL.
    sqlite3_bind_blob64(statement, first + 7, parts[4].empty() ? "" : parts[4].data(), parts[4].size(),
                        SQLITE_STATIC);
}

void ContainerStoreWriter::step(sqlite3_stmt* statement) {
    readBlob_.close();
    // Every parameter is bound again before the next step, so the bindings
    // need not be cleared.
    const int status = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (status != SQLITE_DONE) fail(db_, path_, "cannot write the database");
}

std::string_view ContainerStoreWriter::pendingPart(const Pending& pending, int part) const {
    std::size_t at = pending.at;
    for (int i = 0; i < part; ++i) at += pending.lengths[i];
    return std::string_view(pendingBytes_).substr(at, pending.lengths[part]);
}

template <typename Bind, typename Drop>
void ContainerStoreWriter::insertPending(std::size_t rows, sqlite3_stmt* single, sqlite3_stmt* batch, int columns,
                                         const Bind& bind, const Drop& drop) {
    // The rows are dropped whatever happens: after a failure the file is
    // discarded.
    struct Dropped {
        const Drop& drop;
        ~Dropped() { drop(); }
    } dropped{drop};
    if (rows == 0) return;
    std::size_t done = 0;
    for (; rows - done >= kBatchRows; done += kBatchRows) {
        for (std::size_t i = 0; i < kBatchRows; ++i) bind(batch, static_cast<int>(i) * columns, done + i);
        step(batch);
    }
    for (; done < rows; ++done) {
        bind(single, 0, done);
        step(single);
    }
}

void ContainerStoreWriter::flush() {
    insertPending(
        pending_.size(), insert_, insertBatch_, 7,
        [this](sqlite3_stmt* statement, int first, std::size_t i) {
            const Pending& pending = pending_[i];
            const std::string_view parts[5] = {pendingPart(pending, 0), pendingPart(pending, 1),
                                               pendingPart(pending, 2), pendingPart(pending, 3),
                                               pendingPart(pending, 4)};
            bindRow(statement, first, pending.row, pending.seq, parts);
        },
        [this] {
            pending_.clear();
            pendingBytes_.clear();
        });
}

void ContainerStoreWriter::writeContent(int64_t row, uint64_t offset, std::string_view bytes) {
    if (bytes.empty()) return;
    flush();
    readBlob_.close();
    sqlite3_blob* blob = nullptr;
    if (sqlite3_blob_open(db_, "main", "entries", "content", row, 1, &blob) != SQLITE_OK) {
        sqlite3_blob_close(blob);
        fail(db_, path_, "cannot write the database");
    }
    const int status = sqlite3_blob_write(blob, bytes.data(), static_cast<int>(bytes.size()), static_cast<int>(offset));
    sqlite3_blob_close(blob);
    if (status != SQLITE_OK) fail(db_, path_, "cannot write the database");
}

void ContainerStoreWriter::remove(int64_t row) {
    flush();
    if (!remove_ && sqlite3_prepare_v2(db_, "DELETE FROM entries WHERE rowid = ?", -1, &remove_, nullptr) != SQLITE_OK)
        fail(db_, path_, "cannot write the database");
    sqlite3_bind_int64(remove_, 1, row);
    step(remove_);
}

void ContainerStoreWriter::readContent(int64_t row, std::string& out) const {
    // The rows not yet inserted are the last ones, in row order.
    if (!pending_.empty() && row >= pending_.front().row) {
        const std::size_t index = static_cast<std::size_t>(row - pending_.front().row);
        if (index >= pending_.size()) fail(db_, path_, "cannot read the database");
        out.append(pendingPart(pending_[index], 4));
        return;
    }
    if (!readBlob_.moveTo(db_, row)) fail(db_, path_, "cannot read the database");
    const int size = sqlite3_blob_bytes(readBlob_.get());
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(size));
    if (sqlite3_blob_read(readBlob_.get(), out.data() + at, size, 0) != SQLITE_OK) {
        out.resize(at);
        readBlob_.close();
        fail(db_, path_, "cannot read the database");
    }
}

void ContainerStoreWriter::ReadBlob::close() {
    if (!blob_) return;
    sqlite3_blob_close(blob_);
    blob_ = nullptr;
}

bool ContainerStoreWriter::ReadBlob::moveTo(sqlite3* db, int64_t row) {
    // An open handle moved to the row reads its content for less than a
    // SELECT's step and reset cost (the build reads every group's entries
    // back after the run); a handle the connection has expired is opened
    // afresh.
    if (blob_ && sqlite3_blob_reopen(blob_, row) != SQLITE_OK) close();
    if (!blob_ && sqlite3_blob_open(db, "main", "entries", "content", row, 0, &blob_) != SQLITE_OK) {
        close();
        return false;
    }
    return true;
}

void ContainerStoreWriter::commit() {
    flush();
    // Indexes built once over the finished table cost less than kept up to
    // date row by row.
    exec("CREATE UNIQUE INDEX entries_by_seq ON entries(container, seq)");
    exec("CREATE INDEX entries_by_key ON entries(container, key)");
    createGroupTables();
    flushGroups();
    exec("COMMIT");
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    sqlite3_finalize(insertBatch_);
    insertBatch_ = nullptr;
    sqlite3_finalize(remove_);
    remove_ = nullptr;
    sqlite3_finalize(insertGroup_);
    insertGroup_ = nullptr;
    sqlite3_finalize(insertGroupBatch_);
    insertGroupBatch_ = nullptr;
    if (sqlite3_close(db_) != SQLITE_OK) fail(db_, path_, "cannot close the database");
    db_ = nullptr;
}

ContainerStoreReader::ContainerStoreReader(const std::string& path) : path_(path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(path + ": cannot open the database (" + message + ")");
    }
    int version = -1;
    try {
        Statement statement(db_, path_, "PRAGMA user_version");
        if (sqlite3_step(statement.get()) == SQLITE_ROW) version = sqlite3_column_int(statement.get(), 0);
    } catch (...) {
        // A file that is not a database: no destructor runs to close it.
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
    version_ = version;
    // Keep the shared lock between statements: a reader that asks for one
    // entry per group would otherwise lock, check and unlock the file each
    // time. The file is read through a page cache of a few megabytes rather
    // than mapped: an incremental build reads most of the previous store,
    // and every page of a mapping it touched would count in its resident
    // memory (900 MiB at 100,000 groups against 510 without).
    sqlite3_exec(db_, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "PRAGMA cache_size=-8192", nullptr, nullptr, nullptr);
    if (version < kOldestContainerStoreVersion || version > kContainerStoreVersion) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(path + ": not a container store this version of split-run reads (schema version " +
                         std::to_string(version) + ", expected " + std::to_string(kContainerStoreVersion) + ")");
    }
    // One read transaction for the reader's life: each statement would
    // otherwise begin and end its own, which costs as much as a lookup by
    // row ID itself.
    sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
}

ContainerStoreReader::~ContainerStoreReader() {
    sqlite3_finalize(groupOutput_);
    sqlite3_finalize(entryByKey_);
    sqlite3_finalize(entryByRow_);
    sqlite3_close(db_);
}

std::vector<std::string> ContainerStoreReader::containers() const {
    Statement statement(db_, path_, "SELECT DISTINCT container FROM entries ORDER BY container");
    std::vector<std::string> names;
    int status;
    while ((status = sqlite3_step(statement.get())) == SQLITE_ROW) names.push_back(columnText(statement.get(), 0));
    if (status != SQLITE_DONE) fail(db_, path_, "cannot read");
    return names;
}

void ContainerStoreReader::forEach(const std::string& container, const std::vector<std::string>& keys,
                                   const std::function<void(const StoredRow&)>& each) const {
    Statement statement(db_, path_,
                        "SELECT seq, key, mime_type, type_id, content FROM entries WHERE container = ?1 "
                        "ORDER BY seq");
    sqlite3_bind_text(statement.get(), 1, container.data(), static_cast<int>(container.size()), SQLITE_STATIC);
    int status;
    StoredRow row;
    row.container = container;
    while ((status = sqlite3_step(statement.get())) == SQLITE_ROW) {
        row.key = columnText(statement.get(), 1);
        if (!keys.empty() && std::find(keys.begin(), keys.end(), row.key) == keys.end()) continue;
        row.seq = sqlite3_column_int64(statement.get(), 0);
        row.mimeType = columnText(statement.get(), 2);
        row.typeId = columnText(statement.get(), 3);
        row.content = columnText(statement.get(), 4);
        each(row);
    }
    if (status != SQLITE_DONE) fail(db_, path_, "cannot read");
}

// The groups and build tables: what the next build needs to reuse this
// one's groups.
void ContainerStoreWriter::createGroupTables() {
    if (insertGroup_) return;
    // The model number is the row ID, which costs the row nothing, and the
    // rows come in its order, so that every page but the last fills.
    exec("CREATE TABLE groups(model INTEGER PRIMARY KEY, split_values TEXT NOT NULL, fingerprint BLOB NOT NULL, "
         "output BLOB NOT NULL)");
    exec("CREATE TABLE build(model_code INTEGER NOT NULL, settings BLOB NOT NULL)");
    std::string sql = "INSERT INTO groups VALUES(?, ?, ?, ?)";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insertGroup_, nullptr) != SQLITE_OK)
        fail(db_, path_, "cannot prepare the insert");
    for (std::size_t i = 1; i < kBatchRows; ++i) sql += ", (?, ?, ?, ?)";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insertGroupBatch_, nullptr) != SQLITE_OK)
        fail(db_, path_, "cannot prepare the insert");
}

void ContainerStoreWriter::addGroup(StoredGroup group) {
    createGroupTables();
    // As with the entries, one statement inserts a batch of rows: its
    // execution cost about as much as the row.
    pendingGroups_.push_back(std::move(group));
    if (pendingGroups_.size() == kBatchRows) flushGroups();
}

void ContainerStoreWriter::flushGroups() {
    insertPending(
        pendingGroups_.size(), insertGroup_, insertGroupBatch_, 4,
        [this](sqlite3_stmt* statement, int first, std::size_t i) {
            const StoredGroup& group = pendingGroups_[i];
            sqlite3_bind_int64(statement, first + 1, group.model);
            sqlite3_bind_text(statement, first + 2, group.splitValues.data(),
                              static_cast<int>(group.splitValues.size()), SQLITE_STATIC);
            sqlite3_bind_blob(statement, first + 3, group.fingerprint.data(),
                              static_cast<int>(group.fingerprint.size()), SQLITE_STATIC);
            sqlite3_bind_blob64(statement, first + 4, group.output.data(), group.output.size(), SQLITE_STATIC);
        },
        [this] { pendingGroups_.clear(); });
}

void ContainerStoreWriter::setBuild(int64_t modelCode, const std::string& settings) {
    createGroupTables();
    exec("DELETE FROM build");
    Statement statement(db_, path_, "INSERT INTO build VALUES(?1, ?2)");
    sqlite3_bind_int64(statement.get(), 1, modelCode);
    sqlite3_bind_blob64(statement.get(), 2, settings.data(), settings.size(), SQLITE_STATIC);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) fail(db_, path_, "cannot write the database");
}

std::optional<std::pair<int64_t, std::string>> ContainerStoreReader::build() const {
    {
        Statement exists(db_, path_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'build'");
        if (sqlite3_step(exists.get()) != SQLITE_ROW) return std::nullopt;
    }
    Statement statement(db_, path_, "SELECT model_code, settings FROM build");
    const int status = sqlite3_step(statement.get());
    if (status == SQLITE_DONE) return std::nullopt;
    if (status != SQLITE_ROW) fail(db_, path_, "cannot read");
    return std::pair(static_cast<int64_t>(sqlite3_column_int64(statement.get(), 0)), columnText(statement.get(), 1));
}

void ContainerStoreReader::forEachGroup(const std::function<void(const StoredGroup&)>& each) const {
    Statement statement(db_, path_, "SELECT model, split_values, fingerprint FROM groups");
    int status;
    StoredGroup group;
    while ((status = sqlite3_step(statement.get())) == SQLITE_ROW) {
        group.model = sqlite3_column_int64(statement.get(), 0);
        group.splitValues = columnText(statement.get(), 1);
        group.fingerprint = columnText(statement.get(), 2);
        each(group);
    }
    if (status != SQLITE_DONE) fail(db_, path_, "cannot read");
}

namespace {

// A statement prepared on first use and kept, reset for the next use when
// the current one ends.
class Reused {
public:
    Reused(sqlite3* db, const std::string& path, sqlite3_stmt*& kept, const char* sql) : statement_(kept) {
        if (!kept && sqlite3_prepare_v2(db, sql, -1, &kept, nullptr) != SQLITE_OK) fail(db, path, "cannot read");
    }
    ~Reused() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Reused(const Reused&) = delete;
    Reused& operator=(const Reused&) = delete;
    sqlite3_stmt* get() const { return statement_; }

private:
    sqlite3_stmt*& statement_;
};

}  // namespace

std::string ContainerStoreReader::groupOutput(int64_t model) const {
    Reused statement(db_, path_, groupOutput_, "SELECT output FROM groups WHERE model = ?1");
    sqlite3_bind_int64(statement.get(), 1, model);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) fail(db_, path_, "cannot read the stored group");
    return columnText(statement.get(), 0);
}

std::optional<std::string> ContainerStoreReader::entryContent(const std::string& container,
                                                              const std::string& key) const {
    // Looked up by key alone, so that SQLite uses the key index; an order by
    // seq would have it walk the whole container in seq order instead.
    Reused statement(db_, path_, entryByKey_, "SELECT seq, content FROM entries WHERE container = ?1 AND key = ?2");
    sqlite3_bind_text(statement.get(), 1, container.data(), static_cast<int>(container.size()), SQLITE_STATIC);
    sqlite3_bind_text(statement.get(), 2, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    std::optional<std::string> first;
    int64_t firstSeq = 0;
    int status;
    while ((status = sqlite3_step(statement.get())) == SQLITE_ROW)
        if (const int64_t seq = sqlite3_column_int64(statement.get(), 0); !first || seq < firstSeq) {
            first = columnText(statement.get(), 1);
            firstSeq = seq;
        }
    if (status != SQLITE_DONE) fail(db_, path_, "cannot read");
    return first;
}

void ContainerStoreReader::forEachEntryKey(const std::string& container,
                                           const std::function<void(const std::string&, int64_t)>& each) const {
    Statement statement(db_, path_, "SELECT key, rowid FROM entries WHERE container = ?1");
    sqlite3_bind_text(statement.get(), 1, container.data(), static_cast<int>(container.size()), SQLITE_STATIC);
    int status;
    while ((status = sqlite3_step(statement.get())) == SQLITE_ROW)
        each(columnText(statement.get(), 0), sqlite3_column_int64(statement.get(), 1));
    if (status != SQLITE_DONE) fail(db_, path_, "cannot read");
}

std::string ContainerStoreReader::entryContentAt(int64_t rowId) const {
    Reused statement(db_, path_, entryByRow_, "SELECT content FROM entries WHERE rowid = ?1");
    sqlite3_bind_int64(statement.get(), 1, rowId);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) fail(db_, path_, "cannot read the stored entry");
    return columnText(statement.get(), 0);
}

}  // namespace refhost
