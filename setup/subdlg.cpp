// The Service Selection dialog, the IP and IPX Service dialogs that add to
// it, and the splash shown at start.
#include "kolmset32.h"

#include "nwservi.h"

#include <cstdio>

namespace {

const char kSelectionError[] = "Selection Error";
const char kTooLong[] = "A service name can be at most 47 characters long.";

// Whether this opening of the Service Selection dialog changed its list
// (Remove, First, Last or an added service). dialog_changes_made alone
// cannot tell: the IP and IPX dialogs clear it before they open.
int sub_list_changed = 0;

int list_count(HWND hDlg, int id)
{
    const LRESULT n = SendDlgItemMessageA(hDlg, id, LB_GETCOUNT, 0, 0);
    return n > 0 ? static_cast<int>(n) : 0;
}

bool item_selected(HWND hDlg, int i)
{
    return SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0;
}

// Entry i of the Selected Services list into `out` (LIST_ENTRY_LEN bytes).
// Entries are put there by this program and always fit; one that does not
// reads as empty rather than past the buffer.
void read_entry(HWND hDlg, int i, char* out)
{
    out[0] = '\0';
    const LRESULT len = SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (len == LB_ERR || len >= LIST_ENTRY_LEN)
        return;
    SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(out));
}

void move_entry(HWND hDlg, int from, int to)
{
    char text[LIST_ENTRY_LEN];
    read_entry(hDlg, from, text);
    SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_DELETESTRING, static_cast<WPARAM>(from), 0);
    SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_INSERTSTRING, static_cast<WPARAM>(to),
                        reinterpret_cast<LPARAM>(text));
    SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_SETSEL, TRUE, to);
}

void update_buttons(HWND hDlg)
{
    const BOOL any = SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_GETSELCOUNT, 0, 0) > 0;
    EnableWindow(GetDlgItem(hDlg, IDC_SEL_FIRST), any);
    EnableWindow(GetDlgItem(hDlg, IDC_SEL_LAST), any);
    EnableWindow(GetDlgItem(hDlg, IDC_SEL_REMOVE), any);
}

