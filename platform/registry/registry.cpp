// The Win32 registry functions: check the arguments and the handle's rights,
// call the store, translate the result.
#include "win32/registry.h"

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "registry/device_tree.h"
#include "registry/key_handles.h"
#include "kolm/key_path.h"

using kolm::platform::KeyRef;
using kolm::platform::RegResult;

namespace {

std::string_view name_or_default(LPCSTR name)
{
    return name ? std::string_view(name) : std::string_view();
}

// The key behind a handle, after checking it has every right in `needed`.
RegResult<KeyRef> key_with_rights(HKEY key, REGSAM needed)
{
    auto ref = kolm::platform::resolve_key(key);
    if (ref.has_value() && (ref.value().access & needed) != needed)
        return kolm::platform::RegFailure { ERROR_ACCESS_DENIED };
    return ref;
}

LONG open_or_create(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, bool create, PHKEY phkResult,
                    LPDWORD lpdwDisposition)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    auto parent = kolm::platform::resolve_key(hKey);
    if (!parent.has_value())
        return parent.error();
    std::vector<std::string> path;
    if (const LONG st = kolm::platform::split_key_path(name_or_default(lpSubKey), path);
        st != ERROR_SUCCESS)
        return st;

    if (path.empty() && kolm::platform::is_predefined_key(hKey)) {
        *phkResult = hKey;
        if (lpdwDisposition)
            *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }

    auto& store = *parent.value().store;
    // NOTE: a failed refresh leaves the tree as it was; opening it still
    // succeeds or fails on its own.
    if (hKey == HKEY_DYN_DATA && kolm::platform::is_device_tree_path(path))
        store.refresh_device_tree();
    kolm::platform::KeyId id = 0;
    bool created = false;
    if (create) {
        const bool may_create = (parent.value().access & KEY_CREATE_SUB_KEY) != 0;
        auto result = store.create_key(parent.value().key, path, may_create);
        if (!result.has_value())
            return result.error();
        id = result.value().id;
        created = result.value().created;
    } else {
        auto result = store.open_key(parent.value().key, path);
        if (!result.has_value())
            return result.error();
        id = result.value();
    }

    auto handle = kolm::platform::add_key_handle(KeyRef{parent.value().store, id, samDesired});
    if (!handle.has_value())
        return handle.error();
    *phkResult = handle.value();
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

void store_filetime(PFILETIME out, int64_t t)
{
    if (!out)
        return;
    out->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(t) & 0xFFFFFFFFu);
    out->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(t) >> 32);
}

// Copies a name into a caller's buffer of *size characters (NUL included).
// Too small: ERROR_MORE_DATA, buffer and size untouched.
LONG copy_name(const std::string& name, LPSTR buf, LPDWORD size)
{
    if (!buf || !size)
        return ERROR_INVALID_PARAMETER;
    if (name.size() + 1 > *size)
        return ERROR_MORE_DATA;
    std::memcpy(buf, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// The data half of RegQueryValueExA / RegEnumValueA: size query with a null
// buffer, ERROR_MORE_DATA with the needed size and nothing copied.
LONG copy_data(const std::vector<BYTE>& data, LPBYTE buf, LPDWORD size)
{
    if (buf && !size)
        return ERROR_INVALID_PARAMETER;
    if (!size)
        return ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(data.size());
    if (buf && needed > *size) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (buf && needed)
        std::memcpy(buf, data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

} // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    (void)ulOptions;
    return open_or_create(hKey, lpSubKey, samDesired, false, phkResult, nullptr);
}

LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    return open_or_create(hKey, lpSubKey, KEY_ALL_ACCESS, false, phkResult, nullptr);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition)
{
    (void)Reserved;
    (void)lpClass;
    (void)lpSecurityAttributes;
    if (dwOptions & ~REG_OPTION_VOLATILE)
        return ERROR_INVALID_PARAMETER;
    return open_or_create(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition);
}

LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    return open_or_create(hKey, lpSubKey, KEY_ALL_ACCESS, true, phkResult, nullptr);
}

