// Value maps: the parameters of an order request, keyed by K7RRequestParamsEnum, with child maps
// for contingent orders. The server reads them back as plain contents when a request is made.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "velvix/Velvix.h"

#include "core/Registry.h"
#include "core/Value.h"

namespace sim::velvix
{

// A value map's contents as the server sees them: texts (a null text stays null), doubles, ints
// (as 64-bit) and booleans by parameter, and the children's contents in order.
struct MapContents
{
    std::map<int, Value> params;
    std::vector<MapContents> children;
};

class ValueMap final : public RefCounted<IK7RValueMap>
{
public:
    ValueMap();

    void setString(K7RRequestParamsEnum param, const char* value) override;
    void setDouble(K7RRequestParamsEnum param, double value) override;
    void setInt(K7RRequestParamsEnum param, int value) override;
    void setBoolean(K7RRequestParamsEnum param, bool value) override;
    IK7RValueMap* clone() override;  // a deep copy: the children are copied too
    void clear() override;           // parameters and children
    int getChildrenCount() override;
    IK7RValueMap* getChild(int index) override;  // null outside 0..count-1
    void appendChild(IK7RValueMap* child) override;

    MapContents contents() const;

private:
    ~ValueMap() override = default;
    void set(const char* op, K7RRequestParamsEnum param, Value value);
    bool reaches(const ValueMap* target) const;

    mutable std::mutex mutex_;
    std::map<int, Value> params_;
    std::vector<Ref<IK7RValueMap>> children_;
};

// The contents of any caller's map: ours are read directly, a foreign one gives empty contents.
MapContents contentsOf(IK7RValueMap* map);

}  // namespace sim::velvix
