// tarvex-cli: the headless front end of Tarvex.
#include <cstdio>
#include <iostream>

#include "app/cli/Commands.h"

int main(int argc, char** argv) {
    using namespace tarvex::cli;

    CLI::App app{"Tarvex: loads an operator panel (HMI) over a serial line.", "tarvex-cli"};
    app.set_version_flag("--version", std::string("tarvex-cli ") + TARVEX_VERSION);
    app.require_subcommand(1);
    app.footer("Run 'tarvex-cli COMMAND --help' for the options and exit status of a command.");

    int exitStatus = kExitOk;
    RegisterInspectCommand(app, exitStatus);
    RegisterPortsCommand(app, exitStatus);
    RegisterFormCommand(app, exitStatus);
    RegisterDownloadCommand(app, exitStatus);
    RegisterGangCommand(app, exitStatus);
    RegisterStationCommand(app, exitStatus);

    try {
        app.parse(argc, argv);
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
    }
    return exitStatus;
}
