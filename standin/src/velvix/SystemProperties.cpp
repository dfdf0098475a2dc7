// The server's system properties, read and changed under the scenario's lock; a response takes a
// copy, so it keeps what it was made with.
#include "SystemProperties.h"

#include "core/World.h"

namespace sim::velvix
{

SystemPropertyList systemProperties()
{
    return world().scenario().read([](const ScenarioState& s) { return s.systemProperties; });
}

std::optional<Text> systemProperty(const std::string& name)
{
    return world().scenario().read([&](const ScenarioState& s) -> std::optional<Text> {
        for (const auto& [n, value] : s.systemProperties)
            if (n == name)
                return value;
        return std::nullopt;
    });
}

void setSystemProperty(const std::string& name, const Text& value)
{
    world().scenario().update([&](ScenarioState& s) {
        for (auto& [n, v] : s.systemProperties)
            if (n == name)
            {
                v = value;
                return;
            }
        s.systemProperties.emplace_back(name, value);
    });
}

void setSystemProperties(SystemPropertyList list)
{
    world().scenario().update([&](ScenarioState& s) { s.systemProperties = std::move(list); });
}

Ref<Response> systemPropertiesResponse(const Text& requestId)
{
    auto pairs = std::make_shared<PropertyPairs>();
    for (auto& [name, value] : systemProperties())
        pairs->emplace_back(std::move(name), std::move(value));
    ResponseContent content;
    content.properties = std::move(pairs);
    return make<Response>(static_cast<int>(K7RResponseType::GetSystemProperties), requestId, std::move(content));
}

}  // namespace sim::velvix
