// The dialog without a display: it says so and ends with exit status 1, where Qt alone would
// abort. Judged before Qt starts (nothing names a display) and while it starts (a display is
// named but nobody serves it).
#include <gtest/gtest.h>

#include <QProcessEnvironment>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/TarvexApp.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"

namespace tarvex::test {
namespace {

struct NoDisplayCase {
    const char* name;
    const char* platform;  // QT_QPA_PLATFORM; null: unset
    const char* display;   // DISPLAY; null: unset
    std::string says;
};

TEST(NoDisplay, SaysSoAndEndsWithStatusOne) {
    const NoDisplayCase cases[] = {
        {"the system's own platform, no display named", nullptr, nullptr,
         "tarvex: no display: neither DISPLAY nor WAYLAND_DISPLAY is set"},
        {"X11 asked for, DISPLAY unset", "xcb", nullptr,
         "tarvex: no display for the platform xcb: DISPLAY is not set"},
        {"a display nobody serves", "xcb", ":4711", "tarvex: cannot open the display: "},
    };
    for (const NoDisplayCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv platform("QT_QPA_PLATFORM", c.platform);
        ScopedEnv display("DISPLAY", c.display);
        ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
        const ProgramResult r = RunProgram(ProjectBinary("tarvex"), {});
        EXPECT_EQ(r.signal, 0) << r.err;
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("use tarvex-cli, which needs no display"), std::string::npos) << r.err;
    }
}

TEST(NoDisplay, APlatformThatNeedsNoneOrOneNamedDisplayIsEnough) {
    struct Case {
        QStringList arguments;
        std::vector<std::pair<QString, QString>> environment;
        bool missing;
    };
    const Case cases[] = {
        {{"tarvex"}, {}, true},
        {{"tarvex"}, {{"DISPLAY", ":0"}}, false},
        {{"tarvex"}, {{"WAYLAND_DISPLAY", "wayland-0"}}, false},
        {{"tarvex"}, {{"QT_QPA_PLATFORM", "offscreen"}}, false},
        {{"tarvex", "-platform", "offscreen"}, {{"QT_QPA_PLATFORM", "xcb"}}, false},
        {{"tarvex", "-platform", "xcb"}, {{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {{"tarvex"}, {{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":0"}}, false},
        {{"tarvex"}, {{"QT_QPA_PLATFORM", "wayland-egl"}, {"DISPLAY", ":0"}}, true},
        {{"tarvex"}, {{"QT_QPA_PLATFORM", "vnc:size=800x600"}}, false},
    };
    for (const Case& c : cases) {
        QProcessEnvironment env;
        for (const auto& [name, value] : c.environment) {
            env.insert(name, value);
        }
        const QString reason = qt::MissingDisplayReason(c.arguments, env, true);
        EXPECT_EQ(!reason.isEmpty(), c.missing) << c.arguments.join(' ').toStdString() << " "
                                                << env.toStringList().join(' ').toStdString();
    }
    // Where the system's desktop needs no display server (Windows), nothing is missing.
    EXPECT_TRUE(qt::MissingDisplayReason({"tarvex"}, QProcessEnvironment(), false).isEmpty());
}

}  // namespace
}  // namespace tarvex::test
