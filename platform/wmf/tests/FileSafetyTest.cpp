// Recordings survive the death of their process and a full disk: what was written
// stays decodable, and a failed write stops the writer with an error.

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::wmf {
namespace {

using testing::MakeProfile;

struct Shared {
  std::atomic<std::int64_t> fedMs{-1};  // media time handed to the writer so far
  std::atomic<HRESULT> result{S_OK};
  std::atomic<int> done{0};
};

Shared* MapShared() {
  void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : new (memory) Shared();
}

// Records into `path` at real-time pace (frame by frame, with audio) until `seconds`
// of media or the first failure; reports progress into `shared`.
HRESULT RecordPaced(const std::string& path, double seconds, Shared* shared, bool paced) {
  auto writer = ComPtr<CAsfWriterCore>::Attach(new CAsfWriterCore());
  HRESULT hr = writer->ConfigureFilterUsingProfile(MakeProfile({}).Get());
  ComPtr<IWMWriterFileSink> sink;
  if (SUCCEEDED(hr)) {
    hr = WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf());
  }
  if (SUCCEEDED(hr)) {
    hr = sink->Open(path.c_str());
  }
  if (SUCCEEDED(hr)) {
    hr = writer->AddSink(sink.Get());
  }
  if (SUCCEEDED(hr)) {
    hr = writer->Engine().Begin();
  }
  testing::CSimulatedSource source(320, 240);
  const auto started = std::chrono::steady_clock::now();
  const int frames = static_cast<int>(seconds * 30);
  for (int i = 0; i < frames && SUCCEEDED(hr); ++i) {
    if (paced) {
      std::this_thread::sleep_until(started + std::chrono::microseconds(i * 33333));
    }
    hr = source.Feed(writer->Engine(), 1.0 / 30);
    shared->fedMs = static_cast<std::int64_t>(i + 1) * 1000 / 30;
  }
  const HRESULT ended = writer->Engine().End();
  if (SUCCEEDED(hr)) {
    hr = ended;
  }
  ComPtr<IWMWriterFileSink2> control;
  if (sink && SUCCEEDED(sink.As(&control))) {
    const HRESULT closed = control->Close();
    if (SUCCEEDED(hr) && FAILED(closed)) {
      hr = closed;
    }
  }
  shared->result = hr;
  shared->done = 1;
  return hr;
}

TEST(CrashSafety, FileOfAKilledProcessDecodesToWithinOneSecondOfTheKill) {
  const halvard::testing::TempDir dir;
  for (const double killAtSeconds : {0.6, 1.7, 3.2}) {
    Shared* shared = MapShared();
    ASSERT_NE(shared, nullptr);
    const std::string path = dir.File("killed-" + std::to_string(static_cast<int>(killAtSeconds * 10)) + ".wmv");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      (void)RecordPaced(path, 60.0, shared, true);
      _exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (shared->fedMs.load() < static_cast<std::int64_t>(killAtSeconds * 1000) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    // The writer may have taken one frame more than it reported.
    const double fedSeconds = static_cast<double>(shared->fedMs.load()) / 1000.0;
    const double decoded = testing::DecodedSeconds(path);
    EXPECT_GE(decoded, fedSeconds - 1.0) << path << " fed " << fedSeconds;
    EXPECT_LE(decoded, fedSeconds + 0.1) << path;
    auto info = testing::Probe(path);
    EXPECT_EQ(info["stream1.codec_name"], "wmv1") << path;
    munmap(shared, sizeof(Shared));
  }
}

// A small file system of its own when the test may mount one (a private mount
// namespace), else a file-size limit in a child process: both make writes fail.
class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    m_disk = m_dir.Path() / "disk";
    std::filesystem::create_directories(m_disk);
    m_mounted = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                mount("tmpfs", m_disk.c_str(), "tmpfs", 0, "size=320k") == 0;
  }
  void TearDown() override {
    if (m_mounted) {
      (void)umount2(m_disk.c_str(), MNT_DETACH);
    }
  }
  // Records until the disk is full (or `seconds` pass); returns the writer's result.
  HRESULT RecordUntilFull(const std::string& path, double seconds, std::int64_t* fedMs) {
    Shared* shared = MapShared();
    if (shared == nullptr) {
      return E_OUTOFMEMORY;
    }
    HRESULT hr = E_FAIL;
    if (m_mounted) {
      hr = RecordPaced(path, seconds, shared, false);
    } else {
      const pid_t child = fork();
      if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        // Everything already in the folder plus this much more.
        std::uintmax_t used = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_disk)) {
          used += entry.file_size();
        }
        const rlimit limit{320 * 1024 - used, 320 * 1024 - used};
        (void)setrlimit(RLIMIT_FSIZE, &limit);
        (void)RecordPaced(path, seconds, shared, false);
        _exit(0);
      }
      int status = 0;
      (void)waitpid(child, &status, 0);
      hr = shared->done.load() != 0 ? shared->result.load() : E_UNEXPECTED;
    }
    *fedMs = shared->fedMs.load();
    munmap(shared, sizeof(Shared));
    return hr;
  }

  halvard::testing::TempDir m_dir;
  std::filesystem::path m_disk;
  bool m_mounted = false;
};

TEST_F(FullDisk, StopsTheWriterWithAnErrorAndKeepsWhatWasWritten) {
  std::int64_t fedMs = 0;
  const std::string earlier = (m_disk / "10H-00M-00S.wmv").string();
  ASSERT_EQ(RecordUntilFull(earlier, 1.0, &fedMs), S_OK);
  const std::string partial = (m_disk / "10H-20M-00S.wmv").string();
  const HRESULT hr = RecordUntilFull(partial, 60.0, &fedMs);
  EXPECT_TRUE(hr == NS_E_DISK_FULL || hr == NS_E_FILE_WRITE) << std::hex << hr << (m_mounted ? " tmpfs" : " limit");
  if (m_mounted) {
    EXPECT_EQ(hr, NS_E_DISK_FULL);
  }
  EXPECT_LT(fedMs, 59000) << "the writer went on after the failure";

  auto info = testing::Probe(earlier);
  EXPECT_NEAR(std::stod(info["format.duration"]), 1.0, 0.1);
  EXPECT_NEAR(testing::DecodedSeconds(earlier), 1.0 - 1.0 / 30, 0.05);
  const double decoded = testing::DecodedSeconds(partial);
  EXPECT_GT(decoded, 1.0) << "the partial file holds what fitted";
  EXPECT_GE(decoded, static_cast<double>(fedMs) / 1000.0 - 1.5);
  ComPtr<IWMMetadataEditor> editor;
  ASSERT_EQ(WMCreateEditor(editor.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(editor->Open(partial.c_str()), S_OK) << "the header was completed for what the file holds";
}

}  // namespace
}  // namespace halvard::wmf