void init_selection(HWND hDlg)
{
    sub_list_changed = 0;
    SendDlgItemMessageA(hDlg, IDC_SEL_LIST, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < MAX_SERVICES; ++i) {
        if (ports[0].serv[i].name[0] == '\0')
            continue;
        char line[LIST_ENTRY_LEN];
        desc_to_string(line, &ports[0].serv[i]);
        SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    SendDlgItemMessageA(hDlg, IDC_SEL_LIST, WM_SETREDRAW, TRUE, 0);
    char port[PORT_NAME_LEN + 8];
    wsprintfA(port, "%s", portName);
    SetDlgItemTextA(hDlg, IDC_SEL_PORT, port);
    SendMessageA(hDlg, WM_COMMAND, IDC_SEL_LIST, 0x10000);
    subDlg = hDlg;
}

void take_list_over(HWND hDlg)
{
    const int n = list_count(hDlg, IDC_SEL_LIST);
    for (int i = 0; i < MAX_SERVICES; ++i) {
        if (i < n) {
            char text[LIST_ENTRY_LEN];
            read_entry(hDlg, i, text);
            string_to_desc(text, &ports[0].serv[i]);
        } else {
            ports[0].serv[i].name[0] = '\0';
        }
    }
    // NOTE: a Remove, First or Last of this opening is a change even when
    // an Add dialog opened after it was cancelled: the main dialog must
    // show the list now in memory and know that it is not saved.
    if (sub_list_changed)
        dialog_changes_made = 1;
}

void move_first(HWND hDlg)
{
    const int n = list_count(hDlg, IDC_SEL_LIST);
    int k = 0;
    for (int i = 0; i < n; ++i)
        if (item_selected(hDlg, i))
            move_entry(hDlg, i, k++);
}

void move_last(HWND hDlg)
{
    const int n = list_count(hDlg, IDC_SEL_LIST);
    int k = n - 1;
    for (int i = n - 1; i >= 0; --i)
        if (item_selected(hDlg, i))
            move_entry(hDlg, i, k--);
}

void remove_selected(HWND hDlg)
{
    for (int i = MAX_SERVICES - 1; i >= 0; --i)
        if (item_selected(hDlg, i))
            SendDlgItemMessageA(hDlg, IDC_SEL_LIST, LB_DELETESTRING, static_cast<WPARAM>(i), 0);
    SendMessageA(hDlg, WM_COMMAND, IDC_SEL_LIST, 0x10000);
}

// Add IP and Add IPX: the dialog for a new service, unless the list is full.
void add_service(HWND hDlg, WORD resource, DLGPROC proc)
{
    if (isListFull(hDlg))
        return;
    dialog_changes_made = 0;
    DialogBoxParamA(ghInst, MAKEINTRESOURCE(resource), hDlg, proc, 0);
    if (dialog_changes_made == 1) {
        sub_list_changed = 1;
        any_changes_made = 1;
        sync_window_to_data();
    }
}

void add_to_selected(const char* prefix, const char* name)
{
    char line[LIST_ENTRY_LEN];
    wsprintfA(line, "%s%s", prefix, name);
    SendDlgItemMessageA(subDlg, IDC_SEL_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    dialog_changes_made = 1;
}

void help(HWND hDlg)
{
    WinHelpA(hDlg, HELP_FILE, HELP_KEY, reinterpret_cast<ULONG_PTR>("Service Selection Dialog"));
}

// What the IP and IPX Service dialogs do alike: Cancel, Help, WM_DESTROY.
// True when the message was one of those, with the procedure's result.
bool new_service_common(HWND hDlg, WORD message, WORD id, INT_PTR& result)
{
    if (message == WM_DESTROY) {
        EndDialog(hDlg, 0);
        result = TRUE;
        return true;
    }
    if (message != WM_COMMAND)
        return false;
    if (id == IDCANCEL) {
        dialog_changes_made = 0;
        EndDialog(hDlg, IDCANCEL);
        result = TRUE;
        return true;
    }
    if (id == IDHELP) {
        help(hDlg);
        result = FALSE;
        return true;
    }
    return false;
}

} // namespace

int isListFull(HWND hDlg)
{
    if (list_count(subDlg, IDC_SEL_LIST) + 1 > MAX_SERVICES) {
        MessageBoxA(hDlg, "The Selected Service list is full.", kSelectionError, MB_OK);
        return 1;
    }
    return 0;
}

INT_PTR CALLBACK SubDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (static_cast<WORD>(message)) {
    case WM_INITDIALOG:
        init_selection(hDlg);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            take_list_over(hDlg);
            EndDialog(hDlg, IDOK);
            return TRUE;
        case IDCANCEL:
            dialog_changes_made = 0;
            EndDialog(hDlg, IDCANCEL);
            return TRUE;
        case IDHELP:
            help(hDlg);
            return FALSE;
        case IDC_SEL_LIST:
            update_buttons(hDlg);
            return TRUE;
        case IDC_SEL_FIRST:
            move_first(hDlg);
            dialog_changes_made = sub_list_changed = 1;
            return TRUE;
        case IDC_SEL_LAST:
            move_last(hDlg);
            dialog_changes_made = sub_list_changed = 1;
            return TRUE;
        case IDC_SEL_REMOVE:
            remove_selected(hDlg);
            dialog_changes_made = sub_list_changed = 1;
            return TRUE;
        case IDC_SEL_ADD_IP:
            add_service(hDlg, IDD_IP_SERVICE, IPDialogProc);
            return FALSE;
        case IDC_SEL_ADD_IPX:
            add_service(hDlg, IDD_IPX_SERVICE, IPXDialogProc);
            return FALSE;
        }
        return FALSE;
    case WM_DESTROY:
        EndDialog(hDlg, 0);
        return TRUE;
    }
    return FALSE;
}

