// HarnwickLive.exe: the host program that runs the live host DLL beside it.
#include <windows.h>

#include "hostlaunch.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return hostMain(); }
