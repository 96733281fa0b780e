#include "platform/hresult.h"

#include <cerrno>

DWORD Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EISDIR: return ERROR_DIRECTORY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC: return ERROR_DISK_FULL;
    case EDQUOT: return ERROR_DISK_FULL;
    case EFBIG: return ERROR_DISK_FULL;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EBUSY: return ERROR_BUSY;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EWOULDBLOCK: return ERROR_LOCK_VIOLATION;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ECANCELED: return ERROR_CANCELLED;
    case EINTR: return ERROR_OPERATION_ABORTED;
    case EIO: return ERROR_IO_DEVICE;
    case ENXIO: return ERROR_DEVICE_NOT_CONNECTED;
    case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    case ENOSYS: return ERROR_NOT_SUPPORTED;
    case ESRCH: return ERROR_NOT_FOUND;
    case ECHILD: return ERROR_NOT_FOUND;
    default: return ERROR_GEN_FAILURE;
  }
}

HRESULT HresultFromErrno(int err) {
  if (err == 0) return E_FAIL;  // a failure with no recorded cause still fails
  return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
}

HRESULT HresultFromLastErrno() { return HresultFromErrno(errno); }
