// Keys: creation, paths, access rights, deletion of subtrees, stale handles.
#include <cstring>
#include <functional>

#include "registry_test_util.h"
#include "test_support.h"

namespace kolm::test {
namespace {

using RegistryKeys = RootedTest;

TEST_F(RegistryKeys, CreateMakesTheWholePathAndReportsDisposition)
{
    Key k;
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports\\0001", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, k.out(), &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, static_cast<DWORD>(REG_CREATED_NEW_KEY));

    Key again;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "ENUM\\root\\PORTS\\0001", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, again.out(), &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    // Every parent exists, with the case it was created with.
    Key root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "enum", 0, KEY_READ, root.out()), ERROR_SUCCESS);
    EXPECT_EQ(subkey_names(root), std::vector<std::string>{"Root"});
    Key ports;
    ASSERT_EQ(RegOpenKeyExA(root, "ROOT\\ports", 0, KEY_READ, ports.out()), ERROR_SUCCESS);
    EXPECT_EQ(subkey_names(ports), std::vector<std::string>{"0001"});

    // A value written through one spelling is read through the other.
    const BYTE v[] = "COM5";
    ASSERT_EQ(RegSetValueExA(k, "PORTNAME", 0, REG_SZ, v, sizeof v), ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> got;
    EXPECT_EQ(read_value(again, "PORTNAME", type, got), ERROR_SUCCESS);
}

TEST_F(RegistryKeys, PathSpellingsNameTheSameKey)
{
    Key k(make_key("A\\B"));
    const BYTE v[] = "x";
    ASSERT_EQ(RegSetValueExA(k, "V", 0, REG_SZ, v, sizeof v), ERROR_SUCCESS);

    for (const char* path : {"A\\B", "\\A\\B", "A\\\\B", "A\\B\\", "a\\b"}) {
        SCOPED_TRACE(path);
        Key o;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, o.out()), ERROR_SUCCESS);
        DWORD type = 0;
        std::vector<BYTE> got;
        EXPECT_EQ(read_value(o, "V", type, got), ERROR_SUCCESS);
    }

    // An empty subkey: a new handle to the same key, usable after the first closes.
    HKEY same = nullptr;
    ASSERT_EQ(RegOpenKeyExA(k, "", 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_NE(same, k.get());
    HKEY same2 = nullptr;
    ASSERT_EQ(RegOpenKeyExA(k, nullptr, 0, KEY_READ, &same2), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(same2), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(same, "V", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(same), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(same), ERROR_INVALID_HANDLE);

    // On a predefined key the predefined key itself comes back.
    HKEY hklm = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &hklm), ERROR_SUCCESS);
    EXPECT_EQ(hklm, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    // Handles fit in 32 bits and are not predefined values.
    EXPECT_LT(HandleToDword(k.get()), 0x80000000u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(k.get()), HandleToDword(k.get()));

    const std::string too_long(256, 'x');
    Key bad;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, too_long.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              bad.out(), nullptr),
              ERROR_INVALID_PARAMETER);
    Key fits(make_key(too_long.substr(1).c_str()));
    EXPECT_NE(fits.get(), nullptr);
}

