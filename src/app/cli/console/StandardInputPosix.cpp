#include <poll.h>
#include <unistd.h>

#include "app/cli/console/StandardInput.h"

namespace tarvex::cli {

InputPoll PollStandardInput() {
    for (;;) {
        struct pollfd in {
            STDIN_FILENO, POLLIN, 0
        };
        if (::poll(&in, 1, 0) <= 0) {
            return InputPoll::Nothing;
        }
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got <= 0) {
            return InputPoll::End;
        }
        if (c == '\n') {
            return InputPoll::Line;
        }
    }
}

}  // namespace tarvex::cli
