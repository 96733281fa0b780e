#include "platform/error_text.h"

#include "platform/message_catalogue.h"

namespace {

struct CodeText {
  HRESULT code;
  const char* text;
};

constexpr HRESULT W(DWORD e) { return HRESULT_FROM_WIN32(e); }

// Our own wording. Success codes and HRESULT_FROM_WIN32 codes share a table.
constexpr CodeText kTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation is still in progress."},
    {E_NOTIMPL, "The operation is not implemented."},
    {E_NOINTERFACE, "The object does not support the requested interface."},
    {E_POINTER, "A required pointer was not supplied."},
    {E_ABORT, "The operation was aborted."},
    {E_FAIL, "The operation failed."},
    {E_UNEXPECTED, "An unexpected failure occurred."},
    {CLASS_E_NOAGGREGATION, "The class cannot be created as part of an aggregate."},
    {CLASS_E_CLASSNOTAVAILABLE, "The class factory cannot supply the requested class."},
    {REGDB_E_CLASSNOTREG, "The requested class is not registered."},
    {CO_E_NOTINITIALIZED, "The object runtime was not initialised on this thread."},
    {RPC_E_CHANGED_MODE, "The thread was already initialised in another mode."},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, "The member was not found."},
    {DISP_E_PARAMNOTFOUND, "A parameter was not found."},
    {DISP_E_TYPEMISMATCH, "The value has the wrong type."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_NONAMEDARGS, "Named arguments are not supported."},
    {DISP_E_BADVARTYPE, "The value type is not valid."},
    {DISP_E_EXCEPTION, "The call raised an exception."},
    {DISP_E_OVERFLOW, "The value is out of the present range."},
    {DISP_E_BADINDEX, "The index is out of range."},
    {DISP_E_BADPARAMCOUNT, "The number of parameters is wrong."},
    {WS_E_INVALID_FORMAT, "The input data was not in the expected format."},
    {WC_E_SYNTAX, "The XML document is not well formed."},
    {WC_E_DTDPROHIBITED, "The XML document has a document type declaration, which is not allowed."},
    {W(ERROR_INVALID_FUNCTION), "Incorrect function."},
    {W(ERROR_FILE_NOT_FOUND), "The file was not found."},
    {W(ERROR_PATH_NOT_FOUND), "The path was not found."},
    {W(ERROR_TOO_MANY_OPEN_FILES), "Too many files are open."},
    {W(ERROR_ACCESS_DENIED), "Access is denied."},
    {W(ERROR_INVALID_HANDLE), "The handle is not valid."},
    {W(ERROR_NOT_ENOUGH_MEMORY), "Not enough memory to complete the operation."},
    {W(ERROR_BAD_FORMAT), "The file format is not valid."},
    {W(ERROR_INVALID_DATA), "The data is not valid."},
    {E_OUTOFMEMORY, "Out of memory."},
    {W(ERROR_NOT_READY), "The device is not ready."},
    {W(ERROR_BAD_COMMAND), "The device does not recognise the command."},
    {W(ERROR_CRC), "Data error: the check sequence does not match."},
    {W(ERROR_BAD_LENGTH), "The length of the data is wrong."},
    {W(ERROR_WRITE_FAULT), "The device cannot be written to."},
    {W(ERROR_READ_FAULT), "The device cannot be read from."},
    {W(ERROR_GEN_FAILURE), "A device attached to the system is not working."},
    {W(ERROR_SHARING_VIOLATION), "The file is in use by another process."},
    {W(ERROR_LOCK_VIOLATION), "A part of the file is locked by another process."},
    {W(ERROR_WRONG_DISK), "The wrong device or medium is attached."},
    {W(ERROR_HANDLE_EOF), "The end of the file was reached."},
    {W(ERROR_NOT_SUPPORTED), "The request is not supported."},
    {W(ERROR_FILE_EXISTS), "The file exists."},
    {W(ERROR_INVALID_PASSWORD), "The password or code is not correct."},
    {E_INVALIDARG, "A parameter is not valid."},
    {W(ERROR_BROKEN_PIPE), "The pipe has been ended."},
    {W(ERROR_OPEN_FAILED), "The device or file could not be opened."},
    {W(ERROR_BUFFER_OVERFLOW), "The file name is too long."},
    {W(ERROR_DISK_FULL), "There is not enough space on the disk."},
    {W(ERROR_SEM_TIMEOUT), "The wait timed out."},
    {W(ERROR_INSUFFICIENT_BUFFER), "The data area passed is too small."},
    {W(ERROR_INVALID_NAME), "The name is not valid."},
    {W(ERROR_DIR_NOT_EMPTY), "The folder is not empty."},
    {W(ERROR_BUSY), "The resource is busy."},
    {W(ERROR_ALREADY_EXISTS), "The file already exists."},
    {W(ERROR_FILENAME_EXCED_RANGE), "The file name is too long."},
    {W(ERROR_FILE_TOO_LARGE), "The file is too large."},
    {W(ERROR_FILE_INVALID), "The file is empty or no longer valid."},
    {W(ERROR_NO_DATA), "No data is available."},
    {W(ERROR_MORE_DATA), "More data is available."},
    {W(ERROR_NO_MORE_ITEMS), "No more items are available."},
    {W(ERROR_DIRECTORY), "The name is a folder."},
    {W(ERROR_OPERATION_ABORTED), "The operation was interrupted."},
    {W(ERROR_KEY_DELETED), "The registry key has been deleted."},
    {W(ERROR_PROCESS_ABORTED), "The process ended unexpectedly."},
    {W(ERROR_IO_DEVICE), "An input/output error occurred on the device."},
    {W(ERROR_DEVICE_NOT_CONNECTED), "The device is not connected."},
    {W(ERROR_NOT_FOUND), "Element not found."},
    {W(ERROR_CANCELLED), "The operation was cancelled."},
    {W(ERROR_REVISION_MISMATCH), "The revision level is unknown."},
    {W(ERROR_INSTALL_FAILURE), "The installation failed."},
    {W(ERROR_TIMEOUT), "The operation timed out."},
    {W(ERROR_INVALID_STATE), "The device is in a state that does not allow this operation."},
};

}  // namespace

std::string GetEnglishErrorText(HRESULT hr) {
  for (const CodeText& entry : kTexts) {
    if (entry.code == hr) return entry.text;
  }
  return "";
}

std::string GetErrorText(HRESULT hr) {
  std::string english = GetEnglishErrorText(hr);
  return english.empty() ? english : TranslateMessage(english);
}

std::vector<HRESULT> ErrorTextCodes() {
  std::vector<HRESULT> codes;
  for (const CodeText& entry : kTexts) codes.push_back(entry.code);
  return codes;
}
