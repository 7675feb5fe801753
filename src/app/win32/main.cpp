// tarvex.exe [DIR]: the native Windows dialog, started in the workspace DIR, the folder that
// holds the catalogue (Pxx, Vxx), the download data file DnldData.txt and the settings file
// dnld.sv (see Workspace.h for how it finds one).
#include "app/win32/Win32Api.h"

#include "app/win32/TarvexApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    tarvex::win32::CTarvexApp app(instance);
    return app.InitInstance();
}
