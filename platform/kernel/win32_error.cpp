#include "kernel/win32_error.h"

#include <cerrno>

namespace kolm::platform {

DWORD win32_error_from_errno(int e)
{
    switch (e) {
    case 0:            return ERROR_SUCCESS;
    case ENOENT:       return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:        return ERROR_ACCESS_DENIED;
    case EEXIST:       return ERROR_FILE_EXISTS;
    case EISDIR:       return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:       return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:        return ERROR_INVALID_HANDLE;
    case ENOMEM:       return ERROR_NOT_ENOUGH_MEMORY;
    case EAGAIN:       return ERROR_NO_SYSTEM_RESOURCES;
    case ENOSPC:
    case EDQUOT:       return ERROR_DISK_FULL;
    case EINVAL:       return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case ENOEXEC:      return ERROR_BAD_FORMAT;
    case EPIPE:        return ERROR_BROKEN_PIPE;
    case EBUSY:
    case ETXTBSY:      return ERROR_SHARING_VIOLATION;
    case ENOTEMPTY:    return ERROR_DIR_NOT_EMPTY;
    case ENOSYS:
    case EOPNOTSUPP:   return ERROR_NOT_SUPPORTED;
    case EIO:          return ERROR_GEN_FAILURE;
    case ENXIO:
    case ENODEV:       return ERROR_DEVICE_NOT_CONNECTED;
    case ELOOP:        return ERROR_BAD_PATHNAME;
    default:           return ERROR_GEN_FAILURE;
    }
}

} // namespace kolm::platform
