#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

using halvard::testing::ScopedRegistry;
using halvard::testing::TempDir;

namespace {

// Owns a key handle in tests.
struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h != nullptr) {
      RegCloseKey(h);
    }
  }
};

void SetDword(HKEY key, const char* name, DWORD v) {
  ASSERT_EQ(RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v), ERROR_SUCCESS);
}

void SetString(HKEY key, const char* name, const std::string& text) {
  const auto bytes = halvard::text::ToWideBytes(text);
  ASSERT_EQ(RegSetValueEx(key, name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
}

std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(key, i, &name) == ERROR_SUCCESS; ++i) {
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> Values(HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; RegEnumValue(key, i, &name, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
    names.push_back(name);
  }
  return names;
}

class RegistryTest : public ::testing::Test {
 protected:
  ScopedRegistry m_store;
};

}  // namespace

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndCasePreserving) {
  Key a;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Tesmark\\Camera Group", &a.h, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
  Key b;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\tesmark\\CAMERA GROUP", &b.h, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
  SetDword(a.h, "Card Screen", 2);

  DWORD v = 0;
  DWORD size = sizeof v;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueEx(b.h, "CARD SCREEN", &type, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 2u);
  EXPECT_EQ(type, REG_DWORD);

  Key parent;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\TESMARK", 0, KEY_READ, &parent.h), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(parent.h), std::vector<std::string>{"Camera Group"});  // first spelling kept
  // Rewriting a value under another spelling keeps its place and takes the new spelling.
  SetDword(a.h, "Other", 1);
  SetDword(a.h, "card SCREEN", 3);
  EXPECT_EQ(Values(a.h), (std::vector<std::string>{"card SCREEN", "Other"}));
}

TEST_F(RegistryTest, SubKeysSortCaseInsensitivelyAndValuesKeepCreationOrder) {
  Key k;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Order", &k.h), ERROR_SUCCESS);
  for (const char* name : {"beta", "Alpha", "gamma", "BETA2", "alpha1"}) {
    Key child;
    ASSERT_EQ(RegCreateKeyEx(k.h, name, &child.h), ERROR_SUCCESS);
  }
  EXPECT_EQ(SubKeys(k.h), (std::vector<std::string>{"Alpha", "alpha1", "beta", "BETA2", "gamma"}));

  for (const char* name : {"zeta", "Alpha", "mu"}) {
    SetDword(k.h, name, 1);
  }
  ASSERT_EQ(RegDeleteValue(k.h, "Alpha"), ERROR_SUCCESS);
  SetDword(k.h, "beta", 1);
  EXPECT_EQ(Values(k.h), (std::vector<std::string>{"zeta", "mu", "beta"}));
  DWORD subKeys = 0;
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKey(k.h, &subKeys, &values), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 5u);
  EXPECT_EQ(values, 3u);
}

