// The session report ("session.json") that the simulated panel keeps in its output folder, so
// that tests and scripts can see what arrived without parsing the item files.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "panel-sim/PanelSession.h"

namespace tarvex::panelsim {

nlohmann::json ItemReport(const ItemRecord& item);
nlohmann::json SessionReport(const PanelSession& session);

// The report as text, indented, ending in a newline. Bytes of names that are not ASCII are
// taken as Latin-1 so that the text is always valid UTF-8.
std::string SessionReportText(const PanelSession& session);

}  // namespace tarvex::panelsim
