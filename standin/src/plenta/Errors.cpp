// The historical-price library's concrete error object, counted in the simulated world under the
// kind "plenta::IError".
#include "plenta/Errors.h"

#include "core/Registry.h"

#include <optional>
#include <string>

namespace
{

class Error final : public sim::RefCounted<plenta::IError>
{
public:
    Error(int code, const char* message, zorvat::IError* nested)
        : RefCounted("plenta::IError"),
          code_(code),
          message_(message ? std::optional<std::string>(message) : std::nullopt),
          nested_(sim::Ref<zorvat::IError>::retain(nested))
    {
    }

    const char* getMessage() override { return message_ ? message_->c_str() : nullptr; }
    // Held as an int: a code outside the enumeration is given back bit for bit.
    Code getCode() override { return static_cast<Code>(code_); }
    zorvat::IError* getZorvatError() override { return nested_.share(); }

private:
    const int code_;
    const std::optional<std::string> message_;
    const sim::Ref<zorvat::IError> nested_;
};

}  // namespace

namespace plenta_sim
{

plenta::IError* makeError(int code, const char* message, zorvat::IError* nested)
{
    return sim::make<Error>(code, message, nested).detach();
}

}  // namespace plenta_sim
