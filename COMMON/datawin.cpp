// The redirected port's configuration in the registry: the port is found by
// the "Mfg" mark of its device key, the services are four string values of
// the configuration key.
#include "datawin.h"

#include "kolmids.h"
#include "nwservi.h"

const char keyPath[] = KOLM_CONFIG_KEY;
const char portPath[] = "Enum\\Root\\Ports";
const RedirectedPortInfo redirectedPort = {keyPath, KOLM_MAKER, findRedirectedPort};

namespace {

const char kMfg[] = KOLM_MAKER;

// Reads a string value into `buf` of `size` bytes; 1 when a value of at
// least one byte was read. The buffer is always terminated.
int read_string(HKEY key, const char* name, char* buf, DWORD size)
{
    DWORD len = size;
    DWORD type = 0;
    buf[0] = '\0';
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &len) != ERROR_SUCCESS) {
        buf[0] = '\0';
        return 0;
    }
    if (len >= size)
        len = size - 1;
    buf[len] = '\0';
    return len > 0;
}

} // namespace

LONG findRedirectedPort(char* subkey, DWORD size)
{
    HKEY ports_key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, portPath, 0, KEY_READ, &ports_key) != ERROR_SUCCESS)
        return ERROR_FILE_NOT_FOUND;
    LONG result = ERROR_NO_MORE_ITEMS;
    char sub[8];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof sub;
        if (RegEnumKeyExA(ports_key, i, sub, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY dev;
        if (RegOpenKeyExA(ports_key, sub, 0, KEY_READ, &dev) != ERROR_SUCCESS)
            continue;
        char mfg[16];
        const int marked = read_string(dev, "Mfg", mfg, sizeof mfg) && strcmp(mfg, kMfg) == 0;
        RegCloseKey(dev);
        if (!marked)
            continue;
        if (strlen(sub) < size) {
            strcpy(subkey, sub);
            result = ERROR_SUCCESS;
        } else {
            result = ERROR_MORE_DATA;
        }
        break;
    }
    RegCloseKey(ports_key);
    return result;
}

void readPortName()
{
    portName[0] = '\0';
    char sub[8];
    if (findRedirectedPort(sub, sizeof sub) != ERROR_SUCCESS)
        return;
    char path[64];
    wsprintfA(path, "%s\\%s", portPath, sub);
    HKEY dev;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &dev) != ERROR_SUCCESS)
        return;
    // NOTE: a name that does not fit 7 characters leaves the port unnamed
    // rather than cut to the name of another port.
    char name[PORT_NAME_LEN + 1];
    DWORD nlen = PORT_NAME_LEN;
    DWORD type = 0;
    if (RegQueryValueExA(dev, "PORTNAME", nullptr, &type, reinterpret_cast<BYTE*>(name), &nlen) == ERROR_SUCCESS
        && nlen <= PORT_NAME_LEN) {
        name[nlen] = '\0';
        if (strlen(name) < PORT_NAME_LEN)
            strcpy(portName, name);
    }
    RegCloseKey(dev);
}

int load_data_win(char portNumber)
{
    (void)portNumber; // this version has one redirected port
    readPortName();
    memset(ports, 0, sizeof ports);
    HKEY key;
    const LONG err = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
    if (err != ERROR_SUCCESS)
        return static_cast<int>(err);
    ports[0].redirect = 1;
    for (int i = 0; i < MAX_SERVICES; ++i) {
        char valueName[16];
        char text[STORED_TEXT_LEN];
        wsprintfA(valueName, "Service%d", i);
        if (!read_string(key, valueName, text, sizeof text))
            continue;
        stored_to_desc(text, &ports[0].serv[i]);
    }
    RegCloseKey(key);
    return 0;
}

int save_data_win()
{
    HKEY key;
    const LONG err = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_WRITE, &key);
    if (err != ERROR_SUCCESS)
        return static_cast<int>(err);
    for (int i = 0; i < MAX_SERVICES; ++i) {
        service_desc* s = &ports[0].serv[i];
        char valueName[16];
        char text[STORED_TEXT_LEN];
        wsprintfA(valueName, "Service%d", i);
        if (s->name[0] != '\0' && s->protocol == PROTO_IPX) {
            // Brings the stored address up to date; a service that does not
            // answer is stored with network number 0, to be found by
            // broadcast next time.
            int found = 0;
            gatherServices(nullptr, 0, s->name, &s->addr, &found);
        }
        desc_to_stored(s, text);
        RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>(strlen(text) + 1));
    }
    RegCloseKey(key);
    return 0;
}
