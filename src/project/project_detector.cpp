#include "project/project_detector.hpp"

#include <bitset>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/directory.hpp"
#include "platform/files.hpp"
#include "project/kinds.hpp"
#include "project/planner.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

struct Marker {
  std::string_view name;
  ProjectType type;
  bool contained = false;   // also any entry containing the name in all lower or upper case
  bool executable = false;  // only an executable file counts
  std::string upper;        // the name in upper case, for `contained`
};

constexpr size_t kMaxMarkers = 64;
using MarkerSet = std::bitset<kMaxMarkers>;

// Every marker of the kind table, in the order they are tried.
const std::vector<Marker>& markers() {
  static const std::vector<Marker> list = [] {
    std::vector<Marker> all;
    for (const Kind& kind : kinds()) {
      std::string_view rest = kind.markers;
      while (!rest.empty()) {
        const size_t space = rest.find(' ');
        std::string_view word = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        Marker marker{word, kind.type, false, false, {}};
        if (word.back() == '*' || word.back() == '!') {
          marker.contained = word.back() == '*';
          marker.executable = word.back() == '!';
          marker.name = word.substr(0, word.size() - 1);
        }
        for (const char c : marker.name) {
          marker.upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
        all.push_back(std::move(marker));
      }
    }
    return all;
  }();
  return list;
}

bool contains(std::string_view name, std::string_view part) {
  return name.find(part) != std::string_view::npos;
}

// Returns the markers that `name` matches as a listing entry. Most entries match nothing, so
// what rules a marker out cheaply is asked first.
MarkerSet markersMatchedByName(std::string_view name) {
  static const std::bitset<256> firstBytes = [] {
    std::bitset<256> bytes;
    for (const Marker& marker : markers()) bytes.set(static_cast<unsigned char>(marker.name[0]));
    return bytes;
  }();
  MarkerSet matched;
  if (name.empty()) return matched;
  const bool dotted = name.find('.') != std::string_view::npos;
  if (!dotted && !firstBytes.test(static_cast<unsigned char>(name[0]))) return matched;
  const std::vector<Marker>& all = markers();
  for (size_t i = 0; i < all.size(); ++i) {
    const Marker& marker = all[i];
    if (marker.executable) continue;
    if (marker.contained) {
      if (dotted && (contains(name, marker.name) || contains(name, marker.upper))) matched.set(i);
    } else if (name == marker.name) {
      matched.set(i);
    }
  }
  return matched;
}

// Returns whether `candidate` exists, links followed; "not found" in any form is false.
bool existsFollowingLinks(const fs::path& candidate) {
  std::error_code error;
  const fs::file_type type = platform::fileType(candidate.u8string(), true, error);
  if (error) throw fs::filesystem_error("exists", candidate, error);
  return type != fs::file_type::not_found;
}

bool isDirectory(const fs::path& path) {
  std::error_code error;
  const fs::file_type type = platform::fileType(path.u8string(), true, error);
  if (error) throw fs::filesystem_error("status", path, error);
  return type == fs::file_type::directory;
}

// Every marker some entry of a folder matches by name, and the first entry that matched each.
struct Listing {
  MarkerSet markers;
  std::vector<std::string> entries;
};

// Lists `path` once. Stops early once the first marker matches, since nothing can take
// precedence over it.
Listing markersInListing(const std::string& path) {
  Listing listing;
  listing.entries.resize(markers().size());
  platform::anyEntryName(path, [&listing](std::string_view name) {
    const MarkerSet matched = markersMatchedByName(name);
    if ((matched & ~listing.markers).any()) {
      for (size_t i = 0; i < listing.entries.size(); ++i) {
        if (matched.test(i) && !listing.markers.test(i)) listing.entries[i] = name;
      }
      listing.markers |= matched;
    }
    return listing.markers.test(0);
  });
  return listing;
}

// Whether the marker `name` is in `directory`, by the existence test or, should the listing have
// been taken, by the listing.
bool hasMarker(const fs::path& directory, std::string_view name, const Listing& listed) {
  const std::vector<Marker>& all = markers();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].name == name && listed.markers.test(i)) return true;
  }
  return existsFollowingLinks(directory / name);
}

}  // namespace

BuildConfig ProjectDetector::getConfigForType(ProjectType type) const {
  return configFromTable(kindOf(type).type);
}

std::string ProjectDetector::getTypeName(ProjectType type) const {
  return std::string(kindOf(type).displayName);
}

Detection ProjectDetector::detectMarker(const std::string& path) const {
  // u8path: on Windows a plain std::string is read in the ANSI code page.
  const fs::path directory = fs::u8path(path.empty() ? "." : path);
  const std::vector<Marker>& all = markers();
  bool listingTaken = false;
  Listing listed;
  for (size_t i = 0; i < all.size(); ++i) {
    const Marker& marker = all[i];
    const fs::path candidate = directory / marker.name;
    if (marker.executable) {
      if (platform::isExecutableFile(candidate.u8string())) {
        return {marker.type, std::string(marker.name)};
      }
      continue;
    }
    bool found = existsFollowingLinks(candidate);
    // The listing is the same for every marker, so it is taken once, at the first miss.
    if (!found && !listingTaken) {
      listingTaken = true;
      if (isDirectory(directory)) listed = markersInListing(directory.u8string());
    }
    if (!found && !listed.markers.test(i)) continue;
    // The entry that matched is the evidence: "App.csproj", not ".csproj".
    std::string entry = found ? std::string(marker.name) : listed.entries[i];
    // A Gradle file beside a pom.xml stays a Maven project, as it always was: that build works.
    if (marker.type == ProjectType::Gradle && hasMarker(directory, "pom.xml", listed)) {
      return {ProjectType::Maven, std::move(entry)};
    }
    return {marker.type, std::move(entry)};
  }
  return {};
}

ProjectType ProjectDetector::detect(const std::string& path) const {
  return detectMarker(path).type;
}

BuildConfig ProjectDetector::getBuildConfig(const std::string& path) const {
  const Detection detection = detectMarker(path);
  if (detection.type == ProjectType::Unknown) return getConfigForType(ProjectType::Unknown);
  PlanRequest request;
  request.folder = path.empty() ? "." : path;
  request.type = detection.type;
  request.marker = detection.marker;
  return planBuild(request);
}

}  // namespace quarn
