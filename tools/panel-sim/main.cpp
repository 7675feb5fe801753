// tarvex-panel-sim: a simulated operator panel loader on a pseudo-terminal, for tests, the demo
// and the benchmarks. Exit status: 0 normal end, 1 runtime error, 2 usage error.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "panel-sim/FaultPlan.h"
#include "panel-sim/PanelIo.h"
#include "panel-sim/PanelSession.h"

namespace {

constexpr int kExitRuntimeError = 1;
constexpr int kExitUsage = 2;

// Two columns, the second one continued under itself: a terminal shows a table, and help2man
// makes each row a tagged paragraph of the manual page.
constexpr const char* kFooter = R"(Faults (--fault SPEC, repeatable): SPEC is WHEN:WHAT.

When the fault fires (WHEN):
  frame=N               the N-th request frame for this panel, counting from 1
  item=KIND,phase=PHASE[,packet=N][,count=C]
                        a frame of an item in a phase of its transfer
  KIND                  application, bitmap, font, recipe or any
  PHASE                 open (the Download command), info (file information),
                        data (a packet: only here packet=N), over or cancel
  C                     the times the fault fires: a number (default 1) or always

What the panel does (WHAT):
  no-reply              no reply
  bad-crc               a reply with a wrong checksum
  bad-echo              a reply whose echoed parameter has one bit flipped
  status=N              a reply with status N: the panel keeps nothing of the frame
  delay=MS              the reply MS milliseconds late
  close                 the line dropped instead of a reply

Every fault but status=N hits the reply of a frame the panel took in.

Examples:
  --fault item=application,phase=open,count=always:status=2
                        the password refused every time
  --fault item=bitmap,phase=data,packet=3:no-reply
                        one lost reply
  --fault frame=5:close
                        the cable pulled at the fifth frame)";

struct Settings {
    std::int64_t slaveId = 1;
    std::int64_t productCode = -1;
    std::int64_t password = -1;
    std::int64_t maxItemSize = -1;
    std::int64_t baud = 0;
    std::int64_t replyDelayMs = 0;
    std::int64_t infoDelayMs = 0;
    std::int64_t closeAfter = 0;
    std::int64_t idleExitMs = 0;
    std::int64_t frameGapMs = 200;
    std::vector<std::string> faults;
    tarvex::panelsim::LineOptions line;
};

CLI::Validator FaultSpecValidator() {
    return CLI::Validator(
        [](std::string& spec) -> std::string {
            std::string error;
            if (!tarvex::panelsim::ParseFaultRule(spec, error)) {
                return "bad fault \"" + spec + "\": " + error;
            }
            return {};
        },
        "", "fault");
}

