// Stock icons, cursors and GDI objects. Nothing is drawn by the layer, so
// these are tokens: non-null, distinct, and stable for a renderer to map.
#include "user/user_area.h"

namespace {

// Token ranges, one per kind, so a handle says what it stands for.
constexpr uintptr_t icon_base = 0x00010000;
constexpr uintptr_t cursor_base = 0x00020000;
constexpr uintptr_t stock_object_base = 0x00030000;

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

HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    // The programs carry no icon resources: only the system's own icons,
    // asked for without an instance, exist.
    const auto id = reinterpret_cast<uintptr_t>(lpIconName);
    if (!hInstance && IS_INTRESOURCE(lpIconName) && stock_icon(id))
        return reinterpret_cast<HICON>(icon_base + id);
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
