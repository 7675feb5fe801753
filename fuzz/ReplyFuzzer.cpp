// The reply judgement on arbitrary replies to the requests the transfer really builds: a command
// (with or without its link byte), a file-information block or a data packet. The panel's own
// reply to the same request must always be judged as sent.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "FuzzSupport.h"
#include "hmi/HmiFrames.h"
#include "panel-sim/Protocol.h"

namespace {

// Input layout: kind, slave, parameter (LE16), then what the kind needs, then the reply.
//   0 command                 1 command + link byte (1 byte)
//   2 file information (48)   3 data packet: size (LE16, up to 1024) + packet
//   4 any request: size (1 byte, up to 8) + bytes

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvex;
    fuzz::ByteReader input(data, size);
    const std::uint8_t kind = input.Byte() % 5;
    const std::uint8_t slave = input.Byte();
    const std::uint16_t parameter = input.Le16();
    std::vector<std::uint8_t> request;
    switch (kind) {
        case 0:
            request = hmi::BuildCommandFrame(slave, parameter);
            break;
        case 1:
            request = hmi::BuildCommandFrame(slave, parameter, input.Byte());
            break;
        case 2:
            request = hmi::BuildInfoFrame(slave, parameter, input.Bytes(hmi::kFileInfoSize));
            break;
        case 3:
            request = hmi::BuildDataFrame(slave, parameter, input.Bytes(input.Le16() % 1025));
            break;
        default:
            // Whatever a request may look like, even one too short to echo.
            request = input.Bytes(input.Byte() % 9);
            break;
    }
    const std::vector<std::uint8_t> reply = input.Rest();
    const hmi::ReplyVerdict verdict = hmi::JudgeReply(request, reply);
    (void)hmi::TargetCodeMessage(verdict.status);
    if (reply.size() < 5 || request.size() < 4) {
        fuzz::Require(!verdict.Confirmed(), "a reply too short to judge was confirmed");
        return 0;
    }
    fuzz::Require(
        verdict.echoMatches == std::equal(reply.begin(), reply.begin() + 4, request.begin()),
        "echo judged wrong");
    fuzz::Require(verdict.status == reply[4], "status taken from the wrong byte");
    fuzz::Require(verdict.crcMatches == panelsim::FrameCrcMatches(reply), "CRC judged wrong");

    const panelsim::Reply answer = panelsim::BuildReply(request, reply[4]);
    const hmi::ReplyVerdict own = hmi::JudgeReply(request, answer);
    fuzz::Require(own.echoMatches && own.crcMatches && own.status == reply[4],
                  "the panel's reply was not judged as sent");
    return 0;
}
