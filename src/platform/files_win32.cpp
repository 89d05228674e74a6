#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/signals.hpp"
#include "platform/system_win32.hpp"

namespace quarn::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What opening an entry for removal asks for: enough to examine it and to delete it, and no
// more, so that a file that may be deleted but not read goes too.
constexpr ACCESS_MASK kRemovalAccess = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// FileDispositionInfoEx and its flags, which MinGW declares only for builds that require
// Windows 10 1809.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

bool isMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// What became of an entry: gone, kept (a mount point was found in it and left), or failed (the
// reason is in the Removal, and removal ends).
enum class Outcome { Gone, Kept, Failed };

Outcome failed(Removal& removal, const std::string& shown, DWORD error) {
  removal.failedPath = shown;
  removal.error = systemMessage(error);
  return Outcome::Failed;
}

// Opens `name`, an entry of the open folder `parent`, through the parent's handle: no path is
// resolved again, and the entry itself is opened should it be a link.
Handle openEntryIn(HANDLE parent, const std::wstring& name, ACCESS_MASK access, DWORD& error) {
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.data());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, 0, parent, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE entry = nullptr;
  const NTSTATUS status = ::NtCreateFile(
      &entry, access, &attributes, &io, nullptr, 0, kShareAll, FILE_OPEN,
      FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr,
      0);
  if (!NT_SUCCESS(status)) {
    error = ::RtlNtStatusToDosError(status);
    return Handle();
  }
  return Handle(entry);
}

// Another handle to the entry open as `entry`, with other rights: the same entry, whatever its
// name leads to by now.
Handle reopen(HANDLE entry, DWORD access) {
  return Handle(::ReOpenFile(entry, access, kShareAll,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
}

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
// mounted volume, which stays, from a junction, which goes as a link.
bool isVolumeMountPoint(HANDLE entry, DWORD& error) {
  std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD size = 0;
  if (!::DeviceIoControl(entry, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &size, nullptr)) {
    error = ::GetLastError();
    return false;
  }
  const auto* data = reinterpret_cast<const MountPointData*>(buffer.data());
  static constexpr wchar_t kVolume[] = L"\\??\\Volume{";
  constexpr std::size_t kVolumeLength = sizeof kVolume / sizeof kVolume[0] - 1;
  const std::size_t end = offsetof(MountPointData, names) + data->substituteOffset +
                          std::size_t{data->substituteLength};
  return end <= size && data->substituteLength / sizeof(WCHAR) >= kVolumeLength &&
         std::wcsncmp(data->names + data->substituteOffset / sizeof(WCHAR), kVolume,
                      kVolumeLength) == 0;
}

// Deletes the entry open as `entry`, whose attributes are `attributes`. POSIX semantics take the
// name away at once, even while another program holds the file open, so that its folder can go
// next; systems before Windows 10 1809 and file systems without them take the older request,
// for which the read-only attribute must go first.
bool deleteOpened(HANDLE entry, DWORD attributes, DWORD& error) {
  DWORD flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
  if (::SetFileInformationByHandle(entry, kFileDispositionInfoEx, &flags, sizeof flags)) {
    return true;
  }
  error = ::GetLastError();
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  // Windows 10 before 1809 knows the request but not the flag that ignores the attribute.
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
      error != ERROR_INVALID_FUNCTION && !(error == ERROR_ACCESS_DENIED && readOnly)) {
    return false;
  }
  if (readOnly) {
    const Handle writable = reopen(entry, FILE_WRITE_ATTRIBUTES);
    constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;
    FILE_BASIC_INFO info{};  // times left at zero stay as they are
    info.FileAttributes = attributes & kSettable;
    if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!writable.valid() ||
        !::SetFileInformationByHandle(writable.get(), FileBasicInfo, &info, sizeof info)) {
      error = ::GetLastError();
      return false;
    }
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (::SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition)) {
    return true;
  }
  error = ::GetLastError();
  return false;
}

Outcome removeOpened(HANDLE entry, const std::string& shown, Removal& removal);

// Removes everything in the folder open as `folder` (with the right to list it), shown as
// `shown`.
Outcome removeContents(HANDLE folder, const std::string& shown, Removal& removal) {
  // The listing is read whole before anything goes, so that removing does not disturb it.
  std::vector<std::wstring> names;
  std::vector<std::uint64_t> buffer(8192);  // 64 KiB, aligned as the records need
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!::GetFileInformationByHandleEx(folder, request, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof buffer[0]))) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_NO_MORE_FILES) break;
      return failed(removal, shown, error);
    }
    request = FileIdBothDirectoryInfo;
    const auto* records = reinterpret_cast<const unsigned char*>(buffer.data());
    for (std::size_t offset = 0;;) {
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(records + offset);
      const std::wstring_view name(record->FileName, record->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.emplace_back(name);
      if (record->NextEntryOffset == 0) break;
      offset += record->NextEntryOffset;
    }
  }
  Outcome outcome = Outcome::Gone;
  for (const std::wstring& name : names) {
    const std::string path = shown + "\\" + toUtf8(name);
    if (stopSignal() != 0) {
      removal.stopped = true;
      return Outcome::Failed;
    }
    DWORD error = 0;
    const Handle entry = openEntryIn(folder, name, kRemovalAccess, error);
    Outcome result = Outcome::Gone;
    if (entry.valid()) {
      result = removeOpened(entry.get(), path, removal);
    } else if (!isMissing(error)) {
      result = failed(removal, path, error);
    }
    switch (result) {
      case Outcome::Failed: return Outcome::Failed;
      case Outcome::Kept: outcome = Outcome::Kept; break;
      case Outcome::Gone: break;
    }
  }
  return outcome;
}

