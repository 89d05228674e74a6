#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/signals.hpp"
#include "platform/system_win32.hpp"

namespace quarn::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Opens `path` for `access` without following it should it be a link; folders open too.
Handle openEntry(const std::string& path, DWORD access) {
  return Handle(::CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// What became of an entry: gone, kept (a mount point was found in it and left), or failed (the
// reason is in the Removal, and removal ends).
enum class Outcome { Gone, Kept, Failed };

Outcome failed(Removal& removal, const std::string& shown, DWORD error) {
  removal.failedPath = shown;
  removal.error = systemMessage(error);
  return Outcome::Failed;
}

// How a reparse point on a folder is to be treated.
enum class Reparse { Link, MountPoint, Folder, Unreadable };

// The layout FSCTL_GET_REPARSE_POINT returns for a junction or a mount point; MinGW keeps
// REPARSE_DATA_BUFFER in the driver kit's headers.
struct MountPointData {
  DWORD tag;
  WORD dataLength;
  WORD reserved;
  WORD substituteOffset;
  WORD substituteLength;
  WORD printOffset;
  WORD printLength;
  WCHAR names[1];
};

// Junctions and volume mount points share a tag: a volume's GUID path as the target tells a
// mounted volume, which stays, from a junction, which goes as a link. A reparse point that is no
// name surrogate (a cloud file's placeholder) is the folder itself, contents and all.
Reparse classify(const std::string& path, DWORD& error) {
  Handle entry = openEntry(path, FILE_READ_ATTRIBUTES);
  std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD size = 0;
  if (!entry.valid() ||
      !::DeviceIoControl(entry.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &size, nullptr)) {
    error = ::GetLastError();
    return Reparse::Unreadable;
  }
  const auto* data = reinterpret_cast<const MountPointData*>(buffer.data());
  if (!IsReparseTagNameSurrogate(data->tag)) return Reparse::Folder;
  if (data->tag != IO_REPARSE_TAG_MOUNT_POINT) return Reparse::Link;
  static constexpr wchar_t kVolume[] = L"\\??\\Volume{";
  constexpr std::size_t kVolumeLength = sizeof kVolume / sizeof kVolume[0] - 1;
  const std::size_t end = offsetof(MountPointData, names) + data->substituteOffset +
                          std::size_t{data->substituteLength};
  const bool volume = end <= size && data->substituteLength / sizeof(WCHAR) >= kVolumeLength &&
                      std::wcsncmp(data->names + data->substituteOffset / sizeof(WCHAR), kVolume,
                                   kVolumeLength) == 0;
  return volume ? Reparse::MountPoint : Reparse::Link;
}

// Clears the read-only attribute, which stops a file, a link or a folder from being removed.
bool makeWritable(const std::string& path, DWORD attributes) {
  Handle entry = openEntry(path, FILE_WRITE_ATTRIBUTES);
  constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;
  FILE_BASIC_INFO info{};  // times left at zero stay as they are
  info.FileAttributes = attributes & kSettable;
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return entry.valid() &&
         ::SetFileInformationByHandle(entry.get(), FileBasicInfo, &info, sizeof info) != 0;
}

Outcome removeEntry(const std::string& path, Removal& removal);

// Removes everything in the folder `path`.
Outcome removeContents(const std::string& path, Removal& removal) {
  // The listing is read whole before anything goes, so that removing does not disturb it.
  // Names come in the ANSI code page, the encoding of the narrow calls that remove them.
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  const HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return isMissing(error) ? Outcome::Gone : failed(removal, path, error);
  }
  DWORD error = ERROR_NO_MORE_FILES;
  do {
    const std::string name(entry.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileA(find, &entry) || (error = ::GetLastError()) != ERROR_NO_MORE_FILES);
  ::FindClose(find);
  if (error != ERROR_NO_MORE_FILES) return failed(removal, path, error);
  Outcome outcome = Outcome::Gone;
  for (const std::string& name : names) {
    switch (removeEntry(path + "\\" + name, removal)) {
      case Outcome::Failed: return Outcome::Failed;
      case Outcome::Kept: outcome = Outcome::Kept; break;
      case Outcome::Gone: break;
    }
  }
  return outcome;
}

Outcome removeEntry(const std::string& path, Removal& removal) {
  if (stopSignal() != 0) {
    removal.stopped = true;
    return Outcome::Failed;
  }
  // The attributes of the entry itself: a link's are its own, not its target's.
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return isMissing(error) ? Outcome::Gone : failed(removal, path, error);
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (link && folder) {
    DWORD error = 0;
    switch (classify(path, error)) {
      case Reparse::MountPoint: removal.mounts.push_back(path); return Outcome::Kept;
      case Reparse::Unreadable: return failed(removal, path, error);
      case Reparse::Folder: link = false; break;
      case Reparse::Link: break;
    }
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && !makeWritable(path, attributes)) {
    return failed(removal, path, ::GetLastError());
  }
  if (folder && !link) {
    const Outcome contents = removeContents(path, removal);
    // A folder that still holds a mount point stays, quietly: the mount point is reported.
    if (contents != Outcome::Gone) return contents;
  }
  // Either call removes a link itself, never what it points to.
  if (!(folder ? ::RemoveDirectoryA(path.c_str()) : ::DeleteFileA(path.c_str()))) {
    const DWORD error = ::GetLastError();
    if (!isMissing(error)) return failed(removal, path, error);
  }
  return Outcome::Gone;
}

// With `cut`, a longer file is read as far as `limit` instead of refused.
FileText readRegular(const std::string& path, std::size_t limit, bool cut) {
  FileText file;
  // Folders open too, to be told apart; a pipe or a device is refused before it is read from.
  Handle handle(::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) {
    const DWORD error = ::GetLastError();
    if (isMissing(error)) return file;
    file.status = FileText::Status::Unreadable;
    file.error = systemMessage(error);
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
    file.status = FileText::Status::NotARegularFile;
    return file;
  }
  if (!::GetFileInformationByHandle(handle.get(), &info)) {
    file.status = FileText::Status::Unreadable;
    file.error = systemMessage(::GetLastError());
    return file;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    file.status = FileText::Status::NotARegularFile;
    return file;
  }
  const unsigned long long size =
      (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (!cut && size > limit) {
    file.status = FileText::Status::TooLarge;
    return file;
  }
  char buffer[65536];
  for (;;) {
    DWORD count = 0;
    if (!::ReadFile(handle.get(), buffer, sizeof buffer, &count, nullptr)) {
      file.status = FileText::Status::Unreadable;
      file.error = systemMessage(::GetLastError());
      file.text.clear();
      return file;
    }
    if (count == 0) break;
    file.text.append(buffer, count);
    if (cut && file.text.size() >= limit) {
      file.text.resize(limit);
      break;
    }
    if (file.text.size() > limit) {  // it grew while being read
      file.status = FileText::Status::TooLarge;
      file.text.clear();
      return file;
    }
  }
  file.status = FileText::Status::Read;
  return file;
}

}  // namespace

FileText readRegularFile(const std::string& path, std::size_t limit) {
  return readRegular(path, limit, false);
}

FileText readFileStart(const std::string& path, std::size_t limit) {
  return readRegular(path, limit, true);
}

bool isExecutableFile(const std::string& path) {
  // Opened, not merely looked up, so that a link counts by what it points to.
  const Handle handle(::CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  return handle.valid() && ::GetFileType(handle.get()) == FILE_TYPE_DISK &&
         ::GetFileInformationByHandle(handle.get(), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

Removal removeTree(const std::string& path) {
  Removal removal;
  const StopSignalScope stopSignals;
  removal.complete = removeEntry(path, removal) == Outcome::Gone;
  return removal;
}

}  // namespace quarn::platform
