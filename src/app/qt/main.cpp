// tarvex: the desktop dialog. Start it in the folder that holds the catalogue (Pxx, Vxx), the
// download data file DnldData.txt and the settings file dnld.sv. TARVEX_EXTRA_PORTS
// (colon-separated device paths) adds ports the system does not list, such as the simulated
// panel's pseudo-terminal.
#include "app/qt/TarvexApp.h"

int main(int argc, char** argv) {
    tarvex::qt::CTarvexApp app(argc, argv);
    return app.InitInstance();
}
