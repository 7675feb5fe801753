// The form as a report: every control with its state, and the fields a download takes from it.
//
//   ControlKey(id)                 a stable snake_case name for a control ("com_port")
//   FormStateJson(form, ui)        controls, key fields and the messages shown so far
//   PrintFormState(out, form)      the same for a person to read
//
// The password is shown as asterisks, one for each character.
#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string_view>

#include "app/cli/console/CliUserInterface.h"
#include "production/LineEvents.h"
#include "ui/TarvexDlg.h"

namespace tarvex::cli {

std::string_view ControlKey(int id);

nlohmann::ordered_json FormStateJson(CTarvexDlg& form, const CliUserInterface& ui);
void PrintFormState(std::ostream& out, CTarvexDlg& form);

}  // namespace tarvex::cli
