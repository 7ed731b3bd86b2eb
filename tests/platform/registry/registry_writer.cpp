// Helper process for the registry tests: writes to the registry of the
// machine root in KOLM_ROOT while a test watches from another process.
//
//   registry_writer write PREFIX COUNT
//       Sets HKLM\Shared\PREFIX<i> = i (REG_DWORD) for i < COUNT, reading
//       each back at once. Exit 0 when every write and read succeeded.
//   registry_writer churn
//       Repeats generations g = 1, 2, ...: one batch setting the 40 values
//       of HKLM\Batch to g, then a subtree created and deleted again. After
//       each generation prints "g" on a line. Stops by itself after 100000.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kolm/registry_tree.h"
#include "win32/registry.h"

namespace {

int fail(const char* what, LONG st)
{
    std::fprintf(stderr, "registry_writer: %s failed: %d\n", what, static_cast<int>(st));
    return 2;
}

int write_values(const std::string& prefix, DWORD count)
{
    HKEY key = nullptr;
    if (LONG st = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr);
        st != ERROR_SUCCESS)
        return fail("create", st);
    for (DWORD i = 0; i < count; ++i) {
        const std::string name = prefix + std::to_string(i);
        if (LONG st = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4);
            st != ERROR_SUCCESS)
            return fail("set", st);
        DWORD got = 0, size = 4, type = 0;
        if (LONG st = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&got), &size);
            st != ERROR_SUCCESS || got != i || type != REG_DWORD)
            return fail("read back", st);
    }
    RegCloseKey(key);
    return 0;
}

int churn()
{
    using kolm::platform::RegEdit;
    for (DWORD g = 1; g <= 100000; ++g) {
        std::vector<RegEdit> batch;
        for (int i = 0; i < 40; ++i) {
            RegEdit e;
            e.kind = RegEdit::Kind::SetValue;
            e.path = "Batch";
            e.name = "V" + std::to_string(i);
            e.type = REG_DWORD;
            e.data.assign(reinterpret_cast<const BYTE*>(&g), reinterpret_cast<const BYTE*>(&g) + 4);
            batch.push_back(std::move(e));
        }
        if (LONG st = kolm::platform::apply_registry_edits(batch); st != ERROR_SUCCESS)
            return fail("batch", st);

        HKEY key = nullptr;
        const std::string path = "Churn\\G" + std::to_string(g) + "\\Deep\\Deeper";
        if (LONG st = RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key); st != ERROR_SUCCESS)
            return fail("create", st);
        RegSetValueExA(key, "X", 0, REG_BINARY, reinterpret_cast<const BYTE*>(path.data()),
                       static_cast<DWORD>(path.size()));
        RegCloseKey(key);
        if (LONG st = RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Churn"); st != ERROR_SUCCESS)
            return fail("delete", st);

        std::printf("%u\n", static_cast<unsigned>(g));
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "write") == 0)
        return write_values(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    if (argc == 2 && std::strcmp(argv[1], "churn") == 0)
        return churn();
    std::fprintf(stderr, "usage: registry_writer write PREFIX COUNT | churn\n");
    return 1;
}
