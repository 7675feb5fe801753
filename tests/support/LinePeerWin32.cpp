#include <cstdlib>
#include <utility>

#include "support/LinePeer.h"

namespace tarvex::test {
namespace {

constexpr const char* kPortVariable = "TARVEX_TEST_LINE";

// A COM port whose far end tarvex-line-peer plays on the Linux side; it outlives the test.
class RemoteLinePeer final : public LinePeer {
  public:
    explicit RemoteLinePeer(std::string name) : name_(std::move(name)) {}
    const std::string& PortName() const override { return name_; }

  private:
    std::string name_;
};

}  // namespace

std::unique_ptr<LinePeer> StartLinePeer(std::string& whyNot) {
    const char* name = std::getenv(kPortVariable);
    if (name == nullptr || *name == '\0') {
        whyNot = std::string(kPortVariable) +
                 " names no COM port served by tarvex-line-peer (scripts/test-windows maps one)";
        return nullptr;
    }
    return std::make_unique<RemoteLinePeer>(name);
}

}  // namespace tarvex::test
