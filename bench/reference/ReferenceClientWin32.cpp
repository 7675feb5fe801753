// The least a Windows program can do to run a download's exchanges: the yardstick the Windows
// build is measured against (bench/windows-pacing).
//
//   reference-client COMn SCRIPT
//
// SCRIPT holds one step a line, as bench/windows-pacing derives it from a download's trace:
//   tx HEX...   one WriteFile of the whole frame
//   wait MS     a pause (10 ms before every read, the info rounds' 1000 ms, 100 ms between
//               recipes)
//   rx N        one ReadFile of N bytes, which comes back as soon as they are all there (total
//               time-out 2000 ms, no interval)
// The line runs at 115200 baud, 8 data bits, no parity, one stop bit, no flow control, DTR
// and RTS off. Prints the milliseconds from the first write to the end of the last read, and
// how many replies came back short.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Step {
    char kind = 0;  // 't', 'w', 'r'
    std::vector<unsigned char> bytes;
    unsigned long value = 0;
};

bool LoadScript(const char* path, std::vector<Step>& steps) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        if (!(words >> kind)) {
            continue;
        }
        Step step;
        step.kind = kind[0];
        if (kind == "tx") {
            std::string hex;
            while (words >> hex) {
                step.bytes.push_back(
                    static_cast<unsigned char>(std::strtoul(hex.c_str(), nullptr, 16)));
            }
        } else if (kind == "wait" || kind == "rx") {
            words >> step.value;
        } else {
            return false;
        }
        steps.push_back(std::move(step));
    }
    return !steps.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: reference-client COMn SCRIPT\n");
        return 2;
    }
    std::vector<Step> steps;
    if (!LoadScript(argv[2], steps)) {
        std::fprintf(stderr, "reference-client: cannot read the script %s\n", argv[2]);
        return 2;
    }
    const std::string device = std::string("\\\\.\\") + argv[1];
    HANDLE port = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "reference-client: cannot open %s (%lu)\n", argv[1], ::GetLastError());
        return 1;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(port, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (::SetCommState(port, &dcb) == 0) {
        std::fprintf(stderr, "reference-client: SetCommState failed (%lu)\n", ::GetLastError());
        return 1;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = 2000;
    ::SetCommTimeouts(port, &timeouts);
    ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);

    using Clock = std::chrono::steady_clock;
    Clock::time_point first{};
    Clock::time_point last{};
    bool started = false;
    int shortReplies = 0;
    std::vector<unsigned char> reply;
    for (const Step& step : steps) {
        DWORD done = 0;
        if (step.kind == 't') {
            if (!started) {
                first = Clock::now();
                started = true;
            }
            if (::WriteFile(port, step.bytes.data(), static_cast<DWORD>(step.bytes.size()), &done,
                            nullptr) == 0 ||
                done != step.bytes.size()) {
                std::fprintf(stderr, "reference-client: WriteFile failed (%lu)\n",
                             ::GetLastError());
                return 1;
            }
        } else if (step.kind == 'w') {
            ::Sleep(step.value);
        } else {
            reply.resize(step.value);
            if (::ReadFile(port, reply.data(), step.value, &done, nullptr) == 0) {
                std::fprintf(stderr, "reference-client: ReadFile failed (%lu)\n", ::GetLastError());
                return 1;
            }
            if (done != step.value) {
                ++shortReplies;
            }
            last = Clock::now();
        }
    }
    ::CloseHandle(port);
    std::printf("%.1f %d\n", std::chrono::duration<double, std::milli>(last - first).count(),
                shortReplies);
    return 0;
}
