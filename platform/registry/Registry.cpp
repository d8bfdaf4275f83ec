#include "platform/registry/Registry.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/base/Text.h"

namespace fs = std::filesystem;
using halvard::text::FoldCase;
using halvard::text::Utf16Length;

struct RegKeyHandle {
  std::int64_t id;
  REGSAM sam;
  std::uint64_t epoch;  // store generation the id belongs to
};

namespace {

constexpr std::int64_t kMachineRootId = 1;
constexpr std::int64_t kUserRootId = 2;
constexpr int kBusyTimeoutMs = 15000;
constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxValueNameChars = 16383;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  UNIQUE(parent, fold));
CREATE TABLE IF NOT EXISTS vals(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, fold));
INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES (1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');
INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER');
)sql";

// Thrown inside this file only, to unwind a transaction on a database error; every
// public function catches it and returns the carried code.
struct StoreError {
  LONG code;
};

std::string DefaultPath() {
  if (const char* p = std::getenv("HALVARD_REGISTRY"); p != nullptr && *p != '\0') {
    return p;
  }
  std::string base;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x != '\0') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    base = std::string(h) + "/.local/share";
  } else {
    base = "/tmp";
  }
  return base + "/halvard/registry.db";
}

// The process's one connection. Every access holds m_lock.
class Store {
 public:
  std::recursive_mutex m_lock;

  // Makes the connection usable; throws StoreError when it cannot.
  void Ensure() {
    if (m_db != nullptr && m_pid != getpid()) {
      // A forked child must not touch its parent's connection: forget it unclosed.
      m_db = nullptr;
      m_statements.clear();
      ++m_epoch;
    }
    if (m_db != nullptr) {
      return;
    }
    if (m_path.empty()) {
      m_path = DefaultPath();
    }
    Open();
  }

