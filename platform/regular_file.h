// Reading files that come from outside (a flash package, a file a record
// names): only a regular file is opened, never with a wait, and each read
// goes to the file itself, so a file that shrinks or is replaced while it is
// read gives an error code instead of ending the process.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/hresult.h"
#include "platform/unique_fd.h"

// Opens path for reading without blocking (a FIFO or a device never holds
// the caller) and keeps it only when it is a regular file: the open's error,
// or E_INVALIDARG for anything else. *size gets the file's length.
HRESULT OpenRegularFile(const std::string& path, UniqueFd* file, std::uint64_t* size);

// Reads exactly size bytes at offset: the read's error, or
// HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) when the file ends first.
HRESULT ReadFileAt(int file, void* data, size_t size, std::uint64_t offset);
