// File-system services: full path names, file sizes, and the free space available
// to the user in a folder. The free-space query is a seam: tests replace it to
// shrink the disk. Any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velmar {

// The full, normalised path of Name (relative names are taken from the current
// folder); empty for an empty name.
std::string ExpandFileName(const std::string& Name);

// The size of a file in bytes, or -1 when it cannot be read.
std::int64_t FileSizeOnDisk(const std::string& Name);

// Free bytes available to the user in Folder, or -1 when they cannot be determined.
std::int64_t DiskFreeBytes(const std::string& Folder);

// Where the file system that holds Folder is mounted ("/home"); a folder not
// made yet counts as its nearest existing parent. Empty when none can be read.
std::string MountPointOf(const std::string& Folder);

// The nearest existing folder at or above Folder (Folder itself when it exists).
std::string ExistingFolderOf(const std::string& Folder);

// Replaces the file Name with Content so that a crash or power cut leaves either
// the old file or the new one whole: a temporary file beside it is written,
// flushed to the disk and renamed over Name, then the folder is flushed. A new
// file gets Mode; an existing one keeps its permissions. False on any failure,
// which leaves the old file as it was.
bool WriteFileAtomically(const std::string& Name, std::string_view Content, unsigned Mode = 0644);

using TDiskFreeQuery = std::function<std::int64_t(const std::string& Folder)>;
// Replaces the free-space query (null restores the real one).
void SetDiskFreeQuery(TDiskFreeQuery Query);

}  // namespace velmar
