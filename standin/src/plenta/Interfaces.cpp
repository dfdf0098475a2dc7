// The exported constructors and destructors of the historical-price library's interfaces, defined
// out of line so that each interface has one home for its vtable and type information.
#include "plenta/Plenta.h"

namespace plenta
{

IAddRef::~IAddRef() = default;
IError::~IError() = default;
IPlentaCommunicatorRequest::~IPlentaCommunicatorRequest() = default;
IPlentaCommunicatorResponse::~IPlentaCommunicatorResponse() = default;
ITimeframeFactory::~ITimeframeFactory() = default;
IPlentaCommunicatorListener::~IPlentaCommunicatorListener() = default;
IPlentaCommunicatorStatusListener::~IPlentaCommunicatorStatusListener() = default;
IPlentaCommunicator::~IPlentaCommunicator() = default;
IAddRef::IAddRef() = default;
IPlentaCommunicatorListener::IPlentaCommunicatorListener() = default;
IPlentaCommunicatorStatusListener::IPlentaCommunicatorStatusListener() = default;

}  // namespace plenta
