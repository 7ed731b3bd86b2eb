// The dialog templates a program has registered, kept as our own copies so
// a template stays valid however the caller's arrays live.
#pragma once

#include "dialog/dialog_area.h"

#include <optional>
#include <string>
#include <vector>

namespace kolm::platform {

struct DialogItem {
    std::string class_name;
    std::string text;
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0; // dialog units
    WORD id = 0;                        // 16 bits: -1 in a template is 0xFFFF
};

struct DialogTemplate {
    WORD resource_id = 0;  // 0: found by name only
    std::string name;      // empty: found by id only
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0; // dialog units
    std::string caption;
    std::string font;
    WORD point_size = 0;
    std::vector<DialogItem> items;
};

// Adds templates; one with the id or name of an earlier one replaces it.
void register_dialog_templates(const DLGTEMPLATE_DATA* templates, int count);

// By MAKEINTRESOURCE(id), by "#id", or by name (case-insensitive).
std::optional<DialogTemplate> find_dialog_template(LPCSTR name);

} // namespace kolm::platform
