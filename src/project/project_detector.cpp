#include "project/project_detector.hpp"

#include <array>
#include <bitset>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/directory.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

struct Marker {
  std::string_view name;
  ProjectType type;
};

// In byte order of the names, which is the order of precedence.
constexpr std::array<Marker, 10> kMarkers{{
    {".csproj", ProjectType::DotNet},
    {".sln", ProjectType::DotNet},
    {"CMakeLists.txt", ProjectType::CMake},
    {"Cargo.toml", ProjectType::Cargo},
    {"Makefile", ProjectType::Make},
    {"build.gradle", ProjectType::Maven},
    {"package.json", ProjectType::Npm},
    {"pom.xml", ProjectType::Maven},
    {"pyproject.toml", ProjectType::Pip},
    {"setup.py", ProjectType::Pip},
}};
constexpr size_t kCsproj = 0;
constexpr size_t kSln = 1;

using MarkerSet = std::bitset<kMarkers.size()>;

bool contains(std::string_view name, std::string_view part) {
  return name.find(part) != std::string_view::npos;
}

// Returns the markers that `name` matches as a listing entry.
MarkerSet markersMatchedByName(std::string_view name) {
  MarkerSet matched;
  for (size_t i = 0; i < kMarkers.size(); ++i) {
    if (name == kMarkers[i].name) matched.set(i);
  }
  if (name.find('.') != std::string_view::npos) {
    if (contains(name, ".csproj") || contains(name, ".CSPROJ")) matched.set(kCsproj);
    if (contains(name, ".sln") || contains(name, ".SLN")) matched.set(kSln);
  }
  return matched;
}

// Returns whether `candidate` exists, links followed; "not found" in any form is false.
bool existsFollowingLinks(const fs::path& candidate) {
  std::error_code error;
  const bool found = fs::exists(candidate, error);
  if (error) throw fs::filesystem_error("exists", candidate, error);
  return found;
}

bool isDirectory(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error && status.type() != fs::file_type::not_found) {
    throw fs::filesystem_error("status", path, error);
  }
  return status.type() == fs::file_type::directory;
}

// Lists `path` once and returns every marker some entry matches by name. Stops early once the
// first marker matches, since nothing can take precedence over it.
MarkerSet markersInListing(const std::string& path) {
  MarkerSet listed;
  platform::anyEntryName(path, [&listed](std::string_view name) {
    listed |= markersMatchedByName(name);
    return listed.test(0);
  });
  return listed;
}

}  // namespace

BuildConfig ProjectDetector::getConfigForType(ProjectType type) const {
  switch (type) {
    case ProjectType::CMake:
      return {
          type, "cmake",
          "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --config Release",
          "C++"};
    case ProjectType::DotNet: return {type, "dotnet", "dotnet build -c Release", "C#"};
    case ProjectType::Cargo: return {type, "cargo", "cargo build --release", "Rust"};
    case ProjectType::Make: return {type, "make", "make", "C"};
    case ProjectType::Npm: return {type, "npm", "npm run build", "JavaScript"};
    case ProjectType::Pip: return {type, "pip", "pip install -e .", "Python"};
    case ProjectType::Maven: return {type, "mvn", "mvn clean package", "Java"};
    case ProjectType::Unknown: break;
  }
  return {ProjectType::Unknown, "unknown", "", "unknown"};
}

std::string ProjectDetector::getTypeName(ProjectType type) const {
  switch (type) {
    case ProjectType::CMake: return "C++ (CMake)";
    case ProjectType::DotNet: return "C# (.NET)";
    case ProjectType::Cargo: return "Rust (Cargo)";
    case ProjectType::Make: return "C (Make)";
    case ProjectType::Npm: return "JavaScript (npm)";
    case ProjectType::Pip: return "Python (pip)";
    case ProjectType::Maven: return "Java (Maven)";
    case ProjectType::Unknown: break;
  }
  return "Unknown";
}

ProjectType ProjectDetector::detect(const std::string& path) const {
  const fs::path directory(path);
  bool listingTaken = false;
  MarkerSet listed;
  for (size_t i = 0; i < kMarkers.size(); ++i) {
    if (existsFollowingLinks(directory / kMarkers[i].name)) return kMarkers[i].type;
    // The listing is the same for every marker, so it is taken once, at the first miss.
    if (!listingTaken) {
      listingTaken = true;
      if (isDirectory(path)) listed = markersInListing(path);
    }
    if (listed.test(i)) return kMarkers[i].type;
  }
  return ProjectType::Unknown;
}

BuildConfig ProjectDetector::getBuildConfig(const std::string& path) const {
  return getConfigForType(detect(path));
}

}  // namespace quarn
