// What a download adds to the form's own messages, so that an error says what to do.
//
//   DescribeLine(form)          the port, line settings, slave ID, product and items that a
//                               press of Download will use
//   AboutToSendText(line)       the one line printed before anything is sent
//   NoReplyHint(line)           after "Download not successful!" when no reply ever came: what
//                               was tried and what to check
//   LineLostHint(line)          the same when the line itself went away
//   EchoFaultHint(line)         the same when a two-wire line's echo differed from the frame
//   NetworkOpenHint(line, e)    a network port that could not be reached: why
//   MissingSavedPortText(...)   the saved port is not present: which ports are
//   NoPortChosenText(ports)     neither --port nor the settings file names a port: which ports
//                               are there (with their USB description), and the one USB
//                               adapter that can be used when there is exactly one
//   UsbDescription(port)        "USB 0403:6001 FTDI FT232R (serial A1)", empty for no USB port
//   MissingContainerHint(form)  after "Bin file does not exist!": the path looked for
#pragma once

#include <string>
#include <vector>

#include "serial/PortProbe.h"
#include "ui/TarvexDlg.h"

namespace tarvex::production {

struct LineDescription {
    std::string port;
    std::string baud;
    std::string parity;
    std::string dataBits;
    std::string stopBits;
    std::string slaveId;  // empty when the version is not addressed by slave ID
    bool usb = false;
    std::string product;
    std::string bootloader;
    std::string firmware;
    std::string items;  // in the order they are sent, comma separated; "none" for none
};

LineDescription DescribeLine(const CTarvexDlg& form);

std::string AboutToSendText(const LineDescription& line);
std::string NoReplyHint(const LineDescription& line);
std::string LineLostHint(const LineDescription& line);
std::string EchoFaultHint(const LineDescription& line);
std::string NetworkOpenHint(const LineDescription& line, SerialError error);

// `saved` as the settings file names it; `ports` what the probe found (usable or not).
std::string MissingSavedPortText(const std::string& saved, const std::vector<PortInfo>& ports);

// Without the "tarvex-cli: " prefix: it is a usage error's text.
std::string NoPortChosenText(const std::vector<PortInfo>& ports);

std::string UsbDescription(const PortInfo& port);

// Empty unless the form's container path names no file.
std::string MissingContainerHint(const CTarvexDlg& form);

}  // namespace tarvex::production
