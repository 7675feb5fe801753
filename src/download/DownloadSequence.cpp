#include "ui/TarvexDlg.h"

namespace tarvex {

// The download sequence arrives with the download engine; until then the button does nothing.
void CTarvexDlg::OnDownload() {}

}  // namespace tarvex
