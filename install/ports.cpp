// The installer's work on the device registry: the scan of the COM ports
// the configuration manager knows, the choice of a free COM name and I/O
// base, the port driver's class entry and the new port's device entry.
#include "install.h"
#include "kolmids.h"

portInfo Ports[maxPorts];
int curPort;

namespace {

enum { NODE_SKIPPED, NODE_RECORDED, NODE_INSTALLED, NODE_FAILED };

// A string value of at most `size` bytes, always ended with a NUL (a value
// that fills the buffer without one loses its last character).
LONG getString(HKEY hKey, const char* name, char* buf, DWORD size)
{
    DWORD cb = size;
    const LONG st = RegQueryValueExA(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb);
    if (st != ERROR_SUCCESS)
        return st;
    buf[cb < size ? cb : size - 1] = '\0';
    return ERROR_SUCCESS;
}

WORD word(const BYTE* p)
{
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

void putWord(BYTE* p, WORD v)
{
    p[0] = static_cast<BYTE>(v & 0xFF);
    p[1] = static_cast<BYTE>(v >> 8);
}

// The port's I/O range from a node's "Allocation": at byte offsets 20 and
// 22 with selector 0 at offset 4, at 36 and 38 with selector 1. False for
// another selector, or an allocation too short to hold its range.
bool interpretAllocation(const BYTE* alloc, DWORD size, WORD* start, WORD* end)
{
    if (size < 6)
        return false;
    const WORD selector = word(alloc + 4);
    const DWORD at = selector == 0 ? 20 : selector == 1 ? 36 : 0;
    if (!at || size < at + 4)
        return false;
    *start = word(alloc + at);
    *end = word(alloc + at + 2);
    return true;
}

// One device node of the scan.
int scanNode(HWND hWnd, const char* node)
{
    char nodePath[64];
    std::snprintf(nodePath, sizeof nodePath, "%s\\%s", enumPath, node);
    HKEY hNode;
    if (RegOpenKeyExA(HKEY_DYN_DATA, nodePath, 0, KEY_READ, &hNode) != ERROR_SUCCESS)
        return NODE_SKIPPED;
    char hardwareKey[100];
    HKEY hDevice;
    char devicePath[sizeof hardwareKey + 8];
    if (getString(hNode, "HardWareKey", hardwareKey, sizeof hardwareKey) != ERROR_SUCCESS) {
        RegCloseKey(hNode);
        return NODE_SKIPPED;
    }
    std::snprintf(devicePath, sizeof devicePath, "Enum\\%s", hardwareKey);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, devicePath, 0, KEY_READ, &hDevice) != ERROR_SUCCESS) {
        RegCloseKey(hNode);
        return NODE_SKIPPED;
    }

    int result = NODE_RECORDED;
    portInfo port = {};
    char mfg[100];
    BYTE alloc[400];
    DWORD allocSize = sizeof alloc;
    LONG st;
    if (getString(hDevice, "PORTNAME", port.name, sizeof port.name) != ERROR_SUCCESS
        || std::strncmp(port.name, "COM", 3) != 0) {
        result = NODE_SKIPPED;
    } else if (getString(hDevice, "Mfg", mfg, sizeof mfg) == ERROR_SUCCESS && std::strcmp(mfg, KOLM_MAKER) == 0) {
        result = NODE_INSTALLED;
    } else if ((st = getString(hDevice, "Driver", port.driver, sizeof port.driver)) != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Couldn't read Driver for %s: %d", devicePath, static_cast<int>(st));
        result = NODE_FAILED;
    } else if ((st = RegQueryValueExA(hNode, "Allocation", nullptr, nullptr, alloc, &allocSize)) != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Couldn't read Allocation for %s: %d", nodePath, static_cast<int>(st));
        result = NODE_FAILED;
    } else if (!interpretAllocation(alloc, allocSize, &port.ioStart, &port.ioEnd)) {
        ErrMsg(hWnd, "Couldn't interpret Allocation for %s: %d", port.name, 0);
        result = NODE_FAILED;
    } else {
        Ports[curPort++] = port;
    }
    RegCloseKey(hDevice);
    RegCloseKey(hNode);
    return result;
}

LONG setSz(HKEY hKey, const char* name, const char* text)
{
    return RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1));
}

// One value the installer writes, and what it says when it cannot.
struct ValueRow {
    const char* name;
    DWORD type;
    const void* data;
    DWORD size; // REG_SZ: 0, the text's length with its NUL is taken
    const char* failure;
};

LONG writeValues(HWND hWnd, HKEY hKey, const ValueRow* rows, int count)
{
    for (int i = 0; i < count; ++i) {
        const ValueRow& row = rows[i];
        const LONG st = row.type == REG_SZ
            ? setSz(hKey, row.name, static_cast<const char*>(row.data))
            : RegSetValueExA(hKey, row.name, 0, row.type, static_cast<const BYTE*>(row.data), row.size);
        if (st != ERROR_SUCCESS) {
            ErrMsg(hWnd, "%s", row.failure);
            return st;
        }
    }
    return ERROR_SUCCESS;
}

