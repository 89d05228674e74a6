#include "project/project_detector.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/directory.hpp"
#include "platform/files.hpp"
#include "project/folder.hpp"
#include "project/kinds.hpp"
#include "project/planner.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

struct MarkerEntry {
  std::string_view name;
  const Kind* kind;
  const Marker* marker;
  bool contained = false;   // also any entry containing the name in all lower or upper case
  bool suffix = false;      // also any entry whose name ends in it
  bool executable = false;  // only an executable file counts
  std::string upper;        // the name in upper case, for `contained`
};

constexpr size_t kMaxMarkers = 64;
using MarkerSet = std::bitset<kMaxMarkers>;

// Every marker of the kind table, in the order they are tried.
const std::vector<MarkerEntry>& markers() {
  static const std::vector<MarkerEntry> list = [] {
    std::vector<MarkerEntry> all;
    for (const Kind& kind : kinds()) {
      for (const Marker& marker : kind.markers) {
        MarkerEntry entry{marker.name,
                          &kind,
                          &marker,
                          marker.match == Marker::Match::Containing,
                          marker.match == Marker::Match::Suffix,
                          marker.match == Marker::Match::Program,
                          {}};
        for (const char c : marker.name) {
          entry.upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
        all.push_back(std::move(entry));
      }
    }
    return all;
  }();
  return list;
}

bool contains(std::string_view name, std::string_view part) {
  return name.find(part) != std::string_view::npos;
}

bool endsWith(std::string_view name, std::string_view end) {
  return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

// The markers a listing entry is compared with: those of whole names by their first byte, and
// those matched by part of a name, which all hold a dot.
struct MarkerIndex {
  std::array<std::vector<size_t>, 256> byFirstByte;
  std::vector<size_t> partial;
};

const MarkerIndex& markerIndex() {
  static const MarkerIndex index = [] {
    MarkerIndex result;
    const std::vector<MarkerEntry>& all = markers();
    for (size_t i = 0; i < all.size(); ++i) {
      const MarkerEntry& marker = all[i];
      if (marker.executable) continue;
      if (marker.contained || marker.suffix) {
        result.partial.push_back(i);
      } else {
        result.byFirstByte[static_cast<unsigned char>(marker.name[0])].push_back(i);
      }
    }
    return result;
  }();
  return index;
}

// Returns the markers that `name` matches as a listing entry. Most entries match nothing, so an
// entry is compared only with the whole names that begin with its first byte and, when it holds a
// dot, with the markers matched by part of a name.
MarkerSet markersMatchedByName(std::string_view name) {
  MarkerSet matched;
  if (name.empty()) return matched;
  const MarkerIndex& index = markerIndex();
  const std::vector<MarkerEntry>& all = markers();
  for (const size_t i : index.byFirstByte[static_cast<unsigned char>(name[0])]) {
    if (name == all[i].name) matched.set(i);
  }
  if (name.find('.') == std::string_view::npos) return matched;
  for (const size_t i : index.partial) {
    const MarkerEntry& marker = all[i];
    if (marker.contained ? contains(name, marker.name) || contains(name, marker.upper)
                         : endsWith(name, marker.name)) {
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

// Bounds of the search below a folder that is no project.
constexpr size_t kEntriesRead = 512;   // of one listing
constexpr size_t kFoldersListed = 64;  // in all

// Folders that hold other people's projects, or what a build wrote, never the one to build.
bool isHeavyFolder(std::string_view name) {
  for (std::string_view heavy :
       {"node_modules", "bower_components", "vendor", "target", "__pycache__", "site-packages"}) {
    if (name == heavy) return true;
  }
  return false;
}

bool mayBeMarker(std::string_view name) {
  if (markersMatchedByName(name).any()) return true;
  for (const MarkerEntry& marker : markers()) {
    if (marker.executable && marker.name == name) return true;
  }
  return false;
}

// The subfolders of a folder worth looking into, in name order (with `folders`), and whether an
// entry may be a marker; from the first kEntriesRead entries, nothing from a folder that cannot
// be listed.
struct Subfolders {
  std::vector<std::string> names;
  bool markers = false;
};

Subfolders listSubfolders(const fs::path& folder, bool folders) {
  Subfolders found;
  size_t read = 0;
  try {
    platform::anyEntryName(folder.string(), [&](std::string_view name) {
      if (mayBeMarker(name)) {
        found.markers = true;
        if (!folders) return true;
      }
      if (folders && name.front() != '.' && !isHeavyFolder(name)) {
        std::error_code error;
        if (fs::symlink_status(folder / std::string(name), error).type() ==
            fs::file_type::directory) {
          found.names.emplace_back(name);
        }
      }
      return ++read >= kEntriesRead;
    });
  } catch (const fs::filesystem_error&) {
    return {};
  }
  std::sort(found.names.begin(), found.names.end());
  return found;
}

}  // namespace

std::vector<ProjectBelow> ProjectDetector::projectsBelow(const std::string& path,
                                                         size_t limit) const {
  std::vector<ProjectBelow> found;
  const fs::path root(path.empty() ? "." : path);
  size_t listed = 0;
  // Whether the folder `relative` is a project, found; its subfolders in `below` with `folders`.
  const auto look = [&](const std::string& relative, bool folders, Subfolders& below) {
    if (found.size() >= limit || listed >= kFoldersListed) return false;
    ++listed;
    const fs::path folder = root / relative;
    below = listSubfolders(folder, folders);
    if (!below.markers) return false;
    try {
      const Detection detection = detectMarker(folder.string());
      if (detection.kind == nullptr) return false;
      found.push_back({relative, detection.kind});
      return true;
    } catch (const fs::filesystem_error&) {
      return false;  // a folder that cannot be read holds no project to name
    }
  };
  for (const std::string& name : listSubfolders(root, true).names) {
    Subfolders below;
    if (look(name, true, below)) continue;
    for (const std::string& inner : below.names) {
      Subfolders none;
      std::string relative = name;
      relative += '/';
      relative += inner;
      look(relative, false, none);
    }
  }
  return found;
}

BuildConfig ProjectDetector::getConfigForType(ProjectType type) const {
  return configFromTable(kindOf(type));
}

std::string ProjectDetector::getTypeName(ProjectType type) const {
  return std::string(kindOf(type).displayName);
}

Detection ProjectDetector::detectMarker(const std::string& path) const {
  // u8path: on Windows a plain std::string is read in the ANSI code page.
  const fs::path directory = fs::u8path(path.empty() ? "." : path);
  const std::vector<MarkerEntry>& all = markers();
  bool listingTaken = false;
  Listing listed;
  for (size_t i = 0; i < all.size(); ++i) {
    const MarkerEntry& marker = all[i];
    const fs::path candidate = directory / marker.name;
    std::string entry;
    if (marker.executable) {
      if (!platform::isExecutableFile(candidate.u8string())) continue;
      entry = std::string(marker.name);
    } else {
      const bool found = existsFollowingLinks(candidate);
      // The listing is the same for every marker, so it is taken once, at the first miss.
      if (!found && !listingTaken) {
        listingTaken = true;
        if (isDirectory(directory)) listed = markersInListing(directory.u8string());
      }
      if (!found && !listed.markers.test(i)) continue;
      // The entry that matched is the evidence: "App.csproj", not ".csproj".
      entry = found ? std::string(marker.name) : listed.entries[i];
    }
    const Kind* kind = marker.kind;
    if (marker.marker->rule != nullptr) {
      kind = marker.marker->rule(*marker.kind, Folder(directory.u8string()), entry);
      if (kind == nullptr) continue;
    }
    return {kind->type, kind, std::move(entry)};
  }
  return {};
}

ProjectType ProjectDetector::detect(const std::string& path) const {
  return detectMarker(path).type;
}

BuildConfig ProjectDetector::getBuildConfig(const std::string& path) const {
  const Detection detection = detectMarker(path);
  if (detection.kind == nullptr) return getConfigForType(ProjectType::Unknown);
  PlanRequest request;
  request.folder = path.empty() ? "." : path;
  request.kind = detection.kind;
  request.marker = detection.marker;
  return planBuild(request);
}

}  // namespace quarn
