// Several processes share one store: nothing acknowledged may be lost, whether the
// writers interleave, read-modify-write, or die.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr const char* kKey = "Software\\Tesmark\\Halvard Surveillance Server\\System";

DWORD ReadCounter(HKEY key, const std::string& name) {
  DWORD v = 0;
  DWORD size = sizeof v;
  if (RegQueryValueEx(key, name, nullptr, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS) {
    return 0;
  }
  return v;
}

// Child body: `rounds` increments of a shared counter inside store transactions, and
// one value of its own per round. Exits 0 when every call succeeded.
[[noreturn]] void Writer(int id, int rounds) {
  int failures = 0;
  for (int i = 0; i < rounds; ++i) {
    {
      halvard::registry::CStoreTransaction txn;
      HKEY key = nullptr;
      if (txn.Status() != ERROR_SUCCESS || RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKey, &key) != ERROR_SUCCESS) {
        ++failures;
        continue;
      }
      const DWORD next = ReadCounter(key, "Counter") + 1;
      if (RegSetValueEx(key, "Counter", REG_DWORD, reinterpret_cast<const BYTE*>(&next), sizeof next) !=
              ERROR_SUCCESS ||
          txn.Commit() != ERROR_SUCCESS) {
        ++failures;
      }
      RegCloseKey(key);
    }
    HKEY own = nullptr;
    const std::string path = std::string(kKey) + "\\Writer " + std::to_string(id);
    const DWORD v = static_cast<DWORD>(i);
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, &own) != ERROR_SUCCESS ||
        RegSetValueEx(own, "Value " + std::to_string(i), REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) !=
            ERROR_SUCCESS) {
      ++failures;
    }
    RegCloseKey(own);
  }
  _exit(failures == 0 ? 0 : 1);
}

}  // namespace

TEST(RegistryConcurrency, FourProcessesLoseNothing) {
  halvard::testing::ScopedRegistry store;
  constexpr int kWriters = 4;
  constexpr int kRounds = 60;
  pid_t pids[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    pids[w] = fork();
    ASSERT_GE(pids[w], 0);
    if (pids[w] == 0) {
      Writer(w, kRounds);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(ReadCounter(key, "Counter"), DWORD{kWriters * kRounds});
  for (int w = 0; w < kWriters; ++w) {
    HKEY own = nullptr;
    ASSERT_EQ(RegOpenKeyEx(key, "Writer " + std::to_string(w), 0, KEY_READ, &own), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKey(own, nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, DWORD{kRounds});
    RegCloseKey(own);
  }
  RegCloseKey(key);
}

TEST(RegistryConcurrency, KilledWriterKeepsEveryAcknowledgedWrite) {
  halvard::testing::ScopedRegistry store;
  int ack[2];
  ASSERT_EQ(pipe(ack), 0);
  // Other writers keep the store busy while the victim dies.
  pid_t busy[2];
  for (int w = 0; w < 2; ++w) {
    busy[w] = fork();
    ASSERT_GE(busy[w], 0);
    if (busy[w] == 0) {
      close(ack[0]);
      close(ack[1]);
      Writer(10 + w, 40);
    }
  }
  const pid_t victim = fork();
  ASSERT_GE(victim, 0);
  if (victim == 0) {
    close(ack[0]);
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Victim", &key) != ERROR_SUCCESS) {
      _exit(1);
    }
    for (DWORD i = 0;; ++i) {
      if (RegSetValueEx(key, "Value " + std::to_string(i), REG_DWORD, reinterpret_cast<const BYTE*>(&i),
                        sizeof i) == ERROR_SUCCESS) {
        // Acknowledge only after the call returned.
        if (write(ack[1], &i, sizeof i) != sizeof i) {
          _exit(1);
        }
      }
    }
  }
  close(ack[1]);
  std::set<DWORD> acknowledged;
  DWORD i = 0;
  while (acknowledged.size() < 50 && read(ack[0], &i, sizeof i) == sizeof i) {
    acknowledged.insert(i);
  }
  kill(victim, SIGKILL);
  while (read(ack[0], &i, sizeof i) == sizeof i) {
    acknowledged.insert(i);  // acknowledged before the kill landed
  }
  close(ack[0]);
  int status = 0;
  waitpid(victim, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  for (pid_t pid : busy) {
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  ASSERT_GE(acknowledged.size(), 50u);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Victim", 0, KEY_READ, &key), ERROR_SUCCESS);
  for (DWORD n : acknowledged) {
    DWORD v = 0xFFFF;
    DWORD size = sizeof v;
    ASSERT_EQ(RegQueryValueEx(key, "Value " + std::to_string(n), nullptr, reinterpret_cast<BYTE*>(&v), &size),
              ERROR_SUCCESS)
        << n;
    EXPECT_EQ(v, n);
  }
  RegCloseKey(key);
  // The store is still consistent for the other writers' results.
  HKEY system = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &system), ERROR_SUCCESS);
  EXPECT_EQ(ReadCounter(system, "Counter"), 80u);
  RegCloseKey(system);
}