LONG RegCloseKey(HKEY hKey)
{
    return kolm::platform::close_key_handle(hKey);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    (void)lpReserved;
    auto key = key_with_rights(hKey, KEY_ENUMERATE_SUB_KEYS);
    if (!key.has_value())
        return key.error();
    if (!lpName || !lpcchName)
        return ERROR_INVALID_PARAMETER;
    auto entry = key.value().store->enum_subkey(key.value().key, dwIndex);
    if (!entry.has_value())
        return entry.error();
    if (const LONG st = copy_name(entry.value().name, lpName, lpcchName); st != ERROR_SUCCESS)
        return st;
    if (lpClass && lpcchClass && *lpcchClass > 0)
        lpClass[0] = '\0';
    if (lpcchClass)
        *lpcchClass = 0;
    store_filetime(lpftLastWriteTime, entry.value().mtime);
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    (void)lpReserved;
    auto key = key_with_rights(hKey, KEY_QUERY_VALUE);
    if (!key.has_value())
        return key.error();
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    auto value = key.value().store->enum_value(key.value().key, dwIndex);
    if (!value.has_value())
        return value.error();
    const auto& v = value.value();
    if (v.name.size() + 1 > *lpcchValueName)
        return ERROR_MORE_DATA;
    if (lpType)
        *lpType = v.type;
    // NOTE: the data is checked before the name is copied, so a too-small
    // data buffer leaves both buffers untouched.
    if (lpData && lpcbData && v.data.size() > *lpcbData) {
        *lpcbData = static_cast<DWORD>(v.data.size());
        return ERROR_MORE_DATA;
    }
    if (const LONG st = copy_name(v.name, lpValueName, lpcchValueName); st != ERROR_SUCCESS)
        return st;
    return copy_data(v.data, lpData, lpcbData);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData)
{
    (void)lpReserved;
    auto key = key_with_rights(hKey, KEY_QUERY_VALUE);
    if (!key.has_value())
        return key.error();
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    auto value = key.value().store->query_value(key.value().key, name_or_default(lpValueName));
    if (!value.has_value())
        return value.error();
    if (lpType)
        *lpType = value.value().type;
    return copy_data(value.value().data, lpData, lpcbData);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData)
{
    (void)Reserved;
    auto key = key_with_rights(hKey, KEY_SET_VALUE);
    if (!key.has_value())
        return key.error();
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    if (cbData > kolm::platform::k_max_value_data)
        return ERROR_INVALID_PARAMETER;
    std::span<const BYTE> data(lpData, lpData ? cbData : 0);
    return key.value().store->set_value(key.value().key, name_or_default(lpValueName), dwType, data);
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    auto key = key_with_rights(hKey, KEY_SET_VALUE);
    if (!key.has_value())
        return key.error();
    return key.value().store->delete_value(key.value().key, name_or_default(lpValueName));
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    auto key = kolm::platform::resolve_key(hKey);
    if (!key.has_value())
        return key.error();
    if (!(key.value().access & (KEY_CREATE_SUB_KEY | DELETE)))
        return ERROR_ACCESS_DENIED;
    std::vector<std::string> path;
    if (const LONG st = kolm::platform::split_key_path(name_or_default(lpSubKey), path);
        st != ERROR_SUCCESS)
        return st;
    return key.value().store->delete_key(key.value().key, path);
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    (void)lpReserved;
    auto key = key_with_rights(hKey, KEY_QUERY_VALUE);
    if (!key.has_value())
        return key.error();
    auto info = key.value().store->key_info(key.value().key);
    if (!info.has_value())
        return info.error();
    const auto& i = info.value();
    if (lpClass && lpcchClass && *lpcchClass > 0)
        lpClass[0] = '\0';
    if (lpcchClass)
        *lpcchClass = 0;
    if (lpcSubKeys)
        *lpcSubKeys = i.subkeys;
    if (lpcbMaxSubKeyLen)
        *lpcbMaxSubKeyLen = i.max_subkey_len;
    if (lpcbMaxClassLen)
        *lpcbMaxClassLen = 0;
    if (lpcValues)
        *lpcValues = i.values;
    if (lpcbMaxValueNameLen)
        *lpcbMaxValueNameLen = i.max_value_name_len;
    if (lpcbMaxValueLen)
        *lpcbMaxValueLen = i.max_value_len;
    if (lpcbSecurityDescriptor)
        *lpcbSecurityDescriptor = 0;
    store_filetime(lpftLastWriteTime, i.mtime);
    return ERROR_SUCCESS;
}