TEST_F(RegistryTest, DataKeepsItsTypeAndExactSize) {
  Key k;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Sizes", &k.h), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(k.h, "Empty DWORD", REG_DWORD, nullptr, 0), ERROR_SUCCESS);
  const BYTE two[2] = {1, 2};
  ASSERT_EQ(RegSetValueEx(k.h, "Short", REG_DWORD, two, 2), ERROR_SUCCESS);
  SetString(k.h, "Name", "Input 2");
  std::vector<BYTE> mark(720, 0xA5);
  ASSERT_EQ(RegSetValueEx(k.h, "Motion Mark", REG_BINARY, mark.data(), 720), ERROR_SUCCESS);

  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueEx(k.h, "Empty DWORD", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 0u);
  ASSERT_EQ(RegQueryValueEx(k.h, "Short", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
  ASSERT_EQ(RegQueryValueEx(k.h, "Name", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, (7u + 1u) * 2u);  // wide characters with the terminator

  std::vector<BYTE> back(720);
  size = 720;
  ASSERT_EQ(RegQueryValueEx(k.h, "Motion Mark", &type, back.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(back, mark);

  // A buffer too small: ERROR_MORE_DATA, the needed size, nothing copied.
  std::vector<BYTE> small(200, 0);
  size = 200;
  EXPECT_EQ(RegQueryValueEx(k.h, "Motion Mark", &type, small.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 720u);
  EXPECT_EQ(small, std::vector<BYTE>(200, 0));

  EXPECT_EQ(RegQueryValueEx(k.h, "Missing", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(k.h, "Name", &type, small.data(), nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, PathsAreValidated) {
  Key k;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\\\Twice", &k.h), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "\\Leading", &k.h), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, std::string(256, 'x'), &k.h), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(k.h, nullptr);
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Trailing\\", &k.h), ERROR_SUCCESS);
  Key o;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Trailing", 0, KEY_READ, &o.h), ERROR_SUCCESS);
  Key missing;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Nope\\Deeper", 0, KEY_READ, &missing.h),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing.h, nullptr);
  EXPECT_EQ(RegOpenKeyEx(nullptr, "Software", 0, KEY_READ, &missing.h), ERROR_INVALID_HANDLE);
  // Value names may hold backslashes: they are not paths.
  SetDword(k.h, "a\\b", 1);
  EXPECT_EQ(Values(k.h), std::vector<std::string>{"a\\b"});
}

TEST_F(RegistryTest, ClassesRootIsSoftwareClassesOfTheMachine) {
  Key none;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &none.h), ERROR_FILE_NOT_FOUND);
  Key cls;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32", &cls.h), ERROR_SUCCESS);
  SetString(cls.h, "", "/lib/x.so");
  Key same;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{x}\\InprocServer32", 0, KEY_READ, &same.h),
            ERROR_SUCCESS);
  EXPECT_EQ(Values(same.h), std::vector<std::string>{""});
  // The user root is separate from the machine root.
  Key user;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Classes", 0, KEY_READ, &user.h), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, DeletingKeysAndStaleHandles) {
  Key k;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Del\\Child\\Grandchild", &k.h), ERROR_SUCCESS);
  SetDword(k.h, "v", 1);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\Del\\Child"), ERROR_ACCESS_DENIED);  // has sub-keys
  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Del\\Child"), ERROR_SUCCESS);
  // The handle outlives its key: every call through it says so, none crashes.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueEx(k.h, "v", nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueEx(k.h, "w", REG_DWORD, nullptr, 0), ERROR_KEY_DELETED);
  Key again;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Del\\Child\\Grandchild", &again.h), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(k.h, "v", nullptr, nullptr, &size), ERROR_KEY_DELETED);  // ids are never reused
  EXPECT_EQ(RegQueryValueEx(again.h, "v", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);

  // An empty sub-key path clears the key's contents but keeps the key.
  Key del;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Del", 0, KEY_ALL_ACCESS, &del.h), ERROR_SUCCESS);
  SetDword(del.h, "x", 1);
  ASSERT_EQ(RegDeleteTree(del.h, ""), ERROR_SUCCESS);
  DWORD subKeys = 9;
  DWORD values = 9;
  ASSERT_EQ(RegQueryInfoKey(del.h, &subKeys, &values), ERROR_SUCCESS);
  EXPECT_EQ(subKeys + values, 0u);
  EXPECT_EQ(RegDeleteValue(del.h, "x"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Nothing"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ReadHandlesRefuseWrites) {
  Key w;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Ro", &w.h), ERROR_SUCCESS);
  Key r;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Ro", 0, KEY_READ, &r.h), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueEx(r.h, "v", REG_DWORD, nullptr, 0), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Values(w.h).size(), 0u);
}

TEST_F(RegistryTest, MoveTreeKeepsOrderAndRefusesExistingTargets) {
  Key src;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\G\\Input 1", &src.h), ERROR_SUCCESS);
  SetDword(src.h, "Zed", 1);
  SetString(src.h, "Alpha", "a");
  ASSERT_EQ(RegSetValueEx(src.h, "Empty", REG_DWORD, nullptr, 0), ERROR_SUCCESS);
  Key day;
  ASSERT_EQ(RegCreateKeyEx(src.h, "2026-12-07\\file.wmv", &day.h), ERROR_SUCCESS);
  Key other;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\G\\Input 2", &other.h), ERROR_SUCCESS);

  // Onto an existing key, in any letter case: refused, nothing changes.
  EXPECT_EQ(RegMoveTree(HKEY_LOCAL_MACHINE, "Software\\G\\Input 1", "Software\\G\\INPUT 2"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(RegMoveTree(HKEY_LOCAL_MACHINE, "Software\\G\\Input 1", "Software\\G\\input 1"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(RegMoveTree(HKEY_LOCAL_MACHINE, "Software\\G\\Missing", "Software\\G\\New"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegMoveTree(HKEY_LOCAL_MACHINE, "Software\\G\\Input 1", "Software\\G\\Input 1\\2026-12-07\\Inside"),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Values(src.h), (std::vector<std::string>{"Zed", "Alpha", "Empty"}));

  ASSERT_EQ(RegMoveTree(HKEY_LOCAL_MACHINE, "Software\\G\\Input 1", "Software\\G\\Door"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(src.h, "Zed", nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  Key moved;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\G\\Door", 0, KEY_READ, &moved.h), ERROR_SUCCESS);
  EXPECT_EQ(Values(moved.h), (std::vector<std::string>{"Zed", "Alpha", "Empty"}));
  DWORD size = 99;
  ASSERT_EQ(RegQueryValueEx(moved.h, "Empty", nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);
  Key file;
  EXPECT_EQ(RegOpenKeyEx(moved.h, "2026-12-07\\file.wmv", 0, KEY_READ, &file.h), ERROR_SUCCESS);
  Key g;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\G", 0, KEY_READ, &g.h), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(g.h), (std::vector<std::string>{"Door", "Input 2"}));
}

TEST_F(RegistryTest, MoveTreeThatCannotCopyAValueChangesNothing) {
  Key src;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\M\\A\\Deep", &src.h), ERROR_SUCCESS);
  SetDword(src.h, "small", 1);
  std::vector<BYTE> big(7681, 1);
  ASSERT_EQ(RegSetValueEx(src.h, "big", REG_BINARY, big.data(), 7681), ERROR_SUCCESS);
  EXPECT_EQ(RegMoveTree(HKEY_LOCAL_MACHINE, "Software\\M\\A", "Software\\M\\B"), ERROR_MORE_DATA);
  Key b;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\M\\B", 0, KEY_READ, &b.h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Values(src.h), (std::vector<std::string>{"small", "big"}));
  // Exactly at the buffer sizes it moves.
  ASSERT_EQ(RegSetValueEx(src.h, "big", REG_BINARY, big.data(), 7680), ERROR_SUCCESS);
  SetDword(src.h, std::string(255, 'n').c_str(), 1);
  EXPECT_EQ(RegMoveTree(HKEY_LOCAL_MACHINE, "Software\\M\\A", "Software\\M\\B"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, StoreTransactionMakesReadModifyWriteAtomicAndRollsBack) {
  {
    halvard::registry::CStoreTransaction txn;
    ASSERT_EQ(txn.Status(), ERROR_SUCCESS);
    Key k;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\T", &k.h), ERROR_SUCCESS);
    SetDword(k.h, "n", 1);
    // A failing call inside undoes only itself.
    Key bad;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\T\\\\x", &bad.h), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(txn.Commit(), ERROR_SUCCESS);
  }
  {
    halvard::registry::CStoreTransaction txn;
    Key k;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\T", 0, KEY_ALL_ACCESS, &k.h), ERROR_SUCCESS);
    SetDword(k.h, "n", 2);
    // no Commit: rolled back
  }
  Key k;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\T", 0, KEY_READ, &k.h), ERROR_SUCCESS);
  DWORD v = 0;
  DWORD size = sizeof v;
  ASSERT_EQ(RegQueryValueEx(k.h, "n", nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 1u);
}

TEST(RegistryStore, MissingFolderIsCreated) {
  TempDir dir;
  const std::string path = dir.File("a/b/c/registry.db");
  setenv("HALVARD_REGISTRY", path.c_str(), 1);
  halvard::registry::ResetStore();
  Key k;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\X", &k.h), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(halvard::registry::StorePath(), path);
  RegCloseKey(k.h);
  k.h = nullptr;
  halvard::registry::ResetStore();
}

TEST(RegistryStore, DamagedFileFailsCleanlyWithOneDiagnostic) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  {
    std::ofstream f(path, std::ios::binary);
    f << std::string(8192, 'g');  // not a database
  }
  setenv("HALVARD_REGISTRY", path.c_str(), 1);
  halvard::registry::ResetStore();
  ::testing::internal::CaptureStderr();
  Key k;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &k.h), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software", &k.h), ERROR_REGISTRY_IO_FAILED);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(path), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  // The damaged file is left as it was for the operator to inspect.
  EXPECT_EQ(std::filesystem::file_size(path), 8192u);
  halvard::registry::ResetStore();
}

TEST(RegistryStore, ReadOnlyFileServesReadsAndRefusesWrites) {
  if (geteuid() == 0) {
    // Root ignores file permissions: run this test again as an unprivileged user.
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    const auto r = halvard::testing::RunCommand(
        "setpriv --reuid=65534 --regid=65534 --clear-groups env TMPDIR=/tmp HOME=/tmp " +
            halvard::testing::ShellQuote(self.string()) +
            " --gtest_filter=RegistryStore.ReadOnlyFileServesReadsAndRefusesWrites",
        true);
    if (r.output.find("[  PASSED  ] 1 test") != std::string::npos) {
      return;
    }
    if (r.output.find("FAILED") != std::string::npos) {
      FAIL() << r.output;
    }
    GTEST_SKIP() << "cannot run as an unprivileged user here: " << r.output;
  }
  TempDir dir;
  const std::string path = dir.File("registry.db");
  setenv("HALVARD_REGISTRY", path.c_str(), 1);
  halvard::registry::ResetStore();
  {
    Key k;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\R", &k.h), ERROR_SUCCESS);
    SetDword(k.h, "v", 7);
  }
  halvard::registry::ResetStore();
  chmod(path.c_str(), 0444);
  chmod(dir.Path().c_str(), 0555);
  Key k;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\R", 0, KEY_READ, &k.h), ERROR_SUCCESS);
  DWORD v = 0;
  DWORD size = sizeof v;
  EXPECT_EQ(RegQueryValueEx(k.h, "v", nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 7u);
  Key w;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\W", &w.h), ERROR_ACCESS_DENIED);
  chmod(dir.Path().c_str(), 0755);
  halvard::registry::ResetStore();
}