// Removes the entry open as `entry`, shown as `shown`. What it is, is asked of the handle, and
// what it holds is listed and removed through it: what was checked is what goes.
Outcome removeOpened(HANDLE entry, const std::string& shown, Removal& removal) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &info, sizeof info)) {
    return failed(removal, shown, ::GetLastError());
  }
  // A reparse point that is no name surrogate (a cloud file's placeholder) is the folder itself,
  // contents and all; a link (symbolic link or junction) goes as a link.
  bool folder = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      IsReparseTagNameSurrogate(info.ReparseTag)) {
    if (info.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT) {
      DWORD error = 0;
      if (isVolumeMountPoint(entry, error)) {
        removal.mounts.push_back(shown);
        return Outcome::Kept;
      }
      if (error != 0) return failed(removal, shown, error);
    }
    folder = false;
  }
  if (folder) {
    const Handle listing = reopen(entry, FILE_LIST_DIRECTORY | SYNCHRONIZE);
    if (!listing.valid()) return failed(removal, shown, ::GetLastError());
    const Outcome contents = removeContents(listing.get(), shown, removal);
    // A folder that still holds a mount point stays, quietly: the mount point is reported.
    if (contents != Outcome::Gone) return contents;
  }
  DWORD error = 0;
  if (!deleteOpened(entry, info.FileAttributes, error)) return failed(removal, shown, error);
  return Outcome::Gone;
}

// With `cut`, a longer file is read as far as `limit` instead of refused.
FileText readRegular(const std::string& path, std::size_t limit, bool cut) {
  FileText file;
  // Folders open too, to be told apart; a pipe or a device is refused before it is read from.
  Handle handle(::CreateFileW(systemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) {
    const DWORD error = ::GetLastError();
    if (isMissing(error)) {
      // The attributes of a link are its own: one that is there leads nowhere.
      const DWORD attributes = ::GetFileAttributesA(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        file.status = FileText::Status::LinkToNothing;
      }
      return file;
    }
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
  const Handle handle(::CreateFileW(systemPath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  return handle.valid() && ::GetFileType(handle.get()) == FILE_TYPE_DISK &&
         ::GetFileInformationByHandle(handle.get(), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::filesystem::file_type fileType(const std::string& path, bool followLinks,
                                    std::error_code& error) {
  using Type = std::filesystem::file_type;
  error.clear();
  // Only the attributes are asked for, which no other program's sharing can refuse.
  const Handle handle(::CreateFileW(
      systemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
  if (!handle.valid()) {
    const DWORD code = ::GetLastError();
    switch (code) {
      // What the C runtime reports as ENOENT, which std::filesystem takes for nothing there;
      // a link that leads nowhere included.
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
      case ERROR_INVALID_DRIVE:
      case ERROR_BAD_NETPATH:
      case ERROR_BAD_NET_NAME:
      case ERROR_BAD_PATHNAME:
      case ERROR_DIRECTORY:
      case ERROR_NOT_READY: return Type::not_found;
      default: error.assign(static_cast<int>(code), std::system_category()); return Type::none;
    }
  }
  switch (::GetFileType(handle.get())) {
    case FILE_TYPE_CHAR: return Type::character;
    case FILE_TYPE_PIPE: return Type::fifo;
    default: break;
  }
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &info, sizeof info)) {
    error.assign(static_cast<int>(::GetLastError()), std::system_category());
    return Type::none;
  }
  if (!followLinks && (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      IsReparseTagNameSurrogate(info.ReparseTag)) {
    return Type::symlink;
  }
  return (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Type::directory : Type::regular;
}

Removal removeTree(const std::string& path) {
  Removal removal;
  const StopSignalScope stopSignals;
  // The folders above are followed, as any path's are; the entry itself is not.
  const Handle entry(
      ::CreateFileW(systemPath(path).c_str(), kRemovalAccess, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!entry.valid()) {
    const DWORD error = ::GetLastError();
    if (isMissing(error)) return removal;
    removal.complete = false;
    failed(removal, path, error);
    return removal;
  }
  if (stopSignal() != 0) {
    removal.complete = false;
    removal.stopped = true;
    return removal;
  }
  removal.complete = removeOpened(entry.get(), path, removal) == Outcome::Gone;
  return removal;
}

}  // namespace quarn::platform
