#include "dialog/dialog_resources.h"
#include "internal/nocase.h"

#include "user/window.h"

#include <cstdlib>
#include <mutex>

namespace kolm::platform {

namespace {

std::mutex& templates_lock()
{
    static auto* m = new std::mutex;
    return *m;
}

std::vector<DialogTemplate>& templates()
{
    static auto* t = new std::vector<DialogTemplate>;
    return *t;
}

DialogTemplate copy_template(const DLGTEMPLATE_DATA& d)
{
    DialogTemplate t;
    t.resource_id = d.resourceId;
    t.name = d.resourceName && !IS_INTRESOURCE(d.resourceName) ? d.resourceName : "";
    t.style = d.style;
    t.ex_style = d.exStyle;
    t.x = d.x;
    t.y = d.y;
    t.cx = d.cx;
    t.cy = d.cy;
    t.caption = d.caption ? d.caption : "";
    t.font = d.fontName ? d.fontName : "";
    t.point_size = d.pointSize;
    for (int i = 0; d.items && i < d.itemCount; ++i) {
        const DLGITEM_DATA& s = d.items[i];
        DialogItem item;
        item.class_name = s.className ? s.className : "";
        item.text = s.text && !IS_INTRESOURCE(s.text) ? s.text : "";
        item.style = s.style;
        item.ex_style = s.exStyle;
        item.x = s.x;
        item.y = s.y;
        item.cx = s.cx;
        item.cy = s.cy;
        item.id = static_cast<WORD>(s.id);
        t.items.push_back(std::move(item));
    }
    return t;
}

bool same_key(const DialogTemplate& a, const DialogTemplate& b)
{
    return (a.resource_id && a.resource_id == b.resource_id) || (!a.name.empty() && equal_nocase(a.name, b.name));
}

} // namespace

void register_dialog_templates(const DLGTEMPLATE_DATA* list, int count)
{
    if (!list || count <= 0)
        return;
    std::lock_guard lock(templates_lock());
    auto& all = templates();
    for (int i = 0; i < count; ++i) {
        DialogTemplate t = copy_template(list[i]);
        if (!t.resource_id && t.name.empty())
            continue; // nothing could ever name it
        std::erase_if(all, [&](const DialogTemplate& old) { return same_key(old, t); });
        all.push_back(std::move(t));
    }
}

std::optional<DialogTemplate> find_dialog_template(LPCSTR name)
{
    if (!name)
        return std::nullopt;
    WORD id = 0;
    std::string text;
    if (IS_INTRESOURCE(name)) {
        id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    } else if (name[0] == '#') {
        char* end = nullptr;
        const unsigned long v = std::strtoul(name + 1, &end, 10);
        if (end && *end == '\0' && v > 0 && v <= 0xFFFF)
            id = static_cast<WORD>(v);
    } else {
        text = name;
    }
    if (!id && text.empty())
        return std::nullopt;
    std::lock_guard lock(templates_lock());
    for (const auto& t : templates())
        if ((id && t.resource_id == id) || (!text.empty() && !t.name.empty() && equal_nocase(t.name, text)))
            return t;
    return std::nullopt;
}

} // namespace kolm::platform
