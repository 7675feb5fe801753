// tarvex-cli: the headless front end of Tarvex.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "app/cli/console/Console.h"
#include "platform/Files.h"

int main(int argc, char** argv) {
    using namespace tarvex::cli;

    // The exit-status table as Markdown rows, for the manual page (packaging/ManPage.cmake);
    // not an option of the command line proper, so it appears in no --help.
    if (argc == 2 && std::string(argv[1]) == "--exit-statuses") {
        std::cout << ExitStatusMarkdown() << std::flush;
        return kExitOk;
    }

    CLI::App app{"Tarvex: loads an operator panel (HMI) over a serial line.", "tarvex-cli"};
    app.set_version_flag("--version", std::string("tarvex-cli ") + TARVEX_VERSION);
    app.require_subcommand(1);
    app.footer("Run 'tarvex-cli COMMAND --help' for the options and exit status of a command.");
    // Every command works as if started in the workspace: the form reads its files from there
    // and resolves the relative paths in them (and in the options) against it.
    std::string workspace;
    app.add_option("-C,--workspace", workspace,
                   "Work in DIR, the workspace that holds Pxx, Vxx, DnldData.txt and dnld.sv, "
                   "as if started there (default: the current directory)")
        ->envname("TARVEX_WORKSPACE")
        ->type_name("DIR")
        ->each([](const std::string& dir) {
            if (std::string why; !tarvex::platform::ChangeCurrentDirectory(dir, why)) {
                throw CLI::ValidationError("cannot work in " + dir + ": " + why);
            }
        });
    app.fallthrough();  // -C may also follow the command

    int exitStatus = kExitOk;
    RegisterInspectCommand(app, exitStatus);
    RegisterPortsCommand(app, exitStatus);
    RegisterFormCommand(app, exitStatus);
    RegisterDownloadCommand(app, exitStatus);
    RegisterDoctorCommand(app, exitStatus);
    RegisterGangCommand(app, exitStatus);
    RegisterStationCommand(app, exitStatus);

    try {
        // CLI11 takes the arguments in reverse order, without the program name.
        std::vector<std::string> args = Arguments(argc, argv);
        if (!args.empty()) {
            args.erase(args.begin());
        }
        std::reverse(args.begin(), args.end());
        app.parse(args);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    } catch (const UsageError& e) {
        std::cerr << "tarvex-cli: " << e.what() << '\n';
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        // The container check reports a file too large for memory itself; anything else that
        // runs out of memory ends here, the port closed and the priority restored on the way.
        std::cerr << "tarvex-cli: out of memory\n";
        return kExitFailure;
    }
    return exitStatus;
}
