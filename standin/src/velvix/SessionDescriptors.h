// The trading-session descriptors a session offers after login: snapshots of the world's
// scripted list, taken when the caller asks for them.
#pragma once

#include <vector>

#include "velvix/Velvix.h"

#include "core/Registry.h"
#include "core/Scenario.h"

namespace sim::velvix
{

class SessionDescriptor final : public RefCounted<IK7RSessionDescriptor>
{
public:
    explicit SessionDescriptor(SessionDescriptorSpec spec);

    const char* getId() override;
    const char* getName() override;
    const char* getDescription() override;
    bool getRequiresPin() override;

private:
    ~SessionDescriptor() override = default;
    SessionDescriptorSpec spec_;
};

class SessionDescriptorCollection final : public RefCounted<IK7RSessionDescriptorCollection>
{
public:
    explicit SessionDescriptorCollection(const std::vector<SessionDescriptorSpec>& specs);

    int size() override;
    IK7RSessionDescriptor* get(int index) override;  // null past either end

private:
    ~SessionDescriptorCollection() override = default;
    std::vector<Ref<SessionDescriptor>> items_;
};

}  // namespace sim::velvix