TEST_F(RegistryKeys, HivesAreSeparateAndOtherRootsAreInvalid)
{
    Key lm(make_key("Config Manager\\Enum"));
    Key dyn(make_key("Config Manager\\Enum\\C1234", HKEY_DYN_DATA));
    ASSERT_NE(dyn.get(), nullptr);
    EXPECT_TRUE(subkey_names(lm).empty());

    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS, HKEY_CURRENT_CONFIG,
                      static_cast<HKEY>(nullptr), DwordToHandle<HKEY>(0x1234)}) {
        SCOPED_TRACE(HandleToDword(root));
        Key k;
        EXPECT_EQ(RegOpenKeyExA(root, "Software", 0, KEY_READ, k.out()), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCreateKeyA(root, "Software", k.out()), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegSetValueExA(root, "v", 0, REG_NONE, nullptr, 0), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
}

// One registry operation through a handle, by its required right.
struct AccessRow {
    const char* label;
    std::function<LONG(HKEY)> op;
    REGSAM needs; // KEY_READ or KEY_WRITE
};

TEST_F(RegistryKeys, HandleRightsAreEnforced)
{
    {
        Key setup(make_key("Cfg")), existing(make_key("Cfg\\Existing"));
        const BYTE v[] = "x";
        ASSERT_EQ(RegSetValueExA(setup, "V", 0, REG_SZ, v, sizeof v), ERROR_SUCCESS);
    }
    const BYTE data[] = "y";
    const AccessRow rows[] = {
        {"query value", [](HKEY k) { DWORD n = 0; return RegQueryValueExA(k, "V", nullptr, nullptr, nullptr, &n); },
         KEY_READ},
        {"enum values", [](HKEY k) { char b[8]; DWORD n = 8; return RegEnumValueA(k, 0, b, &n, nullptr, nullptr, nullptr, nullptr); },
         KEY_READ},
        {"enum keys", [](HKEY k) { char b[16]; DWORD n = 16; return RegEnumKeyExA(k, 0, b, &n, nullptr, nullptr, nullptr, nullptr); },
         KEY_READ},
        {"query info", [](HKEY k) { DWORD n = 0; return RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
         KEY_READ},
        {"set value", [&](HKEY k) { return RegSetValueExA(k, "W", 0, REG_SZ, data, sizeof data); }, KEY_WRITE},
        {"delete value", [&](HKEY k) {
             Key w(make_key("Cfg"));
             RegSetValueExA(w, "Gone", 0, REG_SZ, data, sizeof data);
             return RegDeleteValueA(k, "Gone"); },
         KEY_WRITE},
        {"create subkey", [](HKEY k) {
             Key c;
             LONG st = RegCreateKeyExA(k, "New", 0, nullptr, 0, KEY_READ, nullptr, c.out(), nullptr);
             RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Cfg\\New");
             return st; },
         KEY_WRITE},
        {"delete subkey", [](HKEY k) {
             Key c(make_key("Cfg\\Doomed"));
             return RegDeleteKeyA(k, "Doomed"); },
         KEY_WRITE},
    };
    for (REGSAM sam : {static_cast<REGSAM>(KEY_READ), static_cast<REGSAM>(KEY_WRITE),
                       static_cast<REGSAM>(KEY_ALL_ACCESS)}) {
        Key k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Cfg", 0, sam, k.out()), ERROR_SUCCESS);
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.label) + " with access 0x" + std::to_string(sam));
            const bool allowed = sam == KEY_ALL_ACCESS || sam == row.needs;
            const LONG st = row.op(k);
            if (allowed)
                EXPECT_EQ(st, ERROR_SUCCESS);
            else
                EXPECT_EQ(st, ERROR_ACCESS_DENIED);
        }
        // Opening an existing subkey needs no right on the parent, not
        // even through RegCreateKeyExA.
        Key sub;
        EXPECT_EQ(RegCreateKeyExA(k, "Existing", 0, nullptr, 0, KEY_READ, nullptr, sub.out(), nullptr),
                  ERROR_SUCCESS);
    }
}

TEST_F(RegistryKeys, DeleteKeyRemovesTheSubtreeAndStaleHandlesSay1018)
{
    Key top(make_key("Tree"));
    Key mid(make_key("Tree\\Mid"));
    Key leaf(make_key("Tree\\Mid\\Leaf"));
    Key sibling(make_key("TreeSibling"));
    const BYTE v[] = "v";
    ASSERT_EQ(RegSetValueExA(leaf, "V", 0, REG_SZ, v, sizeof v), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(mid, "V", 0, REG_SZ, v, sizeof v), ERROR_SUCCESS);

    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "tree"), ERROR_SUCCESS);

    Key gone;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Tree\\Mid\\Leaf", 0, KEY_READ, gone.out()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Tree", 0, KEY_READ, gone.out()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(subkey_names(HKEY_LOCAL_MACHINE), std::vector<std::string>{"TreeSibling"});

    // Every use of a handle to a deleted key fails with ERROR_KEY_DELETED.
    const std::vector<std::pair<const char*, std::function<LONG(HKEY)>>> uses = {
        {"query", [](HKEY k) { DWORD n = 0; return RegQueryValueExA(k, "V", nullptr, nullptr, nullptr, &n); }},
        {"set", [&](HKEY k) { return RegSetValueExA(k, "V", 0, REG_SZ, v, sizeof v); }},
        {"delete value", [](HKEY k) { return RegDeleteValueA(k, "V"); }},
        {"enum keys", [](HKEY k) { char b[8]; DWORD n = 8; return RegEnumKeyExA(k, 0, b, &n, nullptr, nullptr, nullptr, nullptr); }},
        {"enum values", [](HKEY k) { char b[8]; DWORD n = 8; return RegEnumValueA(k, 0, b, &n, nullptr, nullptr, nullptr, nullptr); }},
        {"open child", [](HKEY k) { Key c; return RegOpenKeyExA(k, "Leaf", 0, KEY_READ, c.out()); }},
        {"open self", [](HKEY k) { Key c; return RegOpenKeyExA(k, "", 0, KEY_READ, c.out()); }},
        {"create child", [](HKEY k) { Key c; return RegCreateKeyA(k, "New", c.out()); }},
        {"delete child", [](HKEY k) { return RegDeleteKeyA(k, "Leaf"); }},
        {"query info", [](HKEY k) { DWORD n = 0; return RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); }},
    };
    // A key created again under the same name is a new key: old handles stay dead.
    Key reborn(make_key("Tree\\Mid"));
    ASSERT_NE(reborn.get(), nullptr);
    for (HKEY h : {top.get(), mid.get(), leaf.get()}) {
        for (const auto& [label, use] : uses) {
            SCOPED_TRACE(label);
            EXPECT_EQ(use(h), ERROR_KEY_DELETED);
        }
    }
    EXPECT_EQ(RegCloseKey(leaf.get()), ERROR_SUCCESS);
    *leaf.out() = nullptr;
}

