// Times detection of one folder in-process: the detector against the rule applied literally (a
// listing per marker). Usage: detect_bench FOLDER [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "project/project_detector.hpp"
#include "support/reference_detector.hpp"

namespace {

template <typename Detect>
double medianMilliseconds(int runs, Detect detect) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    detect();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: detect_bench FOLDER [RUNS]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int runs = argc > 2 ? std::max(1, std::stoi(argv[2])) : 21;
  const quarn::ProjectDetector detector;
  const double oneListing = medianMilliseconds(runs, [&] { detector.detect(folder); });
  const double perMarker = medianMilliseconds(runs, [&] { quarn::test::referenceDetect(folder); });
  std::printf("%.3f %.3f\n", oneListing, perMarker);
  return 0;
}
