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

namespace {

// Edits (insert, delete, replace, swap of neighbours) that turn a into b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// The first word that is no option (nor the value of -C) names the command. CLI11 would take
// an unknown one for a stray argument and only say that a command is missing; this names it
// and the command it is most likely a slip for. Empty when the command is known or absent.
std::string UnknownCommandText(const CLI::App& app, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-C" || arg == "--workspace") {
            ++i;
            continue;
        }
        if (arg.empty() || arg[0] == '-') {
            continue;
        }
        std::string nearest;
        std::size_t best = 0;
        std::string names;
        for (const CLI::App* command : app.get_subcommands({})) {
            const std::string& name = command->get_name();
            if (name == arg) {
                return {};
            }
            names += (names.empty() ? "" : ", ") + name;
            const std::size_t distance = EditDistance(arg, name);
            if (nearest.empty() || distance < best) {
                nearest = name;
                best = distance;
            }
        }
        std::string text = "unknown command \"" + arg + "\"";
        if (!nearest.empty() && best <= std::max<std::size_t>(2, nearest.size() / 3)) {
            text += "; did you mean \"" + nearest + "\"?";
        } else {
            text += ".";
        }
        return text + " The commands are " + names + " (tarvex-cli --help says what each does).";
    }
    return {};
}

}  // namespace

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
    RegisterJobCommand(app, exitStatus);

    try {
        // CLI11 takes the arguments in reverse order, without the program name.
        std::vector<std::string> args = Arguments(argc, argv);
        if (!args.empty()) {
            args.erase(args.begin());
        }
        if (const std::string unknown = UnknownCommandText(app, args); !unknown.empty()) {
            std::cerr << "tarvex-cli: " << unknown << '\n';
            return kExitUsage;
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
