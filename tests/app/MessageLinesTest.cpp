// The line's messages as the command line prints them: a box as "Caption: text", a note as
// its lines, each prefixed with the port where several ports share standard error.
#include "app/cli/output/MessageLines.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace tarvex::cli {
namespace {

TEST(MessageLines, BoxesAndNotesPerStyle) {
    using production::MessageEvent;
    const MessageEvent box{"P1", {}, MessageKind::ErrorBox, "Error", "Download not successful!"};
    const MessageEvent note{"P1", {}, std::nullopt, "", "tarvex-cli: silent.\n  Check: cable.\n"};
    struct Case {
        MessageLines::Style style;
        std::string expected;
    };
    for (const Case& c :
         {Case{{true, true},
               "P1: Error: Download not successful!\nP1: tarvex-cli: silent.\nP1:   Check: "
               "cable.\n"},
          Case{{false, false}, "tarvex-cli: silent.\n  Check: cable.\n"}}) {
        test::TempDir dir;
        const std::string path = dir / "err.txt";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        LineOutput out(fd);
        MessageLines sink(out, c.style);
        sink.OnEvent(box);
        sink.OnEvent(note);
        sink.OnEvent(production::PortStateEvent{"P1", {}, "waiting for a panel"});
        ::close(fd);
        EXPECT_EQ(test::ReadFileText(path), c.expected);
    }
}

}  // namespace
}  // namespace tarvex::cli
