// source/K7R/K7RTradingSettingsProvider.cpp: the K7RMargins and K7RTradingSettingsProvider classes:
// the trading limits and margins the server set per instrument and account.
#include <boost/python.hpp>

#include <velvix/Velvix.h>

#include "ObjectHandles.h"
#include "Registrations.h"

// The answer of get_margins: the three margin levels and whether the three-level policy is used.
class K7RMargins
{
public:
    K7RMargins(double maintenance, double entry, double limitation, bool threeLevel)
        : mmr(maintenance), emr(entry), lmr(limitation), m_threeLevel(threeLevel)
    {
    }

    bool is3LevelMargin() const { return m_threeLevel; }

    double mmr;
    double emr;
    double lmr;

private:
    bool m_threeLevel;
};

namespace {

using P = IK7RTradingSettingsProvider;

// The library writes the levels it knows; the ones it leaves alone stay 0.
K7RMargins margins(P& provider, const char* instrument, IK7RAccountRow* account)
{
    double mmr = 0.0, emr = 0.0, lmr = 0.0;
    const bool threeLevel = provider.getMargins(instrument, account, mmr, emr, lmr);
    return K7RMargins(mmr, emr, lmr, threeLevel);
}

}  // namespace

void exportTradingSettingsProvider()
{
    namespace bp = boost::python;

    bp::class_<K7RMargins>("K7RMargins",
                           "Checks whether the three level margin policy is used and specifies the "
                           "three margin levels.",
                           bp::no_init)
        .def_readonly("mmr", &K7RMargins::mmr, "Gets the maintenance margin level.")
        .def_readonly("emr", &K7RMargins::emr, "Gets the entry margin level.")
        .def_readonly("lmr", &K7RMargins::lmr, "Gets the limitation margin level.")
        .def("is_3level_margin", &K7RMargins::is3LevelMargin,
             "Checks whether the three level margin policy is used.");

    bp::class_<P, vexa2::python::LibraryHandle<P>, boost::noncopyable>(
        "K7RTradingSettingsProvider", "Checks trading settings.", bp::no_init)
        .def("get_cond_dist_stop_for_trade", &P::getCondDistStopForTrade,
             "Gets the minimal distance between the rates of the stop order for the position and "
             "the current market rate.")
        .def("get_cond_dist_limit_for_trade", &P::getCondDistLimitForTrade,
             "Gets the minimal distance between the rates of the limit order for the position and "
             "the current market rate.")
        .def("get_cond_dist_entry_stop", &P::getCondDistEntryStop,
             "Gets the minimal distance between the rates of the entry stop order and the current "
             "market rate.")
        .def("get_cond_dist_entry_limit", &P::getCondDistEntryLimit,
             "Gets the minimal distance between the rates of the entry limit order and the current "
             "market rate.")
        .def("get_min_quantity", &P::getMinQuantity,
             "Gets the minimum size of a trade or of a market order.")
        .def("get_max_quantity", &P::getMaxQuantity,
             "Gets the maximum size of a trade or of a market order.")
        .def("get_base_unit_size", &P::getBaseUnitSize,
             "Gets the size of one lot, i.e. the minimum amount per trade that is allowed on the "
             "instrument on the account.")
        .def("get_market_status", &P::getMarketStatus,
             "Checks whether the trading in the instrument is allowed (whether the market is "
             "opened or closed).")
        .add_property("min_trailing_step", &P::getMinTrailingStep,
                      "Gets the minimum size of the market movement after which an order must be "
                      "moved following the market.")
        .add_property("max_trailing_step", &P::getMaxTrailingStep,
                      "Gets the maximum size of the market movement after which an order must be "
                      "moved following the market.")
        .def("get_mmr", &P::getMmr, "Gets the minimum margin requirement.")
        .def("get_margins", &margins, "Gets the margin policy used and the three margin levels.");
}
