// Value maps. Each is locked on its own; a child is read under its own lock, never under the
// parent's, so two maps never wait for each other.
#include "ValueMaps.h"

#include "core/World.h"

namespace sim::velvix
{

namespace
{
constexpr const char* Lib = "velvix";
}

ValueMap::ValueMap() : RefCounted("IK7RValueMap") {}

void ValueMap::set(const char* op, K7RRequestParamsEnum param, Value value)
{
    journal(Lib, op, {number(param), value});
    std::lock_guard<std::mutex> lock(mutex_);
    params_[static_cast<int>(param)] = std::move(value);
}

void ValueMap::setString(K7RRequestParamsEnum param, const char* value)
{
    set("IK7RValueMap::setString", param, text(value));
}

void ValueMap::setDouble(K7RRequestParamsEnum param, double value)
{
    set("IK7RValueMap::setDouble", param, Value(value));
}

void ValueMap::setInt(K7RRequestParamsEnum param, int value)
{
    set("IK7RValueMap::setInt", param, number(value));
}

void ValueMap::setBoolean(K7RRequestParamsEnum param, bool value)
{
    set("IK7RValueMap::setBoolean", param, flag(value));
}

IK7RValueMap* ValueMap::clone()
{
    if (auto fault = takeFault("IK7RValueMap::clone"); fault && fault->kind == FaultKind::Null)
        return nullptr;
    std::map<int, Value> params;
    std::vector<Ref<IK7RValueMap>> children;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        params = params_;
        children = children_;
    }
    Ref<ValueMap> copy = make<ValueMap>();
    copy->params_ = std::move(params);
    for (const Ref<IK7RValueMap>& child : children)
    {
        IK7RValueMap* childCopy = child->clone();
        if (childCopy)
            copy->children_.push_back(Ref<IK7RValueMap>::adopt(childCopy));
    }
    return copy.detach();
}

void ValueMap::clear()
{
    journal(Lib, "IK7RValueMap::clear");
    std::vector<Ref<IK7RValueMap>> dropped;  // let go of after the lock
    std::lock_guard<std::mutex> lock(mutex_);
    params_.clear();
    dropped.swap(children_);
}

int ValueMap::getChildrenCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(children_.size());
}

IK7RValueMap* ValueMap::getChild(int index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || index >= static_cast<int>(children_.size()))
        return nullptr;
    return children_[static_cast<std::size_t>(index)].share();
}

// Whether `target` is this map or one of its descendants.
bool ValueMap::reaches(const ValueMap* target) const
{
    if (this == target)
        return true;
    std::vector<Ref<IK7RValueMap>> children;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        children = children_;
    }
    for (const Ref<IK7RValueMap>& child : children)
        if (auto* ours = dynamic_cast<const ValueMap*>(child.get()); ours && ours->reaches(target))
            return true;
    return false;
}

void ValueMap::appendChild(IK7RValueMap* child)
{
    journal(Lib, "IK7RValueMap::appendChild", {flag(child != nullptr)});
    if (!child)
        return;
    // A map that holds itself would never be freed: the server ignores such a child.
    if (auto* ours = dynamic_cast<ValueMap*>(child); ours && ours->reaches(this))
        return;
    Ref<IK7RValueMap> held = Ref<IK7RValueMap>::retain(child);
    std::lock_guard<std::mutex> lock(mutex_);
    children_.push_back(std::move(held));
}

MapContents ValueMap::contents() const
{
    MapContents out;
    std::vector<Ref<IK7RValueMap>> children;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        out.params = params_;
        children = children_;
    }
    for (const Ref<IK7RValueMap>& child : children)
        out.children.push_back(contentsOf(child.get()));
    return out;
}

MapContents contentsOf(IK7RValueMap* map)
{
    if (auto* ours = dynamic_cast<ValueMap*>(map))
        return ours->contents();
    return {};
}

}  // namespace sim::velvix
