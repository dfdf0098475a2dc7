// The trading server's system properties. The one set lives in the world's scenario (reset()
// brings back the demo account's), so every GET_SYSTEM_PROPERTIES response the server makes, at
// login or later, carries the set as it is at that moment, and a change shows in every later one.
#pragma once

#include <optional>
#include <string>

#include "Responses.h"
#include "core/Scenario.h"

namespace sim::velvix
{

SystemPropertyList systemProperties();
// The value of a property (which may be null); nullopt when the server has none of that name.
std::optional<Text> systemProperty(const std::string& name);
// Changes a property in place, or appends it when the server had none of that name.
void setSystemProperty(const std::string& name, const Text& value);
void setSystemProperties(SystemPropertyList list);

// A GET_SYSTEM_PROPERTIES response over the set as it is now.
Ref<Response> systemPropertiesResponse(const Text& requestId);

}  // namespace sim::velvix