  void Reset() {
    if (m_userTransaction && m_db != nullptr) {
      sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    m_userTransaction = false;
    if (m_db != nullptr && m_pid == getpid()) {
      for (auto& [sql, stmt] : m_statements) {
        sqlite3_finalize(stmt);
      }
      sqlite3_close_v2(m_db);
    }
    m_statements.clear();
    m_db = nullptr;
    m_path.clear();
    m_lastDiagnostic.clear();
    ++m_epoch;
  }

  [[nodiscard]] std::string Path() {
    if (m_path.empty()) {
      m_path = DefaultPath();
    }
    return m_path;
  }
  [[nodiscard]] std::uint64_t Epoch() const { return m_epoch; }
  [[nodiscard]] bool ReadOnly() const { return m_readOnly; }
  [[nodiscard]] sqlite3* Db() const { return m_db; }

  // Set while a CStoreTransaction of this process is open: calls then run in savepoints
  // inside it instead of transactions of their own.
  bool m_userTransaction = false;

  sqlite3_stmt* Statement(const char* sql) {
    auto it = m_statements.find(sql);
    if (it != m_statements.end()) {
      sqlite3_reset(it->second);
      sqlite3_clear_bindings(it->second);
      return it->second;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
      Fail(sqlite3_errcode(m_db));
    }
    m_statements.emplace(sql, stmt);
    return stmt;
  }

  // Maps an SQLite failure to a result code, reporting damage once.
  [[noreturn]] void Fail(int rc) {
    const int primary = rc & 0xFF;
    if (primary == SQLITE_READONLY) {
      throw StoreError{ERROR_ACCESS_DENIED};
    }
    Diagnose(m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
    throw StoreError{ERROR_REGISTRY_IO_FAILED};
  }

  void Exec(const char* sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) {
      Fail(rc);
    }
  }

  /// Exec for a statement that SQLite may refuse at once with a busy file instead of
  /// waiting through the busy handler: switching to WAL while other processes open the
  /// same file. Tries again every 10 ms for the busy time-out.
  void ExecRetryingBusy(const char* sql) {
    for (int waitedMs = 0;; waitedMs += 10) {
      const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) {
        return;
      }
      if (((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) || waitedMs >= kBusyTimeoutMs) {
        Fail(rc);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  void Diagnose(const std::string& what) {
    std::string line = "halvard: settings store " + m_path + ": " + what;
    if (line != m_lastDiagnostic) {
      std::fprintf(stderr, "%s\n", line.c_str());
      m_lastDiagnostic = line;
    }
  }

  void Open() {
    std::error_code ec;
    const fs::path parent = fs::path(m_path).parent_path();
    if (!parent.empty()) {
      fs::create_directories(parent, ec);
    }
    m_readOnly = false;
    int rc = sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      rc = sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
      m_readOnly = true;
    }
    if (rc != SQLITE_OK) {
      const std::string msg = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      Diagnose(msg);
      throw StoreError{ERROR_REGISTRY_IO_FAILED};
    }
    m_pid = getpid();
    // A read-write open of a file we may only read succeeds as a read-only connection.
    if (sqlite3_db_readonly(m_db, "main") == 1) {
      m_readOnly = true;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 1);
    try {
      if (!m_readOnly) {
        ExecRetryingBusy("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=FULL");
        Exec("BEGIN IMMEDIATE");
        char* err = nullptr;
        rc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, &err);
        sqlite3_free(err);
        if (rc != SQLITE_OK) {
          sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
          // A file we may not write to after all (read-only file in a writable folder).
          if ((rc & 0xFF) != SQLITE_READONLY) {
            Fail(rc);
          }
          m_readOnly = true;
        } else {
          Exec("COMMIT");
        }
      }
      // Proves the file is a readable store of ours (a damaged file fails here).
      Exec("SELECT count(*) FROM keys WHERE id IN (1, 2)");
    } catch (const StoreError& e) {
      if (m_readOnly && e.code == ERROR_ACCESS_DENIED && ReopenImmutable()) {
        m_lastDiagnostic.clear();
        return;
      }
      for (auto& [sql, stmt] : m_statements) {
        sqlite3_finalize(stmt);
      }
      m_statements.clear();
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      throw;
    }
    m_lastDiagnostic.clear();
  }

  // A read-only file in a folder we may not write cannot get the shared-memory file a
  // write-ahead log needs; such a store is read as an immutable file instead.
  bool ReopenImmutable() {
    for (auto& [sql, stmt] : m_statements) {
      sqlite3_finalize(stmt);
    }
    m_statements.clear();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    char* uri = sqlite3_mprintf("file:%s?immutable=1", m_path.c_str());
    const int rc = sqlite3_open_v2(uri, &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_free(uri);
    if (rc == SQLITE_OK &&
        sqlite3_exec(m_db, "SELECT count(*) FROM keys WHERE id IN (1, 2)", nullptr, nullptr, nullptr) == SQLITE_OK) {
      return true;
    }
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    return false;
  }

  sqlite3* m_db = nullptr;
  pid_t m_pid = 0;
  bool m_readOnly = false;
  std::string m_path;
  std::string m_lastDiagnostic;
  std::uint64_t m_epoch = 1;
  std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

Store& TheStore() {
  static Store* store = new Store();  // never destroyed: usable from exit handlers
  return *store;
}

enum class TxnMode { Read, Write };

// One transaction: BEGIN (deferred) for reads, BEGIN IMMEDIATE for writes; inside a
// CStoreTransaction, a savepoint instead. Rolls back unless committed.
class Transaction {
 public:
  Transaction(Store& store, TxnMode mode) : m_store(store), m_nested(store.m_userTransaction) {
    if (mode == TxnMode::Write && store.ReadOnly()) {
      throw StoreError{ERROR_ACCESS_DENIED};
    }
    if (m_nested) {
      store.Exec("SAVEPOINT call");
    } else {
      store.Exec(mode == TxnMode::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    }
    m_open = true;
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction() {
    if (m_open) {
      sqlite3_exec(m_store.Db(), m_nested ? "ROLLBACK TO call; RELEASE call" : "ROLLBACK", nullptr, nullptr,
                   nullptr);
    }
  }
  void Commit() {
    m_store.Exec(m_nested ? "RELEASE call" : "COMMIT");
    m_open = false;
  }

 private:
  Store& m_store;
  bool m_nested;
  bool m_open = false;
};

// A prepared statement in use; resets on destruction so no read lock lingers.
class Query {
 public:
  Query(Store& store, const char* sql) : m_store(store), m_stmt(store.Statement(sql)) {}
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  ~Query() { sqlite3_reset(m_stmt); }

  Query& Bind(int i, std::int64_t v) {
    Check(sqlite3_bind_int64(m_stmt, i, v));
    return *this;
  }
  Query& Bind(int i, std::string_view v) {
    Check(sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Query& BindBlob(int i, const BYTE* data, DWORD size) {
    static const BYTE kEmpty = 0;
    Check(sqlite3_bind_blob(m_stmt, i, size != 0 ? data : &kEmpty, static_cast<int>(size), SQLITE_TRANSIENT));
    return *this;
  }
  bool Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
      return true;
    }
    if (rc == SQLITE_DONE) {
      return false;
    }
    m_store.Fail(rc);
  }
  void Run() {
    while (Step()) {
    }
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(m_stmt, col); }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
    return p != nullptr ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, col))) : std::string();
  }
  std::vector<BYTE> Blob(int col) const {
    const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(m_stmt, col));
    const int n = sqlite3_column_bytes(m_stmt, col);
    return p != nullptr ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) {
      m_store.Fail(rc);
    }
  }
  Store& m_store;
  sqlite3_stmt* m_stmt;
};

