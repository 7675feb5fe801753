// Sets an environment variable for the life of the object (programs a test starts inherit it)
// and puts the old value back. A null value unsets the variable.
#pragma once

#include <optional>
#include <string>

namespace tarvex::test {

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace tarvex::test
