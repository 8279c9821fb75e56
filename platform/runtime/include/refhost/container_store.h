// A run's output containers in one SQLite database file: one row per entry
// in the table
//
//   entries(container, seq, key, mime_type, type_id, content)
//
// where seq is the entry's write order within its container (from 1), key,
// mime_type and type_id are text exactly as the module gave them, and
// content the entry's bytes. The default (root) entry is a row like the
// others. The database's user_version is the schema version.
#ifndef REFHOST_CONTAINER_STORE_H
#define REFHOST_CONTAINER_STORE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace refhost {

// The schema version this host writes and reads.
constexpr int kContainerStoreVersion = 1;

// A failure of the database, with SQLite's message.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct StoredRow {
    std::string container;
    int64_t seq = 0;
    std::string key;
    std::string mimeType;
    std::string typeId;
    std::string content;
};

// Writes a new database. Every row goes in one transaction, which commit()
// ends; a writer destroyed without commit() leaves an incomplete file that
// the caller discards. Not thread-safe.
class ContainerStoreWriter {
public:
    // Creates the file (which must not exist) and its schema. Throws
    // StoreError.
    explicit ContainerStoreWriter(const std::string& path);
    ~ContainerStoreWriter();
    ContainerStoreWriter(const ContainerStoreWriter&) = delete;
    ContainerStoreWriter& operator=(const ContainerStoreWriter&) = delete;

    // Appends an entry to `container`, after those added to it before.
    void add(const std::string& container, const std::string& key, const std::string& mimeType,
             const std::string& typeId, const std::string& content);
    // Builds the indexes, commits and closes the file. Throws StoreError.
    void commit();

private:
    void exec(const char* sql);
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    std::string path_;
    std::vector<std::pair<std::string, int64_t>> nextSeq_;
};

// Reads a database written by ContainerStoreWriter.
class ContainerStoreReader {
public:
    // Opens the file read-only; throws StoreError when it is not a
    // container store of a version this host reads.
    explicit ContainerStoreReader(const std::string& path);
    ~ContainerStoreReader();
    ContainerStoreReader(const ContainerStoreReader&) = delete;
    ContainerStoreReader& operator=(const ContainerStoreReader&) = delete;

    // The container names, sorted.
    std::vector<std::string> containers() const;
    // Calls `each` for the entries of `container` in write order; with keys
    // given, only for entries whose key is one of them.
    void forEach(const std::string& container, const std::vector<std::string>& keys,
                 const std::function<void(const StoredRow&)>& each) const;

private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

}  // namespace refhost

#endif