// Creates the subkey `name` of `parent` (at `parentPath`, for the
// messages). 0 with hSub set when it was created new; the failing status
// after an error box; ERROR_ALREADY_EXISTS after the "not created new" box.
LONG createSubkey(HWND hWnd, HKEY parent, const char* parentPath, const char* name, HKEY* hSub)
{
    *hSub = nullptr;
    DWORD disposition = 0;
    const LONG st = RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, hSub,
                                    &disposition);
    if (st != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Couldn't create subkey %s at %s", name, parentPath);
        return st;
    }
    if (disposition != REG_CREATED_NEW_KEY) {
        ErrMsg(hWnd, "Subkey %s at %s not created new", name, parentPath);
        RegCloseKey(*hSub);
        *hSub = nullptr;
        return ERROR_ALREADY_EXISTS;
    }
    return ERROR_SUCCESS;
}

// Creates the next numbered subkey of `parent`, named in `name`, as
// createSubkey does.
LONG createNumbered(HWND hWnd, HKEY parent, const char* parentPath, char* name, size_t size, HKEY* hSub)
{
    *hSub = nullptr;
    if (const LONG st = nextSubkey(parent, name, size); st != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Couldn't create subkey %s at %s", name, parentPath);
        return st;
    }
    return createSubkey(hWnd, parent, parentPath, name, hSub);
}

// Opens Enum\Root\Ports, making it when Enum\Root has none yet. 0 with
// hPorts set; ERROR_ALREADY_EXISTS after the "not created new" box;
// otherwise the failing status after an error box.
LONG openPorts(HWND hWnd, HKEY* hPorts)
{
    LONG st = RegOpenKeyExA(HKEY_LOCAL_MACHINE, portPath, 0, KEY_ALL_ACCESS, hPorts);
    if (st == ERROR_SUCCESS)
        return st;
    if (st != ERROR_FILE_NOT_FOUND) {
        ErrMsg(hWnd, "Couldn't open %s: %d", portPath, static_cast<int>(st));
        return st;
    }
    HKEY hAbove;
    st = RegOpenKeyExA(HKEY_LOCAL_MACHINE, abovePath, 0, KEY_ALL_ACCESS, &hAbove);
    if (st != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Couldn't open %s", abovePath);
        return st;
    }
    st = createSubkey(hWnd, hAbove, abovePath, "Ports", hPorts);
    RegCloseKey(hAbove);
    return st;
}

} // namespace

