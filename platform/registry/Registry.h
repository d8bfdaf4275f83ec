#pragma once
/// The settings store: a registry of keys and typed values with the Windows calling
/// shape, kept in one SQLite database that every process of the workstation shares.
///
/// Semantics:
/// - Three roots: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT, the
///   last being HKEY_LOCAL_MACHINE\Software\Classes.
/// - Key and value names are case-insensitive and case-preserving; paths use '\'.
///   A key name may not be empty nor contain '\'. Value names may contain anything;
///   the empty name is the key's default value.
/// - Sub-keys enumerate in case-insensitive alphabetical order; values in creation
///   order (overwriting a value keeps its place).
/// - Data is kept byte for byte with its type and size; a value of size 0 can exist.
///   REG_SZ data is a UTF-16LE string with its terminator, (n + 1) x 2 bytes for n
///   characters, exactly as the Windows design sizes it; text::ToWideBytes and
///   text::FromWideBytes convert.
/// - Every call is one transaction. Writes take the database's write lock at once
///   (BEGIN IMMEDIATE) and wait for other writers up to the busy time-out, so
///   read-modify-write sequences inside one call never lose updates between
///   processes. Committed writes survive a killed process.
/// - Handles stay valid while their key exists; a call through a handle whose key
///   was deleted (by this or another process) fails with ERROR_KEY_DELETED.
///
/// Threads: every function may be called from any thread; calls are serialised on
/// the process's one connection.
///
/// The database is $HALVARD_REGISTRY, else
/// ${XDG_DATA_HOME:-$HOME/.local/share}/halvard/registry.db. A missing file (and its
/// folder) is created on first use. A file that cannot be opened or is damaged makes
/// every call fail with ERROR_REGISTRY_IO_FAILED and prints one diagnostic line on
/// standard error; a read-only file serves reads and fails writes with
/// ERROR_ACCESS_DENIED.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/WinTypes.h"

struct RegKeyHandle;
using HKEY = RegKeyHandle*;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Access masks: accepted for the Windows shape. KEY_READ handles refuse writes.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Dispositions of RegCreateKeyEx.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Result codes (Windows system error codes).
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
constexpr LONG ERROR_KEY_DELETED = 1018;

/// Opens an existing key. subKey may be empty (a new handle to `key`) and may hold
/// several levels. Results: ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when a level is
/// missing; ERROR_INVALID_HANDLE; ERROR_INVALID_PARAMETER for an empty level
/// ("a\\b"); ERROR_KEY_DELETED; ERROR_REGISTRY_IO_FAILED.
[[nodiscard]] LONG RegOpenKeyEx(HKEY key, std::string_view subKey, DWORD options, REGSAM sam, HKEY* result);

/// Opens a key, creating every missing level in one transaction. disposition (may be
/// null) tells whether the last level was created. Results as RegOpenKeyEx, plus
/// ERROR_ACCESS_DENIED on a read-only store.
[[nodiscard]] LONG RegCreateKeyEx(HKEY key, std::string_view subKey, HKEY* result, DWORD* disposition = nullptr);

/// Releases a handle. The predefined roots may be closed and stay usable.
LONG RegCloseKey(HKEY key);

/// Reads a value. With data == nullptr only the type and size are returned. When
/// *dataSize is smaller than the value, ERROR_MORE_DATA is returned with *dataSize
/// set to the size needed and nothing copied. type may be null.
/// Results: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no such value), ERROR_MORE_DATA,
/// ERROR_INVALID_PARAMETER (dataSize null with data set), handle errors.
[[nodiscard]] LONG RegQueryValueEx(HKEY key, std::string_view name, DWORD* type, BYTE* data, DWORD* dataSize);

/// Creates or replaces a value; a replaced value keeps its enumeration position and
/// takes the new name spelling. data may be null when size is 0.
[[nodiscard]] LONG RegSetValueEx(HKEY key, std::string_view name, DWORD type, const BYTE* data, DWORD size);

/// Deletes one value. ERROR_FILE_NOT_FOUND when it does not exist.
[[nodiscard]] LONG RegDeleteValue(HKEY key, std::string_view name);

/// Deletes a key that has no sub-keys (its values go with it). ERROR_ACCESS_DENIED
/// when it has sub-keys, ERROR_FILE_NOT_FOUND when it is missing.
[[nodiscard]] LONG RegDeleteKey(HKEY key, std::string_view subKey);

/// Deletes a key with all its sub-keys and values in one transaction. With an empty
/// subKey, deletes the sub-keys and values of `key` but keeps `key` itself.
[[nodiscard]] LONG RegDeleteTree(HKEY key, std::string_view subKey);

/// The index-th sub-key name in case-insensitive order; ERROR_NO_MORE_ITEMS past the end.
[[nodiscard]] LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name);

/// The index-th value in creation order; ERROR_NO_MORE_ITEMS past the end. data and
/// dataSize behave as in RegQueryValueEx (ERROR_MORE_DATA still returns the name).
[[nodiscard]] LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type, BYTE* data, DWORD* dataSize);

/// Numbers of sub-keys and values (either pointer may be null).
[[nodiscard]] LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* values);

/// Moves the key tree `from` to `to` (both below `key`) in one transaction: refused
/// with ERROR_FILE_NOT_FOUND when the source cannot be opened and ERROR_ALREADY_EXISTS
/// when the target exists (which includes a target that differs only in case).
/// Values keep their order, types and data; every level of `to` but the last must
/// exist. A value whose name exceeds maxNameChars UTF-16 units or whose data exceeds
/// maxDataBytes cannot be copied: the move is then refused with ERROR_MORE_DATA and
/// nothing changes. Moving a key into its own sub-tree gives ERROR_INVALID_PARAMETER.
[[nodiscard]] LONG RegMoveTree(HKEY key, std::string_view from, std::string_view to, DWORD maxNameChars = 256,
                               DWORD maxDataBytes = 7680);

namespace halvard::registry {

/// The database path this process uses (resolved from the environment at first use).
[[nodiscard]] std::string StorePath();

/// Closes the process's connection and forgets the path; the next call opens the
/// store named by the environment at that time. For tests and tools. Handles opened
/// before stay open but fail with ERROR_KEY_DELETED if their key is gone afterwards.
void ResetStore();

/// A short text for a result code ("ERROR_FILE_NOT_FOUND").
[[nodiscard]] const char* ErrorName(LONG code);

/// Makes a sequence of calls atomic across processes: while the object lives, every
/// Reg* call of this thread runs inside one write transaction that holds the store's
/// write lock (other processes' writers wait; readers see the state before it), and
/// other threads of the process wait for it to end. Use it for read-modify-write
/// sequences. A call that fails inside it undoes only its own changes.
///
/// Begin: ERROR_SUCCESS, ERROR_ACCESS_DENIED (read-only store), ERROR_REGISTRY_IO_FAILED.
/// Commit: ERROR_SUCCESS or ERROR_REGISTRY_IO_FAILED; without a successful Commit the
/// destructor rolls everything back.
class CStoreTransaction {
 public:
  CStoreTransaction();
  ~CStoreTransaction();
  CStoreTransaction(const CStoreTransaction&) = delete;
  CStoreTransaction& operator=(const CStoreTransaction&) = delete;

  /// Result of starting the transaction.
  [[nodiscard]] LONG Status() const { return m_status; }
  [[nodiscard]] LONG Commit();

 private:
  LONG m_status;
  bool m_open = false;
};

}  // namespace halvard::registry
