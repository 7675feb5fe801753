// Table-driven tests whose cases carry a `const char* name`: gtest prints a case by its name,
// and CaseName() names each instance of the test after its case.
//
//   struct LimitCase { const char* name; ... };
//   using test::PrintTo;   // in the test's own namespace, so that gtest finds it
//   INSTANTIATE_TEST_SUITE_P(Phases, Limits, ::testing::Values(LimitCase{...}, ...), CaseName());
#pragma once

#include <gtest/gtest.h>

#include <concepts>
#include <ostream>
#include <string>

namespace tarvex::test {

template <typename Case>
concept NamedCase = requires(const Case& c) {
    { c.name } -> std::convertible_to<const char*>;
};

template <NamedCase Case>
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

struct CaseName {
    template <NamedCase Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

}  // namespace tarvex::test
