// The tool's entry: a window-less GUI program, so starting it from a shortcut or the installer
// shows no console; its only output is message boxes and the desktop logs.
#include <windows.h>

#include "../service_control.h"
#include "win32_platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandTail, int) {
    servicectl::Win32Platform platform;
    return servicectl::runServicectl(platform, commandTail);
}
