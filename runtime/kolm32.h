// The runtime's main program and window.
#pragma once

#include "win32.h"

#define PREP_DISCONNECT_TIMER 2
#define PREP_DISCONNECT_PERIOD 8000

extern int ghInstance;
extern char gszAppName[];

LRESULT CALLBACK WndProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam);
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR LpszCmdLine, int nCmdShow);

// The runtime's resource file: makes its dialog templates known.
void RegisterKolm32Resources();
