// A run's output containers in one SQLite database file: one row per entry
// in the table
//
//   entries(container, seq, key, mime_type, type_id, content)
//
// where seq is the entry's write order within its container (from 1), key,
// mime_type and type_id are text exactly as the module gave them, and
// content the entry's bytes. The default (root) entry is a row like the
// others. The database's user_version is the schema version.
//
// Since version 2 the database also describes the build that wrote it, so
// that the next build can reuse what did not change (version 3 is the
// layout below; version 2's groups rows are not read):
//
//   groups(model, split_values, fingerprint, output)
//   build(model_code, settings)
//
// with one groups row per group worked on: its model number (the row ID:
// the n of its model ID model-000n), its split values as groups.csv writes
// them, a 16-byte fingerprint of everything its model depends on, and what
// its worker handed back (opaque to the store). The one build row holds the
// version of the model code and the encoded model settings the build used.
#ifndef REFHOST_CONTAINER_STORE_H
#define REFHOST_CONTAINER_STORE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_blob;

namespace refhost {

// Where a container's keyed entries go once they are finished, instead of
// the container's spool file: a host that keeps its outputs in a database
// (the store below) stores each entry there as its stream is closed, and
// reads it back from there when it is asked for, so that nothing is written
// twice. Thread-safe (containers of several threads share one sink). No method
// throws: a failure is kept by the sink, whose owner reports it once the
// run is over (an entry that could not be stored reads back empty).
class EntrySink {
public:
    virtual ~EntrySink() = default;

    // The next position in write order within the containers named
    // `container`, taken when an entry is opened, so that entries keep
    // the order they were opened in whatever order they are closed in.
    virtual int64_t reserve(const std::string& container) = 0;
    // Stores an entry of `length` bytes, the first of which are `head`
    // (usually all of them); the rest follow through write(). Returns the
    // entry's handle, or -1 on failure.
    virtual int64_t store(const std::string& container, int64_t seq, const std::string& key,
                          const std::string& properties, uint64_t length, std::string_view head) = 0;
    // Writes bytes of a stored entry at `offset`, within its length.
    virtual bool write(int64_t handle, uint64_t offset, std::string_view bytes) = 0;
    // The bytes of a stored entry, appended to `out`; false on failure.
    virtual bool read(int64_t handle, std::string& out) const = 0;
    // Removes a stored entry, whose handle is not used again: one stored
    // whole from a single large write that more writes then followed.
    // False on failure.
    virtual bool withdraw(int64_t handle) = 0;
    // Notes a failure on the container's side (its spool could not be read
    // back while an entry was copied from it), kept like the sink's own.
    virtual void fail(const std::string& what) = 0;
};


// The schema version this host writes and reads.
constexpr int kContainerStoreVersion = 3;
// The oldest schema version this host still reads (entries only).
constexpr int kOldestContainerStoreVersion = 1;
// The oldest schema version whose groups rows this host reads.
constexpr int kOldestGroupsVersion = 3;

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

// One row of the groups table.
struct StoredGroup {
    int64_t model = 0;  // from 1, unique
    std::string splitValues;
    std::string fingerprint;  // 16 bytes
    std::string output;
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
    // Adds an entry at position `seq` of `container` whose content is
    // `length` bytes, the first of which are `head` (the rest zero until
    // written with writeContent). Returns its row ID. Throws StoreError.
    // Whole entries are inserted kBatchRows at a time (readContent finds
    // them before that), so a failure may surface in a later call.
    int64_t insert(const std::string& container, int64_t seq, const std::string& key, const std::string& mimeType,
                   const std::string& typeId, uint64_t length, std::string_view head);
    // Writes bytes into the content of row `row` at `offset`, within its
    // length. Throws StoreError.
    void writeContent(int64_t row, uint64_t offset, std::string_view bytes);
    // Deletes row `row` of entries. Throws StoreError.
    void remove(int64_t row);
    // The content of row `row`, as written so far, appended to `out`.
    // Throws StoreError.
    void readContent(int64_t row, std::string& out) const;
    // Adds a row to the groups table (rows are best added in model order,
    // which is the table's order). Rows are inserted kBatchRows at a time,
    // so a failure may surface in a later call.
    void addGroup(StoredGroup group);
    // Sets the build row (the last call wins).
    void setBuild(int64_t modelCode, const std::string& settings);
    // Builds the indexes, commits and closes the file. Throws StoreError.
    void commit();

private:
    // An entry waiting to be inserted: its row ID and seq, and where its
    // container, key, MIME type, type ID and content lie in pendingBytes_.
    struct Pending {
        int64_t row = 0;
        int64_t seq = 0;
        std::size_t at = 0;
        std::size_t lengths[5] = {};
    };
    static constexpr std::size_t kBatchRows = 16;
    // A whole entry this large is written in place from the caller's bytes
    // rather than copied to wait for a batch: a statement costs little
    // beside it.
    static constexpr std::size_t kDirectBytes = std::size_t{1} << 20;
    // Sets the pragmas, creates the table and prepares the inserts.
    void create();
    // Finalises every statement and closes the connection.
    void release();
    // Every write to the database goes through exec, step or
    // writeContent, and each closes the read handle first.
    void exec(const char* sql);
    void createGroupTables();
    void bindRow(sqlite3_stmt* statement, int first, int64_t row, int64_t seq, const std::string_view (&parts)[5]);
    void step(sqlite3_stmt* statement);
    std::string_view pendingPart(const Pending& pending, int part) const;
    // Inserts `rows` pending rows, kBatchRows to a `batch` statement and
    // the rest one to a `single` one, `bind(statement, first, i)` binding
    // row i from parameter first + 1; then, whatever happened, `drop()`.
    template <typename Bind, typename Drop>
    void insertPending(std::size_t rows, sqlite3_stmt* single, sqlite3_stmt* batch, int columns, const Bind& bind,
                       const Drop& drop);
    // Inserts the pending entries.
    void flush();
    // Inserts the pending groups rows.
    void flushGroups();
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* insertBatch_ = nullptr;  // kBatchRows rows at once
    sqlite3_stmt* remove_ = nullptr;       // prepared on the first remove()
    int64_t lastRow_ = 0;
    std::vector<Pending> pending_;
    std::string pendingBytes_;
    sqlite3_stmt* insertGroup_ = nullptr;
    sqlite3_stmt* insertGroupBatch_ = nullptr;  // kBatchRows rows at once
    std::vector<StoredGroup> pendingGroups_;
    // The blob handle readContent moves from row to row, closed by its
    // destructor and before any write (a write may expire it).
    class ReadBlob {
    public:
        ReadBlob() = default;
        ~ReadBlob() { close(); }
        ReadBlob(const ReadBlob&) = delete;
        ReadBlob& operator=(const ReadBlob&) = delete;
        void close();
        // Moves the handle to row `row` of entries, opening it when it is
        // closed or expired; false when the row cannot be read.
        bool moveTo(sqlite3* db, int64_t row);
        sqlite3_blob* get() const { return blob_; }