// ---- key resolution -------------------------------------------------------------

bool IsPredefined(HKEY key) {
  return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT;
}

bool KeyExists(Store& s, std::int64_t id) {
  Query q(s, "SELECT 1 FROM keys WHERE id = ?");
  q.Bind(1, id);
  return q.Step();
}

std::optional<std::int64_t> FindChild(Store& s, std::int64_t parent, std::string_view name) {
  Query q(s, "SELECT id FROM keys WHERE parent = ? AND fold = ?");
  q.Bind(1, parent).Bind(2, FoldCase(name));
  if (q.Step()) {
    return q.Int(0);
  }
  return std::nullopt;
}

std::int64_t CreateChild(Store& s, std::int64_t parent, std::string_view name) {
  Query q(s, "INSERT INTO keys(parent, name, fold) VALUES (?, ?, ?)");
  q.Bind(1, parent).Bind(2, name).Bind(3, FoldCase(name));
  q.Run();
  return sqlite3_last_insert_rowid(s.Db());
}

// Splits a sub-key path into levels. A trailing '\' is ignored; an empty level
// elsewhere, or a level longer than a key name may be, is an invalid parameter.
std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> levels;
  if (path.empty()) {
    return levels;
  }
  if (path.back() == '\\') {
    path.remove_suffix(1);
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    const std::string_view level = path.substr(start, end == std::string_view::npos ? path.npos : end - start);
    if (level.empty() || Utf16Length(level) > kMaxKeyNameChars) {
      throw StoreError{ERROR_INVALID_PARAMETER};
    }
    levels.push_back(level);
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  return levels;
}

enum class Missing { Fail, Create };

