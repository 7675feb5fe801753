// tarvex-cli form [--json] [form options]: starts the form in the current directory, exactly as
// the dialog does, applies the options as a person would fill the form, and shows the result:
// a preview of what a download with the same options would use.
#include <iostream>

#include "app/cli/Commands.h"
#include "app/cli/commands/FormOptions.h"
#include "app/cli/console/CliUserInterface.h"
#include "app/cli/output/FormState.h"
#include "download/DownloadContainer.h"
#include "ui/TarvexDlg.h"

namespace tarvex::cli {
namespace {

struct FormCommandOptions {
    FormOptions form;
    bool json = false;
};

int RunFormCommand(const FormCommandOptions& options) {
    CliUserInterface ui(std::cerr);
    CDownloadInfo info;
    CTarvexDlg form(info, ui, FormEnvironmentFor(options.form));
    form.OnInitDialog();
    const FormOptionsResult result = ApplyFormOptions(form, ui, options.form);
    if (options.json) {
        std::cout << FormStateJson(form, ui).dump(2, ' ', false,
                                                  nlohmann::ordered_json::error_handler_t::replace)
                  << '\n';
    } else {
        PrintFormState(std::cout, form);
    }
    return result == FormOptionsResult::Refused ? kExitRefused : kExitOk;
}

}  // namespace

void RegisterFormCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<FormCommandOptions>();
    auto* cmd = app.add_subcommand(
        "form", "Start the form in the current directory and show its controls and choices");
    cmd->add_flag("--json", options->json, "Print the form as JSON");
    AddFormOptions(*cmd, options->form);
    cmd->footer(
        "The catalogue (Pxx, Vxx), the settings file dnld.sv and the download data file "
        "DnldData.txt are read from the current directory; nothing is written.\n"
        "Messages the form shows go to standard error as \"Caption: text\".\n\n"
        "Exit status: 0 shown, 2 usage error (an option names something the form does not "
        "offer), 3 the form refused a choice (USB Download for a firmware version without it).");
    cmd->callback([options, &exitStatus] { exitStatus = RunFormCommand(*options); });
}

}  // namespace tarvex::cli
