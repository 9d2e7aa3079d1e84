// Whether a write failed for want of disk space, told in the user's terms.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// After a write into `folder` failed (and its partial file was removed): when the folder's file
// system has less room than `neededBytes`, a new line saying that the disk is full, with the room
// needed and the room there is; otherwise (or when the room cannot be read) empty.
std::string DiskFullCause(const std::filesystem::path& folder, uint64_t neededBytes);