// Resolves a handle to its key id. HKEY_CLASSES_ROOT is Software\Classes below the
// machine root, created on demand for writes.
std::int64_t HandleId(Store& s, HKEY key, Missing missing) {
  if (key == HKEY_LOCAL_MACHINE) {
    return kMachineRootId;
  }
  if (key == HKEY_CURRENT_USER) {
    return kUserRootId;
  }
  if (key == HKEY_CLASSES_ROOT) {
    std::int64_t id = kMachineRootId;
    for (std::string_view level : {std::string_view("Software"), std::string_view("Classes")}) {
      auto child = FindChild(s, id, level);
      if (!child) {
        if (missing == Missing::Fail) {
          throw StoreError{ERROR_FILE_NOT_FOUND};
        }
        child = CreateChild(s, id, level);
      }
      id = *child;
    }
    return id;
  }
  if (key == nullptr) {
    throw StoreError{ERROR_INVALID_HANDLE};
  }
  if (key->epoch != s.Epoch()) {
    throw StoreError{ERROR_INVALID_HANDLE};
  }
  if (!KeyExists(s, key->id)) {
    throw StoreError{ERROR_KEY_DELETED};
  }
  return key->id;
}

void RequireWrite(HKEY key) {
  if (!IsPredefined(key) && key != nullptr && (key->sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) == 0) {
    throw StoreError{ERROR_ACCESS_DENIED};
  }
}

std::int64_t Walk(Store& s, std::int64_t id, std::string_view subKey, Missing missing, bool* created = nullptr) {
  for (std::string_view level : SplitPath(subKey)) {
    auto child = FindChild(s, id, level);
    if (!child) {
      if (missing == Missing::Fail) {
        throw StoreError{ERROR_FILE_NOT_FOUND};
      }
      child = CreateChild(s, id, level);
      if (created != nullptr) {
        *created = true;
      }
    } else if (created != nullptr) {
      *created = false;
    }
    id = *child;
  }
  return id;
}

HKEY NewHandle(Store& s, std::int64_t id, REGSAM sam) {
  return new RegKeyHandle{id, sam == 0 ? KEY_ALL_ACCESS : sam, s.Epoch()};
}

void DeleteSubtree(Store& s, std::int64_t id, bool keepRoot) {
  Query v(s,
          "WITH RECURSIVE t(id) AS (SELECT ? UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent = t.id) "
          "DELETE FROM vals WHERE key IN t");
  v.Bind(1, id);
  v.Run();
  Query k(s,
          "WITH RECURSIVE t(id) AS (SELECT ? UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent = t.id) "
          "DELETE FROM keys WHERE id IN t AND id <> ?");
  k.Bind(1, id).Bind(2, keepRoot ? id : -1);
  k.Run();
}

