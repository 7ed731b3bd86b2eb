// The system modules a program can load by name, with the procedures it
// looks up in them at run time.
#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <unistd.h>

#include "kernel/string_out.h"
#include "internal/nocase.h"
#include "win32.h"

namespace kolm::platform {

namespace {

constexpr std::string_view kSystemDirectory = "C:\\WINDOWS\\SYSTEM";

struct Export {
    const char* name;
    FARPROC proc;
};

struct BuiltinModule {
    const char* file_name;
    DWORD handle;
    std::span<const Export> exports;
};

// NOTE: through void (*)(), the one function type a cast may pass without
// a warning; the caller casts back to the real type before calling.
template <typename F>
FARPROC export_of(F* f)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

const Export kKernel32Exports[] = {
    {"OpenVxDHandle", export_of(&OpenVxDHandle)},
};

const BuiltinModule kModules[] = {
    {"KERNEL32.DLL", 0x7FE00000, kKernel32Exports},
};

// The module a name or path stands for: the last path component decides,
// and a name without an extension means ".DLL", as LoadLibrary reads it.
const BuiltinModule* module_by_name(std::string_view name)
{
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    for (const auto& m : kModules) {
        const std::string_view file = m.file_name;
        if (equal_nocase(name, file))
            return &m;
        if (name.find('.') == std::string_view::npos && equal_nocase(name, file.substr(0, file.rfind('.'))))
            return &m;
    }
    return nullptr;
}

const BuiltinModule* module_by_handle(HMODULE h)
{
    for (const auto& m : kModules) {
        if (HandleToDword(h) == m.handle && h)
            return &m;
    }
    return nullptr;
}

} // namespace

} // namespace kolm::platform

using namespace kolm::platform;

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return copy_out(kSystemDirectory, lpBuffer, uSize);
}

HMODULE LoadLibraryA(LPCSTR lpLibFileName)
{
    if (!lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto* module = module_by_name(lpLibFileName);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return DwordToHandle<HMODULE>(module->handle);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    const auto* module = module_by_handle(hModule);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // An ordinal (a value below 0x10000 in place of a name) is not exported.
    if (reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    for (const auto& e : module->exports) {
        if (std::strcmp(e.name, lpProcName) == 0)
            return e.proc;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule)
{
    // System modules stay loaded for the life of the process.
    if (!module_by_handle(hLibModule)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    std::string name;
    if (!hModule) {
        char buf[4096];
        const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) {
            SetLastError(ERROR_GEN_FAILURE);
            return 0;
        }
        name.assign(buf, static_cast<size_t>(n));
    } else if (const auto* module = module_by_handle(hModule)) {
        name = std::string(kSystemDirectory) + "\\" + module->file_name;
    } else {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Unlike the other string calls: a name that does not fit is cut to the
    // buffer, NUL-terminated, and the buffer size is returned.
    if (name.size() >= nSize) {
        std::memcpy(lpFilename, name.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, name.c_str(), name.size() + 1);
    return static_cast<DWORD>(name.size());
}