int scanPorts(HWND hWnd, HKEY* hEnum)
{
    const LONG st = RegOpenKeyExA(HKEY_DYN_DATA, enumPath, 0, KEY_READ, hEnum);
    if (st != ERROR_SUCCESS) {
        *hEnum = nullptr;
        ErrMsg(hWnd, "Couldn't open %s: %d", enumPath, static_cast<int>(st));
        return SCAN_FAILED;
    }
    for (DWORD index = 0;; ++index) {
        char node[20];
        DWORD len = sizeof node;
        if (RegEnumKeyExA(*hEnum, index, node, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        switch (scanNode(hWnd, node)) {
        case NODE_INSTALLED:
            return SCAN_INSTALLED;
        case NODE_FAILED:
            return SCAN_FAILED;
        case NODE_RECORDED:
            if (curPort == maxPorts) {
                ErrMsg(hWnd, "Too many ports! (%d)", maxPorts);
                return SCAN_DONE;
            }
            break;
        }
    }
    return SCAN_DONE;
}

const resInfo* findFree()
{
    for (const resInfo& res : Resources) {
        bool taken = false;
        for (int i = 0; i < curPort && !taken; ++i)
            taken = std::strcmp(Ports[i].name, res.name) == 0 || Ports[i].ioStart == res.ioStart;
        if (!taken)
            return &res;
    }
    return nullptr;
}

LONG nextSubkey(HKEY parent, char* name, size_t size)
{
    long long largest = 0;
    for (DWORD index = 0;; ++index) {
        char sub[20];
        DWORD len = sizeof sub;
        const LONG st = RegEnumKeyExA(parent, index, sub, &len, nullptr, nullptr, nullptr, nullptr);
        if (st == ERROR_MORE_DATA)
            continue; // longer than any number that counts
        if (st != ERROR_SUCCESS)
            break;
        // NOTE: a number that does not fit a signed 32-bit integer is
        // ignored rather than wrapped into a small one.
        long long n = 0;
        for (const char* p = sub; *p >= '0' && *p <= '9' && n <= 0x7FFFFFFF; ++p)
            n = n * 10 + (*p - '0');
        if (n <= 0x7FFFFFFF && n > largest)
            largest = n;
    }
    std::snprintf(name, size, "%04lld", largest + 1);
    // NOTE: a name of more than nine digits is refused, not written.
    return largest + 1 > 999999999 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

int doDriver(HWND hWnd, char* portSlot)
{
    HKEY hClass;
    LONG st = RegOpenKeyExA(HKEY_LOCAL_MACHINE, driverPath, 0, KEY_ALL_ACCESS, &hClass);
    if (st != ERROR_SUCCESS) {
        ErrMsg(hWnd, "Couldn't open %s", driverPath);
        return st;
    }
    HKEY hSlot;
    st = createNumbered(hWnd, hClass, driverPath, portSlot, 16, &hSlot);
    if (st == ERROR_SUCCESS) {
        static const BYTE subClass[] = {0x01};
        const ValueRow rows[] = {
            {"DevLoader", REG_SZ, "*vcomm", 0, "Can't set DevLoader value"},
            {"DriverDesc", REG_SZ, "Com Port Redirector", 0, "Can't set DriverDesc value"},
            {"InfPath", REG_SZ, "KOLMVX.INF", 0, "Can't set InfPath value"},
            {"InfSection", REG_SZ, "Redirector", 0, "Can't set InfSection value"},
            {"PortDriver", REG_SZ, "kolmvx.vxd", 0, "Can't set PortDriver value"},
            {"PortSubClass", REG_BINARY, subClass, sizeof subClass, "Can't set PortSubClass value"},
        };
        st = writeValues(hWnd, hSlot, rows, static_cast<int>(sizeof rows / sizeof rows[0]));
        RegCloseKey(hSlot);
    }
    RegCloseKey(hClass);
    return st == ERROR_ALREADY_EXISTS ? 0 : st;
}

int doPort(HWND hWnd, const char* portSlot, const resInfo* res)
{
    HKEY hPorts;
    LONG st = openPorts(hWnd, &hPorts);
    if (st != ERROR_SUCCESS)
        return st == ERROR_ALREADY_EXISTS ? 0 : st;

    char entry[16];
    HKEY hEntry;
    st = createNumbered(hWnd, hPorts, portPath, entry, sizeof entry, &hEntry);
    RegCloseKey(hPorts);
    if (st != ERROR_SUCCESS)
        return st == ERROR_ALREADY_EXISTS ? 0 : st;

    char driver[sizeof "Ports\\" + 16];
    std::snprintf(driver, sizeof driver, "Ports\\%s", portSlot);
    char description[64];
    std::snprintf(description, sizeof description, "Com Port Redirector (%s)", res->name);
    static const BYTE configFlags[] = {0x04, 0x00, 0x00, 0x00};
    putWord(forcedConfig + 20, res->ioStart);
    putWord(forcedConfig + 22, static_cast<WORD>(res->ioStart + 7));
    putWord(forcedConfig + 32, res->ioStart);
    putWord(forcedConfig + 34, res->ioStart);
    putWord(forcedConfig + 38, res->flags);
    const ValueRow rows[] = {
        {"Class", REG_SZ, "Ports", 0, "Can't set Class value"},
        {"HardwareID", REG_SZ, "Ports", 0, "Can't set HardwareID value"},
        {"Mfg", REG_SZ, KOLM_MAKER, 0, "Can't set Mfg value"},
        {"Driver", REG_SZ, driver, 0, "Can't set Driver value"},
        {"DeviceDesc", REG_SZ, description, 0, "Can't set DeviceDesc value"},
        {"FRIENDLYNAME", REG_SZ, description, 0, "Can't set FRIENDLYNAME value"},
        {"PORTNAME", REG_SZ, res->name, 0, "Can't set PORTNAME value"},
        {"ConfigFlags", REG_BINARY, configFlags, sizeof configFlags, "Can't set ConfigFlags value"},
        {"ForcedConfig", REG_BINARY, forcedConfig, sizeof forcedConfig, "Can't set ForcedConfig value"},
    };
    st = writeValues(hWnd, hEntry, rows, static_cast<int>(sizeof rows / sizeof rows[0]));
    if (st != ERROR_SUCCESS) {
        RegCloseKey(hEntry);
        return st;
    }

    HKEY hLog;
    st = createSubkey(hWnd, hEntry, portPath, "LogConfig", &hLog);
    RegCloseKey(hEntry);
    if (st != ERROR_SUCCESS)
        return st == ERROR_ALREADY_EXISTS ? 0 : st;
    const ValueRow logRows[] = {
        {"0", REG_BINARY, logConfig0, sizeof logConfig0, "Can't set LogConfig 0 value"},
        {"1", REG_BINARY, logConfig1, sizeof logConfig1, "Can't set LogConfig 1 value"},
    };
    st = writeValues(hWnd, hLog, logRows, 2);
    RegCloseKey(hLog);
    return st;
}
