// The installation sequence, the install script and the setup program's
// response file.
#include "install.h"

scriptInfo scriptData;
char doAuto;
char gotError;
HINSTANCE ghInst;
HWND hWndMain;
HWND hMainDlg;

namespace {

// WINDIR as read here holds at most this many characters: the response
// file path ("%s\kolmvx.iss") must fit its 99 characters and the setup
// command line ("second.exe -S -F1%s\kolmvx.iss -F2%s\kolmvx.log") its 199.
const DWORD kMaxWindir = 78;

const svInfo* serviceSlot(int type)
{
    switch (type) {
    case 2: return &scriptData.sv1;
    case 3: return &scriptData.sv2;
    case 4: return &scriptData.sv3;
    case 5: return &scriptData.sv4;
    }
    return nullptr;
}

svInfo* scriptSlot(char digit)
{
    switch (digit) {
    case '1': return &scriptData.sv1;
    case '2': return &scriptData.sv2;
    case '3': return &scriptData.sv3;
    case '4': return &scriptData.sv4;
    }
    return nullptr;
}

// True when `text` begins with `key`, letters compared without regard to
// case.
bool beginsWith(const char* text, const char* key)
{
    for (; *key; ++text, ++key) {
        if (std::toupper(static_cast<unsigned char>(*text)) != std::toupper(static_cast<unsigned char>(*key)))
            return false;
    }
    return true;
}

// Copies at most size - 1 characters and ends them.
void copyText(char* to, const char* from, size_t size)
{
    std::strncpy(to, from, size - 1);
    to[size - 1] = '\0';
}

void parseService(char* line)
{
    svInfo* sv = scriptSlot(line[2]);
    const char* value = std::strchr(line, '=');
    if (!sv || !value)
        return;
    ++value;
    if (beginsWith(value, "ipx")) {
        const char* name = std::strchr(value, ':');
        if (!name)
            return;
        copyText(sv->name, name + 1, sizeof sv->name);
        for (char* p = sv->name; *p; ++p)
            *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        sv->protocol = 2;
    } else if (beginsWith(value, "ip")) {
        const char* rest = std::strchr(value, ':');
        if (!rest)
            return;
        sv->protocol = 1;
        // Only host and port together ("myhost:23") make a name.
        if (std::strchr(rest + 1, ':'))
            copyText(sv->name, rest + 1, sizeof sv->name);
    }
}

int writeUninstall(HWND hWnd)
{
    HKEY hKey;
    DWORD disposition;
    LONG st = RegCreateKeyExA(HKEY_LOCAL_MACHINE, uninstKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &hKey, &disposition);
    if (st != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Couldn't create subkey %s: %d", uninstKeyName, static_cast<int>(st));
        return -1;
    }
    st = RegSetValueExA(hKey, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(productName),
                        static_cast<DWORD>(std::strlen(productName) + 1));
    if (st != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Can't set DisplayName value");
        RegCloseKey(hKey);
        return -1;
    }
    char uninstall[sizeof scriptData.path + 16];
    std::snprintf(uninstall, sizeof uninstall, "%s%s", scriptData.path, uninstProgName);
    st = RegSetValueExA(hKey, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(uninstall),
                        static_cast<DWORD>(std::strlen(uninstall) + 1));
    RegCloseKey(hKey);
    if (st != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Can't set UninstallString value");
        return -1;
    }
    return 0;
}

// Registers the driver and a new port, unless the scan found this product
// there already and the user agreed to update it. -1 when the
// installation ends here.
int registerPort(HWND hWnd, int scan, int* abort)
{
    if (scan == SCAN_INSTALLED) {
        if (QueryMsg(hWnd, "Redirector is already installed.  Update?") == 1)
            return 0;
        *abort = 1;
        return -1;
    }
    const resInfo* res = findFree();
    if (!res) {
        ErrMsg(hWnd, "Can't find a free resource");
        return -1;
    }
    char portSlot[16];
    if (doDriver(hWnd, portSlot) != 0) {
        ErrMsg(hWnd, "Error setting up driver section in Registry");
        return -1;
    }
    if (doPort(hWnd, portSlot, res) != 0) {
        ErrMsg(hWnd, "Error setting up port section in Registry");
        return -1;
    }
    return 0;
}

} // namespace

