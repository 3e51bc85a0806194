// Module entry of zelk_voice_engine.dll. The library keeps nothing between
// calls, so loading, unloading and thread attach or detach have nothing to do.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
