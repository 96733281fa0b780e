// The size and SHA-256 of the files a job used. A file read once is not read
// again while its size, modification time and inode stay the same, so a
// package flashed onto many phones is hashed once per process.
#pragma once
#include <string>

#include "records/flash_record.h"

// Fills size and sha256 of the file at path; an unreadable file keeps size 0
// and an empty digest.
RecordFile DigestFile(const std::string& path);
// The SHA-256 of bytes, lowercase hex.
std::string Sha256Hex(const void* data, size_t size);
