// What a record needs to say where it was made.
//
//   HostName()        this machine's name; empty when the system does not tell
//   UtcCalendar(t)    the calendar fields of t in UTC
#pragma once

#include <ctime>
#include <string>

namespace tarvex::platform {

std::string HostName();
std::tm UtcCalendar(std::time_t when);

}  // namespace tarvex::platform
