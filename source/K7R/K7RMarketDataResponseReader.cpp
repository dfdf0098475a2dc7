// source/K7R/K7RMarketDataResponseReader.cpp: K7RMarketDataResponseReader, 28 read-only properties
// over one market data message. Texts and numbers are bound straight to the library's getters;
// the three dates go through the OLE road.
#include <boost/python.hpp>

#include "DateTime.h"
#include "K7R/K7RResponse.h"
#include "ObjectHandles.h"

namespace bp = boost::python;

namespace {

using Reader = IK7RMarketDataResponseReader;

// marketDataReaderDate, one instance per date getter.
template <double (Reader::*Getter)()>
bp::object marketDataReaderDate(Reader& reader)
{
    return vexa2::python::oleDateToPython((reader.*Getter)());
}

}  // namespace

void exportMarketDataResponseReader()
{
    const char* const reserved = "Reserved for future use.";
    bp::class_<Reader, vexa2::python::LibraryHandle<Reader>, boost::noncopyable>(
        "K7RMarketDataResponseReader", reserved, bp::no_init)
        .add_property("quote_id", &Reader::getQuoteId, reserved)
        .add_property("instrument", &Reader::getInstrument, reserved)
        .add_property("symbol_id", &Reader::getSymbolId, reserved)
        .add_property("date_time", &marketDataReaderDate<&Reader::getDateTime>, reserved)
        .add_property("ask_low", &Reader::getAskLow, reserved)
        .add_property("ask_high", &Reader::getAskHigh, reserved)
        .add_property("ask_open", &Reader::getAskOpen, reserved)
        .add_property("ask_close", &Reader::getAskClose, reserved)
        .add_property("bid_low", &Reader::getBidLow, reserved)
        .add_property("bid_high", &Reader::getBidHigh, reserved)
        .add_property("bid_open", &Reader::getBidOpen, reserved)
        .add_property("bid_close", &Reader::getBidClose, reserved)
        .add_property("low", &Reader::getLow, reserved)
        .add_property("high", &Reader::getHigh, reserved)
        .add_property("timing_interval", &Reader::getTimingInterval, reserved)
        .add_property("candle_completed", &Reader::getCandleCompleted, reserved)
        .add_property("market_data_request_id", &Reader::getMarketDataRequestId, reserved)
        .add_property("trading_session_id", &Reader::getTradingSessionId, reserved)
        .add_property("trading_session_sub_id", &Reader::getTradingSessionSubId, reserved)
        .add_property("continuos_flag", &Reader::getContinuosFlag, reserved)
        .add_property("bid_id", &Reader::getBidId, reserved)
        .add_property("bid_quote_condition", &Reader::getBidQuoteCondition, reserved)
        .add_property("bid_quote_type", &Reader::getBidQuoteType, reserved)
        .add_property("bid_expire_date_time", &marketDataReaderDate<&Reader::getBidExpireDateTime>, reserved)
        .add_property("ask_id", &Reader::getAskId, reserved)
        .add_property("ask_quote_condition", &Reader::getAskQuoteCondition, reserved)
        .add_property("ask_quote_type", &Reader::getAskQuoteType, reserved)
        .add_property("ask_expire_date_time", &marketDataReaderDate<&Reader::getAskExpireDateTime>, reserved);
}