void checkPath(char* path)
{
    size_t len = std::strlen(path);
    if (len && path[len - 1] == '\\')
        return;
    // NOTE: a path that leaves no room for its backslash in the
    // 100-character field is cut to 98 characters first.
    if (len > sizeof scriptData.path - 2)
        len = sizeof scriptData.path - 2;
    path[len] = '\\';
    path[len + 1] = '\0';
}

void serviceText(const svInfo* sv, char* out, size_t size)
{
    if (sv->protocol == 2)
        std::snprintf(out, size, "IPX:00000000:00-00-00-00-00-01:%s", sv->name);
    else if (sv->protocol == 1)
        std::snprintf(out, size, "IP:%s", sv->name);
    else
        std::snprintf(out, size, "<empty>");
}

int parseScript(HWND, const char* scriptPath)
{
    TEXTFILE* f = textOpen(scriptPath, "r");
    if (!f)
        return -1;
    char line[100];
    while (textGets(line, sizeof line, f)) {
        line[std::strcspn(line, "\n")] = '\0';
        if (beginsWith(line, "path")) {
            const char* value = std::strchr(line, '=');
            if (value) {
                copyText(scriptData.path, value + 1, sizeof scriptData.path - 1);
                checkPath(scriptData.path);
            }
        } else if (beginsWith(line, "sv")) {
            parseService(line);
        }
    }
    textClose(f);
    return 0;
}

int doISS(HWND hWnd)
{
    char windir[kMaxWindir + 1];
    const DWORD len = GetEnvironmentVariableA("WINDIR", windir, sizeof windir);
    // NOTE: a WINDIR too long for the paths built from it is refused like
    // a missing one, rather than cut into a path that names another file.
    if (len == 0 || len > kMaxWindir) {
        ErrMsg(hWnd, "Couldn't get windir");
        return -1;
    }
    char issPath[100];
    std::snprintf(issPath, sizeof issPath, "%s\\%s", windir, srFile);
    TEXTFILE* f = textOpen(issPath, "w");
    if (!f) {
        ErrMsg(hWnd, "Can't open %s for writing", issPath);
        return -1;
    }
    std::snprintf(scriptData.setupCmd, sizeof scriptData.setupCmd, "%s -F1%s -F2%s\\%s", setupCmd, issPath, windir,
                  logFile);
    char text[sizeof scriptData.sv1.name + 40];
    for (int i = 0; issLines[i].string[0]; ++i) {
        const issInfo& row = issLines[i];
        if (row.type == 0)
            textPuts(row.string, f);
        else if (row.type == 1)
            textPuts(scriptData.path, f);
        else if (const svInfo* sv = serviceSlot(row.type)) {
            serviceText(sv, text, sizeof text);
            textPuts(text, f);
        }
    }
    textClose(f);
    return 0;
}

int stopKolm32()
{
    HWND runtime = FindWindowA("kolm32", "kolm32");
    if (!runtime)
        return 0;
    PostMessageA(runtime, WM_DESTROY, 0, 0);
    Sleep(2000);
    return 1;
}

int doit(HWND hWnd, int* abort)
{
    *abort = 0;
    if (doISS(hWnd) != 0)
        return 0;
    curPort = 0;
    HKEY hEnum = nullptr;
    const int scan = scanPorts(hWnd, &hEnum);
    const bool go_on = scan != SCAN_FAILED && registerPort(hWnd, scan, abort) == 0 && writeUninstall(hWnd) == 0;
    if (hEnum)
        RegCloseKey(hEnum);
    if (!go_on)
        return 0;
    stopKolm32();
    WinExec(scriptData.setupCmd, SW_SHOWNORMAL);
    return 0;
}
