// The quotes-cache library's concrete error object, counted in the simulated world under the kind
// "zorvat::IError".
#include "zorvat/Errors.h"

#include "core/Registry.h"

#include <optional>
#include <string>

namespace
{

class Error final : public sim::RefCounted<zorvat::IError>
{
public:
    Error(int code, const char* message, int subCode)
        : RefCounted("zorvat::IError"),
          code_(code),
          subCode_(subCode),
          message_(message ? std::optional<std::string>(message) : std::nullopt)
    {
    }

    const char* getMessage() override { return message_ ? message_->c_str() : nullptr; }
    // Held as an int: a code outside the enumeration is given back bit for bit.
    Code getCode() override { return static_cast<Code>(code_); }
    int getSubCode() override { return subCode_; }

private:
    const int code_;
    const int subCode_;
    const std::optional<std::string> message_;
};

}  // namespace

namespace zorvat_sim
{

zorvat::IError* makeError(int code, const char* message, int subCode)
{
    return sim::make<Error>(code, message, subCode).detach();
}

}  // namespace zorvat_sim
