// The setup utility's service-list bookkeeping: the list form of an entry,
// the cache of the names a SAP poll found, and the IPX addresses that the
// list form cannot carry, remembered by name and given back before a save.
#include "kolmset32.h"

#include "nwservi.h"

serviInfo savePort[MAX_SERVICES];
HGLOBAL hservice_store = nullptr;
int size_service_store = 0;

namespace {

const char kListIp[] = "[IP ]";
const char kListIpx[] = "[IPX]";

// Copies at most n - 1 characters and always ends the copy.
void copy_cut(char* dst, const char* src, size_t n)
{
    const size_t len = strnlen(src, n - 1);
    memcpy(dst, src, len);
    dst[len] = '\0';
}

// Item i of a list box into `out` (n bytes), cut to fit; false when there
// is no such item.
bool list_item(HWND lb, int i, char* out, size_t n)
{
    const LRESULT len = SendMessageA(lb, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (len == LB_ERR)
        return false;
    // The item is read whole into a buffer of its own size, then cut: a
    // name found on the network has no bound of ours.
    char* whole = new char[static_cast<size_t>(len) + 1];
    const LRESULT got = SendMessageA(lb, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(whole));
    if (got == LB_ERR) {
        delete[] whole;
        return false;
    }
    whole[len] = '\0';
    copy_cut(out, whole, n);
    delete[] whole;
    return true;
}

} // namespace

void desc_to_string(char* line, const service_desc* desc)
{
    if (desc->protocol == PROTO_IP)
        wsprintfA(line, "%s%s", kListIp, desc->name);
    else if (desc->protocol == PROTO_IPX)
        wsprintfA(line, "%s%s", kListIpx, desc->name);
    else
        wsprintfA(line, "%s", desc->name);
}

void string_to_desc(const char* s, service_desc* desc)
{
    list_to_desc(s, desc);
}

int make_ip_service_name(const char* host, unsigned number, char* name)
{
    char digits[16];
    wsprintfA(digits, "%u", number);
    name[0] = '\0';
    if (strlen(host) + 1 + strlen(digits) > SERVICE_NAME_LEN - 1)
        return 1;
    wsprintfA(name, "%s:%s", host, digits);
    return 0;
}

void save_service_list(HWND lb)
{
    // NOTE: the block of a poll that found nothing is freed too, so that
    // polling again and again does not leave one block behind each time.
    if (hservice_store) {
        GlobalFree(hservice_store);
        hservice_store = nullptr;
    }
    const LRESULT count = SendMessageA(lb, LB_GETCOUNT, 0, 0);
    size_service_store = count > 0 ? static_cast<int>(count) : 0;
    hservice_store = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(SERVICE_NAME_LEN) * size_service_store);
    char* slots = hservice_store ? static_cast<char*>(GlobalLock(hservice_store)) : nullptr;
    if (!slots) {
        // Without a block there is no cache: the next opening polls again.
        size_service_store = 0;
        return;
    }
    for (int i = 0; i < size_service_store; ++i)
        if (!list_item(lb, i, slots + i * SERVICE_NAME_LEN, SERVICE_NAME_LEN))
            slots[i * SERVICE_NAME_LEN] = '\0';
    GlobalUnlock(hservice_store);
}

void restore_service_list(HWND hDlg, int listbox)
{
    if (size_service_store != 0) {
        const char* slots = static_cast<const char*>(GlobalLock(hservice_store));
        if (slots) {
            for (int i = 0; i < size_service_store; ++i)
                SendDlgItemMessageA(hDlg, listbox, LB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(slots + i * SERVICE_NAME_LEN));
            GlobalUnlock(hservice_store);
        }
        return;
    }
    gatherServices(hDlg, listbox, nullptr, nullptr, nullptr);
    save_service_list(GetDlgItem(hDlg, listbox));
}

void saveServiInfo(char gather)
{
    memset(savePort, 0, sizeof savePort);
    for (int i = 0; i < MAX_SERVICES; ++i) {
        service_desc& s = ports[0].serv[i];
        if (s.name[0] == '\0' || s.protocol != PROTO_IPX)
            continue;
        int found = 0;
        if (gather) {
            const int r = gatherServices(nullptr, 0, s.name, &s.addr, &found);
            found = r == 0 && found == 1;
        } else {
            found = 1;
        }
        if (found) {
            savePort[i].valid = 1;
            copy_cut(savePort[i].name, s.name, SERVICE_NAME_LEN);
            savePort[i].addr = s.addr;
        }
    }
}

void restoreServiInfo()
{
    for (int i = 0; i < MAX_SERVICES; ++i) {
        service_desc& s = ports[0].serv[i];
        if (s.name[0] == '\0' || s.protocol != PROTO_IPX)
            continue;
        for (const serviInfo& saved : savePort)
            if (saved.valid && strcmp(saved.name, s.name) == 0) {
                s.addr = saved.addr;
                break;
            }
    }
}
