// source/LibraryErrors.cpp: the code tables from the historical-price and quotes-cache libraries'
// errors to the module's messages, and the raise.
#include "LibraryErrors.h"

#include "Messages.h"

#include <string>

namespace {

// Gives back the caller's reference on every way out, when asked to.
template <class Error>
class ReleaseOnExit
{
public:
    ReleaseOnExit(Error* error, bool release) : m_error(release ? error : nullptr) {}
    ~ReleaseOnExit()
    {
        if (m_error != nullptr)
            m_error->release();
    }
    ReleaseOnExit(const ReleaseOnExit&) = delete;
    ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;

private:
    Error* m_error;
};

using ZorvatMessage = std::string (*)(const char* text, int subcode);

// Indexed by zorvat::IError::Code.
const ZorvatMessage kZorvatMessages[] = {
    &msgZorvatLocked,                       // LOCKED
    &msgZorvatQuotesCatalogBusy,            // QUOTES_CATALOG_BUSY
    &msgZorvatQuotesCacheBusy,              // QUOTES_CACHE_BUSY
    &msgZorvatQuotesCacheCorrupted,         // QUOTES_CACHE_CORRUPTED
    &msgZorvatQuotesServerConnectionError,  // QUOTES_SERVER_CONNECTION_ERROR
    &msgZorvatLoadingError,                 // LOADING_ERROR
    &msgZorvatQuotesLoaderError,            // QUOTES_LOADER_ERROR
    &msgZorvatQuotesNotFound,               // QUOTES_NOT_FOUND
    &msgZorvatBadArgument,                  // BAD_ARGUMENT
    &msgZorvatOtherError,                   // OTHER_ERROR
    &msgZorvatLimitReached,                 // LIMIT_REACHED
};
constexpr unsigned kZorvatCodes = sizeof(kZorvatMessages) / sizeof(kZorvatMessages[0]);

const char* textOf(const char* message)
{
    return message != nullptr ? message : "";
}

}  // namespace

namespace vexa2 { namespace python {

void raiseZorvatError(zorvat::IError* error, bool release)
{
    if (error == nullptr)
        return;
    const ReleaseOnExit<zorvat::IError> guard(error, release);
    const char* text = textOf(error->getMessage());
    const int subcode = error->getSubCode();
    // Unsigned, so that a negative code falls outside the table.
    const unsigned code = static_cast<unsigned>(error->getCode());
    raiseMessage(PyExc_Exception, code < kZorvatCodes ? kZorvatMessages[code](text, subcode) : msgUnknownError());
}

void raisePlentaError(plenta::IError* error, bool release)
{
    if (error == nullptr)
        return;
    const ReleaseOnExit<plenta::IError> guard(error, release);
    const char* text = textOf(error->getMessage());
    std::string message;
    switch (static_cast<unsigned>(error->getCode()))
    {
    case plenta::IError::ZORVAT_ERROR:
        // The nested error comes add-referenced; without one there is nothing to raise here.
        raiseZorvatError(error->getZorvatError(), true);
        return;
    case plenta::IError::NOT_READY:
        message = msgPlentaNotReady(text);
        break;
    case plenta::IError::BAD_ARGUMENTS:
        message = msgPlentaBadArguments(text);
        break;
    case plenta::IError::OTHER_ERROR:
        message = msgPlentaOtherError(text);
        break;
    default:
        message = msgUnknownError();
        break;
    }
    raiseMessage(PyExc_Exception, message);
}

} }  // namespace vexa2::python
