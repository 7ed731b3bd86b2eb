// Small helpers shared by the registry tests.
#pragma once

#include <string>
#include <vector>

#include "win32/registry.h"

namespace kolm::test {

// An open key, closed at the end of the scope.
class Key {
public:
    Key() = default;
    explicit Key(HKEY h) : m_h(h) {}
    ~Key()
    {
        if (m_h)
            RegCloseKey(m_h);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return m_h; }
    HKEY* out() { return &m_h; }
    operator HKEY() const { return m_h; }

private:
    HKEY m_h = nullptr;
};

inline std::vector<BYTE> bytes(std::string_view s)
{
    return std::vector<BYTE>(s.begin(), s.end());
}

// Creates (or opens) a key below HKLM with full access; 0 on failure.
inline HKEY make_key(const char* path, HKEY parent = HKEY_LOCAL_MACHINE, REGSAM sam = KEY_ALL_ACCESS)
{
    HKEY h = nullptr;
    if (RegCreateKeyExA(parent, path, 0, nullptr, 0, sam, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return h;
}

// Reads a whole value, or returns the error.
inline LONG read_value(HKEY key, const char* name, DWORD& type, std::vector<BYTE>& data)
{
    DWORD size = 0;
    LONG st = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (st != ERROR_SUCCESS)
        return st;
    data.assign(size, 0);
    st = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
    data.resize(size);
    return st;
}

inline std::vector<std::string> subkey_names(HKEY key)
{
    std::vector<std::string> names;
    char buf[300];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof buf;
        if (RegEnumKeyExA(key, i, buf, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(buf, len);
    }
    return names;
}

inline std::vector<std::string> value_names(HKEY key)
{
    std::vector<std::string> names;
    char buf[300];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof buf;
        if (RegEnumValueA(key, i, buf, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(buf, len);
    }
    return names;
}

} // namespace kolm::test
