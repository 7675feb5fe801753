// tarvex-line-peer: the far end of the line contract test for a serial line that this process
// cannot reach itself (a Wine COM port). It opens a pseudo-terminal, points a symbolic link at
// its slave side (Wine maps the link as a COM port) and answers the commands of
// support/LinePeer.h on the master side. Told to vanish, it closes the pseudo-terminal, as a
// pulled cable would, and serves the next one under the same link.
//
//   tarvex-line-peer --link PATH [--idle-exit-ms N]
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/LinePeerPosix.h"
#include "support/PtyPair.h"

namespace {

// Points `link` at `target` in one step, so that an opener never finds it missing or half made.
bool Relink(const std::string& link, const std::string& target) {
    const std::string temporary = link + ".new";
    (void)::unlink(temporary.c_str());
    return ::symlink(target.c_str(), temporary.c_str()) == 0 &&
           ::rename(temporary.c_str(), link.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string link;
    long idleExitMs = 120000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--link") == 0) {
            link = argv[i + 1];
        } else if (std::strcmp(argv[i], "--idle-exit-ms") == 0) {
            idleExitMs = std::atol(argv[i + 1]);
        }
    }
    if (link.empty()) {
        std::fprintf(stderr, "usage: tarvex-line-peer --link PATH [--idle-exit-ms N]\n");
        return 2;
    }
    const std::atomic<bool> stop{false};
    for (;;) {
        // The slave stays open here too, so that the master does not read EIO between two
        // openers on the far side.
        tarvex::test::PtyPair pty(true);
        if (!Relink(link, pty.slavePath())) {
            std::perror("tarvex-line-peer: link");
            return 1;
        }
        std::printf("%s\n", pty.slavePath().c_str());
        std::fflush(stdout);
        if (tarvex::test::ServeLinePeer(pty.master(), stop, idleExitMs) !=
            tarvex::test::PeerEnd::Vanish) {
            return 0;
        }
    }
}