TEST_F(RegistryKeys, HandleToADeletedKeyNeverReachesALaterKey)
{
    // The newest key deleted and another created at once: the new key must
    // not inherit the old one's identity.
    Key parent(make_key("Parent"));
    Key newest(make_key("Parent\\Newest"));
    ASSERT_EQ(RegDeleteKeyA(parent, "Newest"), ERROR_SUCCESS);
    Key later(make_key("Parent\\Later"));
    ASSERT_NE(later.get(), nullptr);

    const BYTE v[] = "v";
    EXPECT_EQ(RegSetValueExA(newest, "V", 0, REG_SZ, v, sizeof v), ERROR_KEY_DELETED);
    EXPECT_TRUE(value_names(later).empty());
}

TEST_F(RegistryKeys, DeleteKeyRefusesRootsAndMissingKeys)
{
    Key k(make_key("Keep"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_DYN_DATA, "\\"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(subkey_names(HKEY_LOCAL_MACHINE), std::vector<std::string>{"Keep"});

    // An empty subkey deletes the handle's own key.
    EXPECT_EQ(RegDeleteKeyA(k, ""), ERROR_SUCCESS);
    EXPECT_TRUE(subkey_names(HKEY_LOCAL_MACHINE).empty());
}

TEST_F(RegistryKeys, EnumKeyNameBufferTooSmallCopiesNothing)
{
    Key k(make_key("Enum\\Root\\Ports\\0001"));
    Key ports;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports", 0, KEY_READ, ports.out()), ERROR_SUCCESS);
    char name[8];
    std::memset(name, 0xbd, sizeof name);
    DWORD len = 4; // "0001" needs 5 with its NUL
    EXPECT_EQ(RegEnumKeyExA(ports, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(static_cast<BYTE>(name[0]), 0xbd);
    len = 5;
    FILETIME ft{};
    EXPECT_EQ(RegEnumKeyExA(ports, 0, name, &len, nullptr, nullptr, nullptr, &ft), ERROR_SUCCESS);
    EXPECT_STREQ(name, "0001");
    EXPECT_EQ(len, 4u);
    EXPECT_NE(ft.dwHighDateTime, 0u);
}

TEST_F(RegistryKeys, EachMachineRootHasItsOwnRegistry)
{
    Key first(make_key("Only\\InFirst"));
    ASSERT_NE(first.get(), nullptr);
    {
        TempRoot second;
        Key k;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Only", 0, KEY_READ, k.out()), ERROR_FILE_NOT_FOUND);
        Key mine(make_key("Only\\InSecond"));
        // A handle stays with the database it was opened in.
        const BYTE v[] = "1";
        EXPECT_EQ(RegSetValueExA(first, "V", 0, REG_SZ, v, sizeof v), ERROR_SUCCESS);
        EXPECT_EQ(RegQueryValueExA(mine, "V", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    }
    Key only;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Only", 0, KEY_READ, only.out()), ERROR_SUCCESS);
    EXPECT_EQ(subkey_names(only), std::vector<std::string>{"InFirst"});
    EXPECT_EQ(RegQueryValueExA(first, "V", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
}

} // namespace
} // namespace kolm::test