void AddOptions(CLI::App& app, Settings& s) {
    app.footer(kFooter);
    app.add_option("--link", s.line.linkPath,
                   "Also make PATH a symbolic link to the pty slave (an existing link is "
                   "replaced; the link is removed at exit)")
        ->type_name("PATH");
    app.add_option("--port-file", s.line.portFile,
                   "Write the slave's path (one line) to PATH once ready, atomically")
        ->type_name("PATH");
    app.add_option("--slave-id", s.slaveId,
                   "The panel's address; frames for other addresses get no reply")
        ->check(CLI::Range(0, 255))
        ->capture_default_str();
    app.add_option("--product-code", s.productCode,
                   "The panel's product code; a file-information block with another gets "
                   "status 3 (default: any is accepted)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--password", s.password,
                   "The panel's 16-bit password; a block with another gets status 2 (default: "
                   "any is accepted)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--max-item-size", s.maxItemSize,
                   "Larger items get status 4 on their file information (default: no limit)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{0xFFFFFFFF}));
    app.add_option("--out", s.line.outDir,
                   "Write every item received to DIR (NN-KIND-NAME.info and .bin) and keep "
                   "DIR/session.json up to date")
        ->type_name("DIR");
    app.add_option("--log", s.line.logFile,
                   "Write one JSON line per event (frames received, replies sent, faults) to "
                   "FILE")
        ->type_name("FILE");
    app.add_option("--baud", s.baud,
                   "Pace the line: every byte takes 10 bits at this rate, both ways (0: "
                   "unpaced)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{100'000'000}))
        ->capture_default_str();
    app.add_option("--reply-delay-ms", s.replyDelayMs,
                   "The panel's time to think before each reply")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{3'600'000}))
        ->capture_default_str();
    app.add_option("--info-delay-ms", s.infoDelayMs,
                   "Extra time before the reply to an accepted Bitmap or Font file-information "
                   "frame (flash erase)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{3'600'000}))
        ->capture_default_str();
    app.add_option("--fault", s.faults, "Inject a fault (see below); repeatable")
        ->type_name("SPEC")
        ->check(FaultSpecValidator());
    app.add_option("--close-after", s.closeAfter,
                   "Close the line (the pty master) after N replies, once the tool has read the "
                   "last one, and exit (0: never)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{1} << 40))
        ->capture_default_str();
    app.add_flag("--exit-after-over", s.line.exitAfterOver,
                 "Exit after replying to Over (default: serve further sessions until "
                 "SIGINT/SIGTERM)");
    app.add_option("--idle-exit-ms", s.idleExitMs, "Exit when no byte arrived for N ms (0: never)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{0xFFFFFFFF}))
        ->capture_default_str();
    app.add_flag("--echo", s.line.echo,
                 "Send back every byte received before anything else, as a two-wire RS-485 "
                 "line does");
    app.add_option("--corrupt-echo-byte", s.line.corruptEchoByte,
                   "With --echo: change one bit of every byte sent back from the Nth (from 1) "
                   "on, as a wrong termination would");
    app.add_option("--frame-gap-ms", s.frameGapMs,
                   "Give up an unfinished frame when the line has been quiet this long (0: "
                   "wait for ever)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{0xFFFFFFFF}))
        ->capture_default_str();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Simulated operator panel loader on a pseudo-terminal. Prints \"port: PATH\" "
        "first; the tool under test opens PATH as its serial port.",
        "tarvex-panel-sim"};
    app.set_version_flag("--version", std::string("tarvex-panel-sim ") + TARVEX_VERSION);
    Settings s;
    AddOptions(app, s);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        (void)app.exit(e);
        return kExitUsage;
    }

    using namespace tarvex::panelsim;
    PanelConfig config;
    config.address = static_cast<std::uint8_t>(s.slaveId);
    if (s.productCode >= 0) {
        config.productCode = static_cast<std::uint16_t>(s.productCode);
    }
    if (s.password >= 0) {
        config.password = static_cast<std::uint16_t>(s.password);
    }
    if (s.maxItemSize >= 0) {
        config.maxItemSize = static_cast<std::uint32_t>(s.maxItemSize);
    }
    config.replyDelayMs = static_cast<std::uint32_t>(s.replyDelayMs);
    config.infoDelayMs = static_cast<std::uint32_t>(s.infoDelayMs);

    std::vector<FaultRule> rules;
    for (const std::string& spec : s.faults) {
        std::string error;
        auto rule = ParseFaultRule(spec, error);
        if (!rule) {  // already refused by the option's check; kept for safety
            std::fprintf(stderr, "tarvex-panel-sim: bad fault \"%s\": %s\n", spec.c_str(),
                         error.c_str());
            return kExitUsage;
        }
        rules.push_back(std::move(*rule));
    }

    s.line.baud = static_cast<std::uint32_t>(s.baud);
    s.line.closeAfter = static_cast<std::uint64_t>(s.closeAfter);
    s.line.idleExitMs = static_cast<std::uint32_t>(s.idleExitMs);
    s.line.frameGapMs = static_cast<std::uint32_t>(s.frameGapMs);

    // Standard output may be a pipe that a test closes early; a write there must not kill us.
    if (::signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
        std::perror("tarvex-panel-sim: signal");
        return kExitRuntimeError;
    }
    try {
        PanelSession session(config, FaultPlan(std::move(rules)));
        return RunPanel(session, s.line);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvex-panel-sim: %s\n", e.what());
        return kExitRuntimeError;
    }
}
