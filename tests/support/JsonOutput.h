// A program's standard output read as JSON, for the commands' --json modes. Header only:
// the tests that include it link nlohmann-json themselves.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/RunProgram.h"

namespace tarvex::test {

// Checks the exit status and parses what the program printed; a test failure, and null, when
// that is not JSON.
inline nlohmann::json JsonOutput(const ProgramResult& r, int expectedStatus = 0) {
    EXPECT_EQ(r.exitStatus, expectedStatus) << r.err;
    try {
        return nlohmann::json::parse(r.out);
    } catch (const nlohmann::json::exception& e) {
        ADD_FAILURE() << "not JSON: " << e.what() << "\n" << r.out << "\n" << r.err;
        return {};
    }
}

}  // namespace tarvex::test
