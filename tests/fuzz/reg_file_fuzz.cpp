// The REGEDIT4 reader of kolmreg, and the property every file it accepts
// must keep: applied to an empty registry, exported, imported into an empty
// registry again and exported once more, it gives the same text.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "machine_env.h"
#include "reg_file.h"
#include "kolm/registry_tree.h"

namespace {

using kolm::platform::Hive;
using kolm::platform::RegEdit;

const Hive kHives[] = {Hive::LocalMachine, Hive::DynData};

// Both hives empty again: every subkey of each root deleted, and the roots'
// own values.
void wipe()
{
    std::vector<RegEdit> edits;
    for (Hive hive : kHives) {
        kolm::platform::RegKeyNode root;
        if (kolm::platform::read_registry_tree(hive, "", root) != ERROR_SUCCESS)
            continue;
        for (const auto& sub : root.subkeys) {
            RegEdit e;
            e.kind = RegEdit::Kind::DeleteKey;
            e.hive = hive;
            e.path = sub.name;
            edits.push_back(e);
        }
        RegEdit values;
        values.kind = RegEdit::Kind::DeleteAllValues;
        values.hive = hive;
        edits.push_back(values);
    }
    FUZZ_CHECK(kolm::platform::apply_registry_edits(edits) == ERROR_SUCCESS, "the registry could not be emptied");
}

// The whole hive as export writes it.
std::string exported(Hive hive)
{
    kolm::platform::RegKeyNode root;
    std::string path, text, why;
    FUZZ_CHECK(kolm::platform::read_registry_tree(hive, "", root, &path) == ERROR_SUCCESS, "the hive cannot be read");
    FUZZ_CHECK(kolm::kolmreg::format_reg_file(hive, path, root, text, why), "an imported name cannot be exported");
    return text;
}

// Parses and applies a file; false when kolmreg's import would refuse it.
bool import(std::string_view text)
{
    std::vector<kolm::kolmreg::ParsedEdit> parsed;
    kolm::kolmreg::ParseError error;
    if (!kolm::kolmreg::parse_reg_file(text, parsed, error))
        return false;
    std::vector<RegEdit> edits;
    for (const auto& p : parsed)
        edits.push_back(p.edit);
    return kolm::platform::apply_registry_edits(edits) == ERROR_SUCCESS;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static kolm::test::TempRoot root;
    wipe();
    if (!import(std::string_view(reinterpret_cast<const char*>(data), size)))
        return 0;
    std::string first[2];
    for (int h = 0; h < 2; ++h)
        first[h] = exported(kHives[h]);
    wipe();
    for (int h = 0; h < 2; ++h)
        FUZZ_CHECK(import(first[h]), "an exported file is not imported again");
    for (int h = 0; h < 2; ++h)
        FUZZ_CHECK(exported(kHives[h]) == first[h], "export, import and export again differ");
    return 0;
}
