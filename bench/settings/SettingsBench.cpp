// Cost of the settings store's reads and writes, beside a bare SQLite query and write
// of one row on a database file of the same kind in the same run.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"

namespace {

namespace settings = halvard::settings;

std::string TempPath(const char* name) {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvard-bench-XXXXXX").string();
    return std::string(mkdtemp(pattern.data()));
  }();
  return dir + "/" + name;
}

void UseFreshStore() {
  static bool done = false;
  if (!done) {
    setenv("HALVARD_REGISTRY", TempPath("registry.db").c_str(), 1);
    halvard::registry::ResetStore();
    settings::kVideoBitrate.Write("BT878 Capture 0", "Input 1", 300);
    done = true;
  }
}

// The reference: one prepared SELECT of one row by key, WAL mode, as bare as it gets.
struct BareDb {
  sqlite3* db = nullptr;
  sqlite3_stmt* read = nullptr;
  sqlite3_stmt* write = nullptr;
  BareDb() {
    sqlite3_open(TempPath("bare.db").c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                     "CREATE TABLE IF NOT EXISTS v(k TEXT PRIMARY KEY, d BLOB);"
                     "INSERT OR REPLACE INTO v VALUES ('Video Bitrate', x'2c010000');",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db, "SELECT d FROM v WHERE k = ?", -1, &read, nullptr);
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO v VALUES (?, ?)", -1, &write, nullptr);
  }
};

BareDb& Bare() {
  static BareDb bare;
  return bare;
}

void BM_BareSqliteRead(benchmark::State& state) {
  BareDb& b = Bare();
  for (auto _ : state) {
    sqlite3_bind_text(b.read, 1, "Video Bitrate", -1, SQLITE_STATIC);
    sqlite3_step(b.read);
    benchmark::DoNotOptimize(sqlite3_column_blob(b.read, 0));
    sqlite3_reset(b.read);
  }
}
BENCHMARK(BM_BareSqliteRead);

void BM_CameraSettingRead(benchmark::State& state) {
  UseFreshStore();
  for (auto _ : state) {
    benchmark::DoNotOptimize(settings::kVideoBitrate.Read("BT878 Capture 0", "Input 1"));
  }
}
BENCHMARK(BM_CameraSettingRead);

void BM_CameraSettingReadDefault(benchmark::State& state) {
  UseFreshStore();
  for (auto _ : state) {
    benchmark::DoNotOptimize(settings::kVideoFrameRate.Read("BT878 Capture 0", "Input 1"));
  }
}
BENCHMARK(BM_CameraSettingReadDefault);

void BM_InternetPortComputedDefault(benchmark::State& state) {
  UseFreshStore();
  for (auto _ : state) {
    benchmark::DoNotOptimize(settings::ReadInternetPort("BT878 Capture 0", "Input 1"));
  }
}
BENCHMARK(BM_InternetPortComputedDefault);

void BM_BareSqliteWrite(benchmark::State& state) {
  BareDb& b = Bare();
  const unsigned char value[4] = {1, 2, 3, 4};
  for (auto _ : state) {
    sqlite3_bind_text(b.write, 1, "Video Bitrate", -1, SQLITE_STATIC);
    sqlite3_bind_blob(b.write, 2, value, 4, SQLITE_STATIC);
    sqlite3_step(b.write);
    sqlite3_reset(b.write);
  }
}
BENCHMARK(BM_BareSqliteWrite)->Iterations(200);

void BM_CameraSettingWrite(benchmark::State& state) {
  UseFreshStore();
  DWORD n = 0;
  for (auto _ : state) {
    settings::kVideoBitrate.Write("BT878 Capture 0", "Input 1", ++n);
  }
}
BENCHMARK(BM_CameraSettingWrite)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
