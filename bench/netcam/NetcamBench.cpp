// netcam_bench URL [SECONDS]: reads a network camera through the capture source's
// reader at 640x480 YUY2 for SECONDS (default 10) and prints the process CPU time per
// picture; then runs `ffmpeg -i URL -s 640x480 -pix_fmt yuyv422 -f null -` on the same
// stream for as long and prints its CPU time per picture. The latency figure is the
// reader's queue delay plus the camera-to-arrival delay, from the pictures' stamps.
// bench/netcam/run.sh starts a 1280x720 H.264 camera on 127.0.0.1 and runs this.
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/capture/NetworkSource.h"

namespace {

double CpuSeconds(int who) {
  rusage u{};
  (void)getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: netcam_bench URL [SECONDS]\n");
    return 2;
  }
  const std::string url = argv[1];
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  using Clock = std::chrono::steady_clock;
  using halvard::capture::CNetworkReader;
  CNetworkReader reader("bench", url);
  reader.SetFormat({640, 480}, halvard::capture::PixelLayout::Yuy2);
  std::vector<BYTE> picture(640 * 480 * 2);
  (void)reader.Start();
  // Wait for the first picture so that connecting is not counted.
  Clock::time_point taken;
  while (reader.Take(picture.data(), picture.size(), std::chrono::milliseconds(100), &taken) != S_OK) {
  }
  const double cpu0 = CpuSeconds(RUSAGE_SELF);
  const std::int64_t decoded0 = reader.Decoded();
  const auto start = Clock::now();
  double waitSum = 0;
  long taken_n = 0;
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    if (reader.Take(picture.data(), picture.size(), std::chrono::milliseconds(100), &taken) == S_OK) {
      waitSum += std::chrono::duration<double, std::milli>(Clock::now() - taken).count();
      ++taken_n;
    }
  }
  const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
  const std::int64_t decoded = reader.Decoded() - decoded0;
  reader.Stop();
  std::printf("reader: %lld pictures in %.1f s, %.2f ms CPU per picture, queue delay %.1f ms, dropped %lld\n",
              static_cast<long long>(decoded), seconds, decoded > 0 ? cpu * 1000 / decoded : 0.0,
              taken_n > 0 ? waitSum / taken_n : 0.0, static_cast<long long>(reader.Dropped()));

  const double child0 = CpuSeconds(RUSAGE_CHILDREN);
  const std::string command = "ffmpeg -v error -nostats -rtsp_transport tcp -i '" + url + "' -t " +
                              std::to_string(seconds) +
                              " -s 640x480 -pix_fmt yuyv422 -f null - -progress pipe:1 | grep '^frame=' | tail -1";
  FILE* p = popen(command.c_str(), "r");
  char line[256] = {};
  long frames = 0;
  if (p != nullptr) {
    if (std::fgets(line, sizeof line, p) != nullptr) {
      frames = std::atol(line + 6);
    }
    (void)pclose(p);
  }
  const double childCpu = CpuSeconds(RUSAGE_CHILDREN) - child0;
  std::printf("ffmpeg: %ld pictures, %.2f ms CPU per picture\n", frames, frames > 0 ? childCpu * 1000 / frames : 0.0);
  if (frames > 0 && decoded > 0) {
    std::printf("ratio reader/ffmpeg: %.2f\n", (cpu / decoded) / (childCpu / frames));
  }
  return 0;
}
