// A library whose entry refuses to load (Windows reports error 1114).
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
}
