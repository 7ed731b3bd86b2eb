// The main dialog kept in step with the data: the service list shown, and
// the runtime's status.
#include "kolmset32.h"

#include "kolmmsg.h"

const char* const redstat[4] = { "Unknown", "Not Loaded", "Idle", "Connected" };

void sync_window_to_data()
{
    SendDlgItemMessageA(hMainDlg, IDC_MAIN_LIST, WM_SETREDRAW, FALSE, 0);
    while (SendDlgItemMessageA(hMainDlg, IDC_MAIN_LIST, LB_DELETESTRING, 0, 0) != LB_ERR) {
    }
    for (int i = 0; i < MAX_SERVICES; ++i) {
        const service_desc& s = ports[0].serv[i];
        if (s.name[0] == '\0')
            continue;
        char line[LIST_ENTRY_LEN];
        wsprintfA(line, "%s%s", s.protocol == PROTO_IP ? "[IP ]" : "[IPX]", s.name);
        SendDlgItemMessageA(hMainDlg, IDC_MAIN_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    SendDlgItemMessageA(hMainDlg, IDC_MAIN_LIST, WM_SETREDRAW, TRUE, 0);
}

void status_text(DWORD status, char* out)
{
    const unsigned code = status & 0xFF;
    const unsigned index = (status >> 8) & 0xFF;
    // NOTE: the runtime sends no code above 3 nor an index above 3; one
    // that arrives all the same reads as a state we do not know, rather
    // than a text or a service from past the end of a table.
    if (code > 3 || (code == 3 && index >= MAX_SERVICES)) {
        wsprintfA(out, "%s", redstat[0]);
        return;
    }
    if (code == 3) {
        const service_desc& s = ports[0].serv[index];
        wsprintfA(out, "%s to %s over %s", redstat[3], s.name, s.protocol == PROTO_IP ? "IP" : "IPX");
        return;
    }
    wsprintfA(out, "%s", redstat[code]);
}

void sync_tsr_status(HWND hApp)
{
    // A window that is gone answers 0, which reads as "Unknown".
    const DWORD status = hApp ? static_cast<DWORD>(SendMessageA(hApp, WM_GET_STATUS, 0, 0)) : 0;
    char text[STATUS_TEXT_LEN];
    status_text(status, text);
    SetDlgItemTextA(hMainDlg, IDC_MAIN_STATUS, text);
}
