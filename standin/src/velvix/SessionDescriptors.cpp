// The session-descriptor collection and its items.
#include "SessionDescriptors.h"

namespace sim::velvix
{

namespace
{
const char* cstr(const Text& t)
{
    return t ? t->c_str() : nullptr;
}
}  // namespace

SessionDescriptor::SessionDescriptor(SessionDescriptorSpec spec)
    : RefCounted("IK7RSessionDescriptor"), spec_(std::move(spec))
{
}

const char* SessionDescriptor::getId()
{
    return cstr(spec_.id);
}

const char* SessionDescriptor::getName()
{
    return cstr(spec_.name);
}

const char* SessionDescriptor::getDescription()
{
    return cstr(spec_.description);
}

bool SessionDescriptor::getRequiresPin()
{
    return spec_.requiresPin;
}

SessionDescriptorCollection::SessionDescriptorCollection(const std::vector<SessionDescriptorSpec>& specs)
    : RefCounted("IK7RSessionDescriptorCollection")
{
    items_.reserve(specs.size());
    for (const SessionDescriptorSpec& spec : specs)
        items_.push_back(make<SessionDescriptor>(spec));
}

int SessionDescriptorCollection::size()
{
    return static_cast<int>(items_.size());
}

IK7RSessionDescriptor* SessionDescriptorCollection::get(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size())
        return nullptr;
    return items_[static_cast<std::size_t>(index)].share();
}

}  // namespace sim::velvix
