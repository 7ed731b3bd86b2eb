// The redirection records of a port and the text forms of a service, shared
// by kolm32 and kolmset32. The stored form must be identical in both
// programs, since each reads what the other writes.
#pragma once

#include "win32.h"
#include "win32/wsipx.h"

#define MAX_PORTS 4
#define MAX_SERVICES 4
#define SERVICE_NAME_LEN 48 // with the NUL: at most 47 characters
#define PORT_NAME_LEN 8     // with the NUL: at most 7 characters
#define STORED_TEXT_LEN 80  // with the NUL: at most 79 characters
#define IPX_ADDR_TEXT_LEN 27
#define LIST_PREFIX_LEN 5

// service_desc.protocol
#define PROTO_NONE 0
#define PROTO_IP 1
#define PROTO_IPX 2

// port_mapping.state
#define PORT_IDLE 0       // configured, not connected
#define PORT_CONNECTED 1  // socket and curServ valid; data moves only now
#define PORT_NET_CLOSED 2 // ended from the network side; driver told
#define PORT_APP_CLOSED 3 // the application closed the port

typedef struct service_desc {
    signed char protocol;         // PROTO_*; 0 from text with neither prefix
    struct sockaddr_ipx addr;     // last known address of an IPX service
    char name[SERVICE_NAME_LEN];  // empty (name[0] == 0) means an empty slot
} service_desc;

typedef struct port_mapping {
    // NOTE: state, curServ and socket are shared between the runtime's
    // command path and its pump threads; they are touched as single atomic
    // steps (std::atomic_ref) where threads meet, cleared included
    // (clear_port_record), so the record itself stays a plain struct.
    signed char state;              // PORT_*
    signed char curServ;            // index of the service that accepted
    DWORD socket;                   // the connected socket while state is 1
    LONG redirect;                  // set to 1 by the loader; read by nobody
    service_desc serv[MAX_SERVICES];// in order of preference
} port_mapping;

extern port_mapping ports[MAX_PORTS];
extern char portName[PORT_NAME_LEN];

// Zeroes a record; the fields other threads read are stored as single
// atomic steps.
void clear_port_record(port_mapping* p);

// Stored form (one registry value per slot): "IP:name", "IPX:" + the 27
// character address text + name, or "" for an empty slot or an unknown
// protocol. `out` holds STORED_TEXT_LEN bytes; returns the length written.
int desc_to_stored(const service_desc* s, char* out);

// Reads a stored text into `s`. A text that is not of either form, or that is
// malformed (an IPX text shorter than its address, a name of more than 47
// characters), leaves the slot empty. Returns 1 when the slot was filled.
int stored_to_desc(const char* text, service_desc* s);

// List form shown by the setup utility: "[IP ]name" or "[IPX]name". `out`
// holds LIST_PREFIX_LEN + SERVICE_NAME_LEN bytes. An entry of another
// protocol gives the empty string.
void desc_to_list(const service_desc* s, char* out);

// Reads a list entry back; never touches `addr`. Any other text gives
// protocol 0 and an empty name. A name that would not fit is cut to 47.
void list_to_desc(const char* text, service_desc* s);

// IPX address text, exactly 27 characters ("%08.8X:" then six "%02.2X"
// node bytes separated by '-' and ended by ':'). Both work by fixed
// positions; textToAddr never reads past the text's NUL.
char* textToAddr(char* ptr, struct sockaddr_ipx* addr);
char* addrToText(char* ptr, const struct sockaddr_ipx* addr);
