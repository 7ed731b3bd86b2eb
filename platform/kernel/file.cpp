// CreateFileA and the file objects behind its handles.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kernel/device.h"

#include "internal/fd.h"
#include "internal/system.h"
#include "kolm/path_map.h"
#include "kernel/win32_error.h"
#include "win32.h"

namespace kolm::platform {

namespace {

// An open file. Share modes are not enforced: POSIX has no mandatory
// locking, and the programs never open one file twice.
class FileObject final : public KernelObject {
public:
    FileObject(int fd, std::filesystem::path path, bool delete_on_close)
        : m_fd(fd), m_path(std::move(path)), m_delete_on_close(delete_on_close)
    {
    }
    ~FileObject() override
    {
        m_fd.reset();
        if (m_delete_on_close)
            ::unlink(m_path.c_str());
    }

    Result<DWORD> read(void* buf, DWORD len)
    {
        DWORD done = 0;
        auto* p = static_cast<char*>(buf);
        while (done < len) {
            const auto n = sys::read(m_fd.get(), p + done, len - done);
            if (!n)
                return Win32Error{win32_error_from_errno(n.error())};
            if (*n == 0)
                break;
            done += static_cast<DWORD>(*n);
        }
        return done;
    }

    Result<DWORD> write(const void* buf, DWORD len)
    {
        DWORD done = 0;
        const auto* p = static_cast<const char*>(buf);
        while (done < len) {
            const auto n = sys::write(m_fd.get(), p + done, len - done);
            if (!n)
                return Win32Error{win32_error_from_errno(n.error())};
            done += static_cast<DWORD>(*n);
        }
        return done;
    }

private:
    Fd m_fd;
    std::filesystem::path m_path;
    bool m_delete_on_close;
};

// A missing folder on the way is a different error from a missing file.
DWORD open_error(int e, const std::filesystem::path& path)
{
    if (e == ENOENT) {
        std::error_code ec;
        if (path.has_parent_path() && !std::filesystem::is_directory(path.parent_path(), ec))
            return ERROR_PATH_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    if (e == EEXIST)
        return ERROR_FILE_EXISTS;
    return win32_error_from_errno(e);
}

struct Opened {
    std::shared_ptr<KernelObject> object;
    bool existed = false; // CREATE_ALWAYS / OPEN_ALWAYS found the file there
};

Result<Opened> open_file(const char* name, DWORD access, DWORD disposition, DWORD flags)
{
    const auto path = map_path(name);
    if (path.empty())
        return Win32Error{ERROR_PATH_NOT_FOUND};

    int oflags = O_CLOEXEC;
    const bool reads = access & (GENERIC_READ | GENERIC_ALL);
    const bool writes = access & (GENERIC_WRITE | GENERIC_ALL);
    oflags |= writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:        oflags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS:     oflags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING:     break;
    case OPEN_ALWAYS:       oflags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
        if (!writes)
            return Win32Error{ERROR_INVALID_PARAMETER};
        oflags |= O_TRUNC;
        break;
    default:
        return Win32Error{ERROR_INVALID_PARAMETER};
    }

    struct stat before{};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode))
        return Win32Error{ERROR_ACCESS_DENIED};

    const int fd = sys::retry_eintr([&] { return ::open(path.c_str(), oflags, 0666); });
    if (fd < 0)
        return Win32Error{open_error(errno, path)};
    Opened opened;
    opened.object = std::make_shared<FileObject>(fd, path, (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0);
    opened.existed = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    return opened;
}

} // namespace

} // namespace kolm::platform

using namespace kolm::platform;

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE)
{
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<KernelObject> object;
    bool existed = false;
    if (auto name = device_name(lpFileName)) {
        DeviceOpen request{*name, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes};
        auto device = open_device(request);
        if (!device) {
            SetLastError(device.error());
            return INVALID_HANDLE_VALUE;
        }
        object = std::move(*device);
    } else {
        auto file = open_file(lpFileName, dwDesiredAccess, dwCreationDisposition, dwFlagsAndAttributes);
        if (!file) {
            SetLastError(file.error());
            return INVALID_HANDLE_VALUE;
        }
        object = std::move(file->object);
        existed = file->existed;
    }
    auto handle = insert_handle(std::move(object));
    if (!handle) {
        SetLastError(handle.error());
        return INVALID_HANDLE_VALUE;
    }
    // Windows reports an existing file that CREATE_ALWAYS or OPEN_ALWAYS
    // opened this way, and clears the error otherwise.
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return *handle;
}

namespace {

template <typename Call>
BOOL file_io(HANDLE h, LPDWORD done, LPOVERLAPPED overlapped, Call call)
{
    if (done)
        *done = 0;
    auto object = object_from_handle(h);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Result<DWORD> result = Win32Error{ERROR_INVALID_HANDLE};
    if (auto file = std::dynamic_pointer_cast<FileObject>(object))
        result = call(*file);
    else if (auto device = std::dynamic_pointer_cast<DeviceObject>(object))
        result = call(*device);
    if (!result) {
        SetLastError(result.error());
        return FALSE;
    }
    if (done)
        *done = *result;
    return TRUE;
}

} // namespace

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    if (!lpBuffer && nNumberOfBytesToRead) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return file_io(hFile, lpNumberOfBytesRead, lpOverlapped,
                   [&](auto& target) { return target.read(lpBuffer, nNumberOfBytesToRead); });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    if (!lpBuffer && nNumberOfBytesToWrite) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return file_io(hFile, lpNumberOfBytesWritten, lpOverlapped,
                   [&](auto& target) { return target.write(lpBuffer, nNumberOfBytesToWrite); });
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    const auto path = map_path(lpFileName);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::unlink(path.c_str()) != 0) {
        SetLastError(open_error(errno, path));
        return FALSE;
    }
    return TRUE;
}
