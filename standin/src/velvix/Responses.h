// Responses of the simulated server: a type, the request id they answer, and what the readers
// read from them (bars, table rows, an order id, table updates). The control face may craft one of
// any type and change its contents until a reader is made; a reader reads the contents of that
// moment and keeps them.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "velvix/Velvix.h"

#include "History.h"
#include "core/Registry.h"
#include "core/Scenario.h"

namespace sim::velvix
{

// The rows of one table as a response carries them.
struct TableRows
{
    K7RTable type = K7RTable::TableUnknown;
    Ref<IK7RTableColumnCollection> columns;
    std::vector<Ref<IK7RRow>> rows;
};

struct TableUpdate
{
    K7RTableUpdateType type = K7RTableUpdateType::UpdateUnknown;
    K7RTable table = K7RTable::TableUnknown;
    Ref<IK7RRow> row;
};

// System properties as a response carries them: (name, value), either may be null.
using PropertyPairs = std::vector<std::pair<Text, Text>>;

struct ResponseContent
{
    std::shared_ptr<const history::Series> snapshot;
    std::shared_ptr<const TableRows> table;
    std::optional<int> tableReaderType;  // a table reader reporting another type than the rows'
    Text orderId;
    bool dealerIntervention = false;
    bool marginResult = false;
    double serverTime = 0.0;
    std::vector<TableUpdate> updates;
    std::shared_ptr<const PropertyPairs> properties;
    std::set<std::string> nullReaders;   // creator names that give null for this response
};

class Response final : public RefCounted<IK7RResponse>
{
public:
    Response(int type, Text requestId, ResponseContent content = {});

    K7RResponseType getType() override;  // any int, as crafted
    const char* getRequestId() override;

    int type() const { return type_; }
    const Text& requestId() const { return requestId_; }
    ResponseContent content() const;
    template <class F>
    void change(F&& f)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f(content_);
    }

private:
    ~Response() override = default;

    const int type_;
    const Text requestId_;
    mutable std::mutex mutex_;
    ResponseContent content_;
};

// The response type that answers a refresh of `table`; RESPONSE_UNKNOWN for the summary and for
// types outside the tables.
K7RResponseType refreshResponseType(K7RTable table);

}  // namespace sim::velvix
