// The installer's fixed values and tables: the response file template, the
// candidate resources of a new port and its binary configurations.
#include "install.h"
#include "kolmids.h"

const char gszAppName[] = "install";
const char srFile[] = "kolmvx.iss";
const char logFile[] = "kolmvx.log";
const char setupCmd[] = "second.exe -S";
const char uninstKeyName[] = KOLM_UNINSTALL_KEY;
const char productName[] = KOLM_PRODUCT;
const char uninstProgName[] = "remove.exe";
const char helpFile[] = "kolmdoc.hlp";
const char defaultAppPath[] = "C:\\Program Files\\Tarvizone\\Redirector\\";
const char successText[] = "Installation successful.\nA Help file will now guide you through configuring a modem and "
                           "services for the Redirector.\nWhen this is completed you must restart your PC\n";

const issInfo issLines[] = {
    {0, "[InstallShield Silent]\n"},
    {0, "Version=v2.10.000\n"},
    {0, "File=Response File\n"},
    {0, "[Application]\n"},
    {0, "Name=Tarvizone Redirector\n"},
    {0, "Version=1.0\n"},
    {0, "Company=Tarvizone\n"},
    {0, "[DlgOrder]\n"},
    {0, "Dlg0=Welcome-0\n"},
    {0, "Dlg1=AskDestPath-0\n"},
    {0, "Dlg2=AskText-0\n"},
    {0, "Dlg3=AskText-1\n"},
    {0, "Dlg4=AskText-2\n"},
    {0, "Dlg5=AskText-3\n"},
    {0, "Count=6\n"},
    {0, "[Welcome-0]\n"},
    {0, "Result=1\n"},
    {0, "[AskDestPath-0]\n"},
    {0, "szPath="},
    {1, "(destination path)"},
    {0, "\n"},
    {0, "Result=1\n"},
    {0, "[AskText-0]\n"},
    {0, "szText="},
    {2, "(service 1)"},
    {0, "\n"},
    {0, "Result=1\n"},
    {0, "[AskText-1]\n"},
    {0, "szText="},
    {3, "(service 2)"},
    {0, "\n"},
    {0, "Result=1\n"},
    {0, "[AskText-2]\n"},
    {0, "szText="},
    {4, "(service 3)"},
    {0, "\n"},
    {0, "Result=1\n"},
    {0, "[AskText-3]\n"},
    {0, "szText="},
    {5, "(service 4)"},
    {0, "\n"},
    {0, "Result=1\n"},
    {0, ""},
};

const char enumPath[] = "Config Manager\\Enum";
const char driverPath[] = "System\\CurrentControlSet\\Services\\Class\\Ports";
const char abovePath[] = "Enum\\Root";
const char portPath[] = "Enum\\Root\\Ports";

const resInfo Resources[maxResources] = {
    {"COM3", 0x03E8, 0xC1C8},
    {"COM4", 0x02E8, 0x182C},
    {"COM5", 0x0108, 0x7C24},
    {"COM6", 0x0110, 0xBFE8},
    {"COM7", 0x0118, 0x797C},
    {"COM8", 0x0120, 0xB430},
    {"COM9", 0x0128, 0xC074},
};

// Bytes 20-23, 32-35 and 38-39 are filled from the chosen resource just
// before the value is written.
BYTE forcedConfig[44] = {
    0x00, 0x04, 0x00, 0x00, // format version 0x400
    0x00, 0x00, 0x00, 0x00, // priority 0: forced configuration
    0x20, 0x00, 0x00, 0x00, // descriptor size 32
    0x02, 0x00, 0x00, 0x00, // resource type 2: I/O ports
    0x01, 0x00,             // one range
    0x02, 0x00,             // descriptor type field 2
    0x00, 0x00, 0x00, 0x00, // allocated base and end
    0x00, 0x00,             // descriptor flags
    0x00, 0x00,             // allocated alias and decode
    0xF0, 0xFF,             // range: alignment mask 0xFFF0
    0x08, 0x00,             // range: eight ports
    0x00, 0x00, 0x00, 0x00, // range: minimum and maximum (the base twice)
    0x00, 0x00,             // range flags
    0x00, 0x00,             // range alias and decode: the resource's flags
    0x00, 0x00, 0x00, 0x00, // end of list
};

// The four standard COM port ranges.
const BYTE logConfig0[80] = {
    0x00, 0x04, 0x00, 0x00, // format version 0x400
    0x00, 0x30, 0x00, 0x00, // priority 0x3000: normal
    0x44, 0x00, 0x00, 0x00, // descriptor size 68
    0x02, 0x00, 0x00, 0x00, // resource type 2: I/O ports
    0x04, 0x00,             // four ranges
    0x0C, 0x00,             // descriptor type field 12
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // allocation fields empty
    0xFF, 0xFF, 0x08, 0x00, 0xF8, 0x03, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x03, // 0x3F8-0x3FF
    0xFF, 0xFF, 0x08, 0x00, 0xF8, 0x02, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x03, // 0x2F8-0x2FF
    0xFF, 0xFF, 0x08, 0x00, 0xE8, 0x03, 0xEF, 0x03, 0x03, 0x00, 0x00, 0x03, // 0x3E8-0x3EF, flags 3
    0xFF, 0xFF, 0x08, 0x00, 0xE8, 0x02, 0xEF, 0x02, 0x00, 0x00, 0x00, 0x03, // 0x2E8-0x2EF
    0x00, 0x00, 0x00, 0x00, // end of list
};

// Any 8-aligned block of eight ports.
const BYTE logConfig1[44] = {
    0x00, 0x04, 0x00, 0x00, // format version 0x400
    0x00, 0x30, 0x00, 0x00, // priority 0x3000: normal
    0x20, 0x00, 0x00, 0x00, // descriptor size 32
    0x02, 0x00, 0x00, 0x00, // resource type 2: I/O ports
    0x01, 0x00,             // one range
    0x0C, 0x00,             // descriptor type field 12
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // allocation fields empty
    0xF8, 0xFF,             // alignment mask 0xFFF8
    0x08, 0x00,             // eight ports
    0x00, 0x01,             // minimum 0x0100
    0xFF, 0xFF,             // maximum 0xFFFF
    0x00, 0x00,             // range flags
    0x00,                   // alias
    0x03,                   // decode 3
    0x00, 0x00, 0x00, 0x00, // end of list
};