// Runs body under the store lock; converts StoreError to its code.
template <class Body>
LONG Guarded(Body&& body) {
  Store& s = TheStore();
  std::lock_guard lock(s.m_lock);
  try {
    s.Ensure();
    return body(s);
  } catch (const StoreError& e) {
    return e.code;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

LONG CopyOut(const std::vector<BYTE>& blob, DWORD type, DWORD* typeOut, BYTE* data, DWORD* dataSize) {
  if (typeOut != nullptr) {
    *typeOut = type;
  }
  if (data != nullptr && dataSize == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (dataSize == nullptr) {
    return ERROR_SUCCESS;
  }
  const auto size = static_cast<DWORD>(blob.size());
  if (data == nullptr) {
    *dataSize = size;
    return ERROR_SUCCESS;
  }
  if (*dataSize < size) {
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  if (size != 0) {
    std::memcpy(data, blob.data(), size);
  }
  *dataSize = size;
  return ERROR_SUCCESS;
}

// Copies the tree `from` under parent `toParent` as `toName`, values in order, then
// sub-keys in enumeration order.
void CopyTree(Store& s, std::int64_t from, std::int64_t toParent, std::string_view toName) {
  const std::int64_t to = CreateChild(s, toParent, toName);
  {
    Query q(s,
            "INSERT INTO vals(key, name, fold, type, data) "
            "SELECT ?, name, fold, type, data FROM vals WHERE key = ? ORDER BY seq");
    q.Bind(1, to).Bind(2, from);
    q.Run();
  }
  std::vector<std::pair<std::int64_t, std::string>> children;
  {
    Query q(s, "SELECT id, name FROM keys WHERE parent = ? ORDER BY fold");
    q.Bind(1, from);
    while (q.Step()) {
      children.emplace_back(q.Int(0), q.Text(1));
    }
  }
  for (const auto& [id, name] : children) {
    CopyTree(s, id, to, name);
  }
}

}  // namespace

LONG RegOpenKeyEx(HKEY key, std::string_view subKey, DWORD /*options*/, REGSAM sam, HKEY* result) {
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *result = nullptr;
  return Guarded([&](Store& s) {
    Transaction txn(s, TxnMode::Read);
    const std::int64_t id = Walk(s, HandleId(s, key, Missing::Fail), subKey, Missing::Fail);
    txn.Commit();
    *result = NewHandle(s, id, sam);
    return ERROR_SUCCESS;
  });
}

LONG RegCreateKeyEx(HKEY key, std::string_view subKey, HKEY* result, DWORD* disposition) {
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *result = nullptr;
  if (disposition != nullptr) {
    *disposition = 0;
  }
  return Guarded([&](Store& s) {
    RequireWrite(key);
    Transaction txn(s, TxnMode::Write);
    bool created = false;
    const std::int64_t id = Walk(s, HandleId(s, key, Missing::Create), subKey, Missing::Create, &created);
    txn.Commit();
    if (disposition != nullptr) {
      *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result = NewHandle(s, id, KEY_ALL_ACCESS);
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY key) {
  if (IsPredefined(key)) {
    return ERROR_SUCCESS;
  }
  if (key == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, std::string_view name, DWORD* type, BYTE* data, DWORD* dataSize) {
  if (type != nullptr) {
    *type = REG_NONE;
  }
  return Guarded([&](Store& s) {
    Transaction txn(s, TxnMode::Read);
    const std::int64_t id = HandleId(s, key, Missing::Fail);
    Query q(s, "SELECT type, data FROM vals WHERE key = ? AND fold = ?");
    q.Bind(1, id).Bind(2, FoldCase(name));
    if (!q.Step()) {
      return ERROR_FILE_NOT_FOUND;
    }
    return CopyOut(q.Blob(1), static_cast<DWORD>(q.Int(0)), type, data, dataSize);
  });
}

LONG RegSetValueEx(HKEY key, std::string_view name, DWORD type, const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  if (Utf16Length(name) > kMaxValueNameChars) {
    return ERROR_INVALID_PARAMETER;
  }
  return Guarded([&](Store& s) {
    RequireWrite(key);
    Transaction txn(s, TxnMode::Write);
    const std::int64_t id = HandleId(s, key, Missing::Create);
    Query q(s,
            "INSERT INTO vals(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
            "ON CONFLICT(key, fold) DO UPDATE SET name = ?2, type = ?4, data = ?5");
    q.Bind(1, id).Bind(2, name).Bind(3, FoldCase(name)).Bind(4, type).BindBlob(5, data, size);
    q.Run();
    txn.Commit();
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValue(HKEY key, std::string_view name) {
  return Guarded([&](Store& s) {
    RequireWrite(key);
    Transaction txn(s, TxnMode::Write);
    const std::int64_t id = HandleId(s, key, Missing::Fail);
    Query q(s, "DELETE FROM vals WHERE key = ? AND fold = ?");
    q.Bind(1, id).Bind(2, FoldCase(name));
    q.Run();
    if (sqlite3_changes(s.Db()) == 0) {
      return ERROR_FILE_NOT_FOUND;
    }
    txn.Commit();
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteKey(HKEY key, std::string_view subKey) {
  return Guarded([&](Store& s) {
    RequireWrite(key);
    if (SplitPath(subKey).empty()) {
      return ERROR_INVALID_PARAMETER;  // the handle's own key cannot delete itself this way
    }
    Transaction txn(s, TxnMode::Write);
    const std::int64_t id = Walk(s, HandleId(s, key, Missing::Fail), subKey, Missing::Fail);
    Query q(s, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
    q.Bind(1, id);
    if (q.Step()) {
      return ERROR_ACCESS_DENIED;
    }
    DeleteSubtree(s, id, false);
    txn.Commit();
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteTree(HKEY key, std::string_view subKey) {
  return Guarded([&](Store& s) {
    RequireWrite(key);
    Transaction txn(s, TxnMode::Write);
    const std::int64_t base = HandleId(s, key, Missing::Fail);
    const bool keepRoot = SplitPath(subKey).empty();
    const std::int64_t id = Walk(s, base, subKey, Missing::Fail);
    DeleteSubtree(s, id, keepRoot);
    txn.Commit();
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name) {
  if (name == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  name->clear();
  return Guarded([&](Store& s) {
    Transaction txn(s, TxnMode::Read);
    const std::int64_t id = HandleId(s, key, Missing::Fail);
    Query q(s, "SELECT name FROM keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?");
    q.Bind(1, id).Bind(2, static_cast<std::int64_t>(index));
    if (!q.Step()) {
      return ERROR_NO_MORE_ITEMS;
    }
    *name = q.Text(0);
    return ERROR_SUCCESS;
  });
}

LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type, BYTE* data, DWORD* dataSize) {
  if (name == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  name->clear();
  if (type != nullptr) {
    *type = REG_NONE;
  }
  return Guarded([&](Store& s) {
    Transaction txn(s, TxnMode::Read);
    const std::int64_t id = HandleId(s, key, Missing::Fail);
    Query q(s, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY seq LIMIT 1 OFFSET ?");
    q.Bind(1, id).Bind(2, static_cast<std::int64_t>(index));
    if (!q.Step()) {
      return ERROR_NO_MORE_ITEMS;
    }
    *name = q.Text(0);
    return CopyOut(q.Blob(2), static_cast<DWORD>(q.Int(1)), type, data, dataSize);
  });
}

LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) {
  if (subKeys != nullptr) {
    *subKeys = 0;
  }
  if (values != nullptr) {
    *values = 0;
  }
  return Guarded([&](Store& s) {
    Transaction txn(s, TxnMode::Read);
    const std::int64_t id = HandleId(s, key, Missing::Fail);
    Query k(s, "SELECT (SELECT count(*) FROM keys WHERE parent = ?1), (SELECT count(*) FROM vals WHERE key = ?1)");
    k.Bind(1, id);
    k.Step();
    if (subKeys != nullptr) {
      *subKeys = static_cast<DWORD>(k.Int(0));
    }
    if (values != nullptr) {
      *values = static_cast<DWORD>(k.Int(1));
    }
    return ERROR_SUCCESS;
  });
}

LONG RegMoveTree(HKEY key, std::string_view from, std::string_view to, DWORD maxNameChars, DWORD maxDataBytes) {
  return Guarded([&](Store& s) {
    RequireWrite(key);
    Transaction txn(s, TxnMode::Write);
    const std::int64_t base = HandleId(s, key, Missing::Fail);
    const auto fromLevels = SplitPath(from);
    auto toLevels = SplitPath(to);
    if (fromLevels.empty() || toLevels.empty()) {
      return ERROR_INVALID_PARAMETER;
    }
    const std::int64_t source = Walk(s, base, from, Missing::Fail);
    const std::string_view toName = toLevels.back();
    std::int64_t toParent = base;
    for (std::size_t i = 0; i + 1 < toLevels.size(); ++i) {
      const auto child = FindChild(s, toParent, toLevels[i]);
      if (!child) {
        return ERROR_FILE_NOT_FOUND;
      }
      toParent = *child;
    }
    if (FindChild(s, toParent, toName)) {
      return ERROR_ALREADY_EXISTS;
    }
    // The target's parent must not lie inside the source tree.
    for (std::int64_t p = toParent; p != 0;) {
      if (p == source) {
        return ERROR_INVALID_PARAMETER;
      }
      Query q(s, "SELECT parent FROM keys WHERE id = ?");
      q.Bind(1, p);
      p = q.Step() ? q.Int(0) : 0;
    }
    // Every value must fit the copy buffers, or nothing moves.
    {
      Query q(s,
              "WITH RECURSIVE t(id) AS (SELECT ? UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent = t.id) "
              "SELECT name, length(data) FROM vals WHERE key IN t");
      q.Bind(1, source);
      while (q.Step()) {
        if (Utf16Length(q.Text(0)) >= maxNameChars || static_cast<std::uint64_t>(q.Int(1)) > maxDataBytes) {
          return ERROR_MORE_DATA;
        }
      }
    }
    CopyTree(s, source, toParent, toName);
    DeleteSubtree(s, source, false);
    txn.Commit();
    return ERROR_SUCCESS;
  });
}

halvard::registry::CStoreTransaction::CStoreTransaction() : m_status(ERROR_SUCCESS) {
  Store& s = TheStore();
  s.m_lock.lock();  // held until destruction: the transaction belongs to this thread
  try {
    s.Ensure();
    if (s.m_userTransaction) {
      m_status = ERROR_INVALID_PARAMETER;  // no nesting
      return;
    }
    if (s.ReadOnly()) {
      m_status = ERROR_ACCESS_DENIED;
      return;
    }
    s.Exec("BEGIN IMMEDIATE");
    s.m_userTransaction = true;
    m_open = true;
  } catch (const StoreError& e) {
    m_status = e.code;
  }
}

LONG halvard::registry::CStoreTransaction::Commit() {
  if (!m_open) {
    return m_status != ERROR_SUCCESS ? m_status : ERROR_INVALID_PARAMETER;
  }
  Store& s = TheStore();
  m_open = false;
  s.m_userTransaction = false;
  try {
    s.Exec("COMMIT");
    return ERROR_SUCCESS;
  } catch (const StoreError& e) {
    sqlite3_exec(s.Db(), "ROLLBACK", nullptr, nullptr, nullptr);
    return e.code;
  }
}

halvard::registry::CStoreTransaction::~CStoreTransaction() {
  Store& s = TheStore();
  if (m_open && s.m_userTransaction && s.Db() != nullptr) {
    sqlite3_exec(s.Db(), "ROLLBACK", nullptr, nullptr, nullptr);
    s.m_userTransaction = false;
  }
  s.m_lock.unlock();
}

namespace halvard::registry {

std::string StorePath() {
  Store& s = TheStore();
  std::lock_guard lock(s.m_lock);
  return s.Path();
}

void ResetStore() {
  Store& s = TheStore();
  std::lock_guard lock(s.m_lock);
  s.Reset();
}

const char* ErrorName(LONG code) {
  switch (code) {
    case ERROR_SUCCESS: return "ERROR_SUCCESS";
    case ERROR_FILE_NOT_FOUND: return "ERROR_FILE_NOT_FOUND";
    case ERROR_ACCESS_DENIED: return "ERROR_ACCESS_DENIED";
    case ERROR_INVALID_HANDLE: return "ERROR_INVALID_HANDLE";
    case ERROR_OUTOFMEMORY: return "ERROR_OUTOFMEMORY";
    case ERROR_INVALID_PARAMETER: return "ERROR_INVALID_PARAMETER";
    case ERROR_ALREADY_EXISTS: return "ERROR_ALREADY_EXISTS";
    case ERROR_MORE_DATA: return "ERROR_MORE_DATA";
    case ERROR_NO_MORE_ITEMS: return "ERROR_NO_MORE_ITEMS";
    case ERROR_REGISTRY_IO_FAILED: return "ERROR_REGISTRY_IO_FAILED";
    case ERROR_KEY_DELETED: return "ERROR_KEY_DELETED";
    default: return "ERROR_UNKNOWN";
  }
}

}  // namespace halvard::registry