    private:
        sqlite3_blob* blob_ = nullptr;
    };
    mutable ReadBlob readBlob_;
    std::string path_;
    std::vector<std::pair<std::string, int64_t>> nextSeq_;
};

// Reads a database written by ContainerStoreWriter. Not thread-safe.
class ContainerStoreReader {
public:
    // Opens the file read-only; throws StoreError when it is not a
    // container store of a version this host reads.
    explicit ContainerStoreReader(const std::string& path);
    ~ContainerStoreReader();
    ContainerStoreReader(const ContainerStoreReader&) = delete;
    ContainerStoreReader& operator=(const ContainerStoreReader&) = delete;

    // The schema version of the file.
    int version() const { return version_; }
    // The build row; nullopt when the file has none (version 1, or a
    // database that lacks the table). Throws StoreError.
    std::optional<std::pair<int64_t, std::string>> build() const;
    // Calls `each` with every groups row, its output left empty (see
    // groupOutput). Throws StoreError, also when there is no groups table.
    void forEachGroup(const std::function<void(const StoredGroup&)>& each) const;
    // The output of the groups row of model number `model`. Throws
    // StoreError.
    std::string groupOutput(int64_t model) const;
    // The content of the first entry of `container` with that key; nullopt
    // when there is none. Throws StoreError.
    std::optional<std::string> entryContent(const std::string& container, const std::string& key) const;
    // Calls `each` with the key and row ID of every entry of `container`, in
    // key order, from the key index alone (no content is read). Throws
    // StoreError.
    void forEachEntryKey(const std::string& container,
                         const std::function<void(const std::string& key, int64_t rowId)>& each) const;
    // The content of the entry at row `rowId` (see forEachEntryKey): one
    // lookup by row ID where entryContent searches the key index first.
    // Throws StoreError, also when there is no such row.
    std::string entryContentAt(int64_t rowId) const;
    // The container names, sorted.
    std::vector<std::string> containers() const;
    // Calls `each` for the entries of `container` in write order; with keys
    // given, only for entries whose key is one of them.
    void forEach(const std::string& container, const std::vector<std::string>& keys,
                 const std::function<void(const StoredRow&)>& each) const;

private:
    sqlite3* db_ = nullptr;
    std::string path_;
    int version_ = 0;
    // Kept between calls of groupOutput and entryContent.
    mutable sqlite3_stmt* groupOutput_ = nullptr;
    mutable sqlite3_stmt* entryByKey_ = nullptr;
    mutable sqlite3_stmt* entryByRow_ = nullptr;
};

}  // namespace refhost

#endif
