// The exported constructors and destructors of the quotes-cache library's interfaces, defined
// out of line so that each interface has one home for its vtable and type information.
#include "zorvat/Zorvat.h"

namespace zorvat
{

IAddRef::~IAddRef() = default;
IError::~IError() = default;
IStringList::~IStringList() = default;
IInstrument::~IInstrument() = default;
IInstrumentList::~IInstrumentList() = default;
ITask::~ITask() = default;
IUpdateInstrumentsCallback::~IUpdateInstrumentsCallback() = default;
IZorvat::~IZorvat() = default;
IAddRef::IAddRef() = default;
IUpdateInstrumentsCallback::IUpdateInstrumentsCallback() = default;

}  // namespace zorvat
