// Stock icons, cursors and GDI objects. Nothing is drawn by the layer, so
// these are tokens: non-null, distinct, and stable for a renderer to map.
#include "user/user_area.h"

#include <cstring>
#include <mutex>
#include <set>

namespace {

// Token ranges, one per kind, so a handle says what it stands for.
constexpr uintptr_t icon_base = 0x00010000;
constexpr uintptr_t cursor_base = 0x00020000;
constexpr uintptr_t stock_object_base = 0x00030000;
constexpr uintptr_t program_icon_base = 0x00040000;

// The ids of the icons this program carries. Nothing draws them yet (the
// only window given one is never shown), so the picture is checked and
// the id kept.
struct ProgramIcons {
    std::mutex lock;
    std::set<WORD> ids;
};

ProgramIcons& program_icons()
{
    static ProgramIcons icons;
    return icons;
}

bool program_icon(uintptr_t id)
{
    auto& icons = program_icons();
    std::lock_guard hold(icons.lock);
    return id <= 0xFFFF && icons.ids.count(static_cast<WORD>(id)) != 0;
}

bool stock_icon(uintptr_t id)
{
    return id >= 32512 && id <= 32517;
}

bool stock_cursor(uintptr_t id)
{
    return (id >= 32512 && id <= 32516) || (id >= 32642 && id <= 32646) || id == 32648 || id == 32650
        || id == 32651;
}

} // namespace

void RegisterIconResources(const ICON_DATA* icons, int count)
{
    auto& known = program_icons();
    std::lock_guard hold(known.lock);
    for (int i = 0; icons && i < count; ++i) {
        const ICON_DATA& icon = icons[i];
        bool whole = icon.resourceId != 0 && icon.width > 0 && icon.height > 0 && icon.rows;
        for (int r = 0; whole && r < icon.height; ++r)
            whole = icon.rows[r] && std::strlen(icon.rows[r]) == static_cast<size_t>(icon.width);
        if (whole)
            known.ids.insert(icon.resourceId);
    }
}

HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    // Without an instance, the system's own icons; with one, the icons the
    // program registered with its resources (by number only: none of ours
    // is named).
    const auto id = reinterpret_cast<uintptr_t>(lpIconName);
    if (!hInstance && IS_INTRESOURCE(lpIconName) && stock_icon(id))
        return reinterpret_cast<HICON>(icon_base + id);
    if (hInstance && IS_INTRESOURCE(lpIconName) && program_icon(id))
        return reinterpret_cast<HICON>(program_icon_base + id);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName)
{
    const auto id = reinterpret_cast<uintptr_t>(lpCursorName);
    if (!hInstance && IS_INTRESOURCE(lpCursorName) && stock_cursor(id))
        return reinterpret_cast<HCURSOR>(cursor_base + id);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HGDIOBJ GetStockObject(int i)
{
    if (i < WHITE_BRUSH || i > DEFAULT_GUI_FONT || i == 9)
        return nullptr;
    return reinterpret_cast<HGDIOBJ>(stock_object_base + static_cast<uintptr_t>(i));
}