int Add_New_Service(HWND hDlg)
{
    char text[EDIT_TEXT_LEN];
    char host[EDIT_TEXT_LEN];
    GetDlgItemTextA(hDlg, IDC_IP_HOST, text, EDIT_TEXT_LEN);
    if (std::sscanf(text, "%79s", host) != 1) {
        MessageBoxA(hDlg, "You must enter the name of the server to redirect to or its IP Address.",
                    kSelectionError, MB_OK);
        return TRUE;
    }
    unsigned number;
    GetDlgItemTextA(hDlg, IDC_IP_PORT, text, EDIT_TEXT_LEN);
    if (std::sscanf(text, "%u", &number) != 1) {
        MessageBoxA(hDlg, "You must enter the (decimal) number of the port to redirect to.", kSelectionError,
                    MB_OK);
        return TRUE;
    }
    // NOTE: a name that would not fit a service record is refused here,
    // before anything is cut or written past a buffer.
    char name[SERVICE_NAME_LEN];
    if (make_ip_service_name(host, number, name) != 0) {
        MessageBoxA(hDlg, kTooLong, kSelectionError, MB_OK);
        return TRUE;
    }
    add_to_selected("[IP ]", name);
    return TRUE;
}

INT_PTR CALLBACK IPDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    INT_PTR result;
    if (new_service_common(hDlg, static_cast<WORD>(message), LOWORD(wParam), result))
        return result;
    switch (static_cast<WORD>(message)) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(hDlg, IDOK);
            return Add_New_Service(hDlg);
        }
        return FALSE;
    }
    return FALSE;
}

int addIPXService(HWND hDlg, int listbox)
{
    const LRESULT sel = SendDlgItemMessageA(hDlg, listbox, LB_GETCURSEL, 0, 0);
    if (sel == LB_ERR)
        return TRUE;
    const LRESULT len = SendDlgItemMessageA(hDlg, listbox, LB_GETTEXTLEN, static_cast<WPARAM>(sel), 0);
    if (len == LB_ERR)
        return TRUE;
    // NOTE: a SAP name can hold 48 characters, one more than a service
    // record: such a name is refused rather than cut into another name.
    if (len >= SERVICE_NAME_LEN) {
        MessageBoxA(hDlg, kTooLong, kSelectionError, MB_OK);
        return TRUE;
    }
    char name[SERVICE_NAME_LEN];
    SendDlgItemMessageA(hDlg, listbox, LB_GETTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(name));
    add_to_selected("[IPX]", name);
    return TRUE;
}

INT_PTR CALLBACK IPXDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result;
    if (new_service_common(hDlg, static_cast<WORD>(message), LOWORD(wParam), result))
        return result;
    switch (static_cast<WORD>(message)) {
    case WM_INITDIALOG:
        restore_service_list(hDlg, IDC_IPX_LIST);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(hDlg, IDOK);
            return addIPXService(hDlg, IDC_IPX_LIST);
        case IDC_IPX_POLL: {
            HWND button = reinterpret_cast<HWND>(lParam);
            SetWindowTextA(button, "Polling...");
            gatherServices(hDlg, IDC_IPX_LIST, nullptr, nullptr, nullptr);
            SetWindowTextA(button, "Poll");
            return TRUE;
        }
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK SplashDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (static_cast<WORD>(message)) {
    case WM_INITDIALOG:
        SetTimer(hDlg, SPLASH_TIMER, SPLASH_MS, nullptr);
        return TRUE;
    case WM_COMMAND:
    case WM_TIMER:
        if (LOWORD(wParam) == IDC_SPLASH_OK)
            KillTimer(hDlg, SPLASH_TIMER);
        EndDialog(hDlg, 0);
        return TRUE;
    case WM_DESTROY:
        EndDialog(hDlg, 0);
        return TRUE;
    }
    return FALSE;
}
