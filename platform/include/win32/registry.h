// Win32 registry functions of the platform layer.
//
// The registry lives in registry.db of the machine root, shared by every
// process of the machine. What a program can rely on:
//
// - Hives: HKEY_LOCAL_MACHINE and HKEY_DYN_DATA. The other predefined keys
//   (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS, ...) do not exist on
//   this machine: every call on them fails with ERROR_INVALID_HANDLE.
//   HKEY_DYN_DATA is kept like any other hive (it is not emptied at start-up).
// - Opening "Config Manager\Enum" of HKEY_DYN_DATA first brings the
//   configuration manager's device tree up to date with the host's serial
//   ports and the root-enumerated ports (platform/registry/device_tree.h).
// - Each call is atomic: other threads and processes see all of its effect
//   or none of it. RegDeleteKeyA removes a whole subtree at once.
// - Key and value names compare without regard to case and keep the case
//   they were created with. The empty value name (or a null pointer) is the
//   default value of the key.
// - Enumeration order (RegEnumKeyExA, RegEnumValueA) is alphabetical by the
//   name folded to upper case, byte by byte: "A_B" comes after "AB" and
//   "ab", and "_x" after "Z". Bytes above 0x7f are not folded. The order is
//   stable while the key is not changed.
// - Values keep their exact type and bytes: a REG_SZ written with its NUL
//   counted reads back with the same size, one written without it reads back
//   without it. Any type number is accepted and kept.
// - Paths: a leading backslash, doubled backslashes and a trailing backslash
//   are ignored ("\\A\\\\B\\" names A\B). An empty or null subkey opens a new
//   handle to the same key; on a predefined key it gives that predefined key
//   back. A single key name may hold at most 255 characters, a value name
//   16383, value data 1 MiB (ERROR_INVALID_PARAMETER beyond that).
// - Handles are 32-bit values private to the process. A handle whose key was
//   deleted (by this or another process) gives ERROR_KEY_DELETED on every use
//   but RegCloseKey; a key created again under the same name is a new key.
// - Access rights are enforced per handle: KEY_QUERY_VALUE for reading and
//   enumerating values and for RegQueryInfoKeyA, KEY_ENUMERATE_SUB_KEYS for
//   enumerating subkeys, KEY_SET_VALUE for setting and deleting values,
//   KEY_CREATE_SUB_KEY for creating a subkey that does not exist yet, and
//   KEY_CREATE_SUB_KEY or DELETE for deleting a subkey (a KEY_READ handle
//   cannot change the tree). Opening a subkey needs no right on the parent.
//   Failures give ERROR_ACCESS_DENIED.
// - REG_OPTION_VOLATILE is accepted; the key is kept like any other.
// - Buffers too small give ERROR_MORE_DATA and nothing is copied: for data
//   the needed size is stored in *lpcbData (and the type in *lpType); name
//   sizes are left as the caller gave them.
#pragma once

#include "win32/types.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define HKEY_USERS ((HKEY)(ULONG_PTR)0x80000003u)
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)0x80000004u)
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)0x80000005u)
#define HKEY_DYN_DATA ((HKEY)(ULONG_PTR)0x80000006u)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & ~SYNCHRONIZE)
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & ~SYNCHRONIZE)
#define KEY_EXECUTE (KEY_READ & ~SYNCHRONIZE)
#define KEY_ALL_ACCESS                                                                            \
    ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY                 \
      | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK)                                    \
     & ~SYNCHRONIZE)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_RESOURCE_LIST 8
#define REG_FULL_RESOURCE_DESCRIPTOR 9
#define REG_RESOURCE_REQUIREMENTS_LIST 10
#define REG_QWORD 11

#define REG_OPTION_RESERVED 0x00000000L
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L

#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition);
LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
LONG RegCloseKey(HKEY hKey);

// lpcchName: in, the buffer size in characters with room for the NUL; out,
// the length copied without the NUL. The class is always empty.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData);
LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);

// Deletes the subkey with all of its subkeys and values. An empty or null
// lpSubKey deletes the key of hKey itself. A hive root cannot be deleted
// (ERROR_ACCESS_DENIED).
LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

// Lengths are in characters without the NUL (value data in bytes). The
// class is empty and there is no security descriptor (size 0).
LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
