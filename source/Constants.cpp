// source/Constants.cpp: the module-wide enums over the trading library's enumerations and the
// classes of string constants that scripts put into value maps.
#include <boost/python.hpp>

#include <initializer_list>
#include <utility>

#include <velvix/K7REnums.h>

#include "Constructors.h"
#include "Enums.h"
#include "Registrations.h"

// Empty native classes: the Python constant classes are held by value over them.
class EmptyConstants {};
class EmptyCommands {};
class EmptyOrders {};
class EmptyKeyType {};
class EmptyTIF {};
class EmptyPeg {};
class EmptySubscriptionStatuses {};
class EmptySystemProperties {};
class EmptyMessageType {};
class EmptyMessageFeature {};

namespace {

namespace bp = boost::python;
using vexa2::python::Enum;
using vexa2::python::checkedInit;

const char* const kConstantsDoc = "This class contains constants used in Velvix API.";

using Constant = std::pair<const char*, const char*>;

template <class Empty>
bp::object constantClass(const char* name, std::initializer_list<Constant> constants)
{
    bp::object cls = bp::class_<Empty>(name, kConstantsDoc, checkedInit<Empty>());
    for (const Constant& constant : constants)
        cls.attr(constant.first) = bp::str(constant.second);
    return cls;
}

void exportEnums()
{
    Enum<K7RTable>("K7RTableType",
                   "The enum specifies a set of values representing the trading tables.")
        .value("TABLE_UNKNOWN", K7RTable::TableUnknown)
        .value("OFFERS", K7RTable::Offers)
        .value("ACCOUNTS", K7RTable::Accounts)
        .value("ORDERS", K7RTable::Orders)
        .value("TRADES", K7RTable::Trades)
        .value("CLOSED_TRADES", K7RTable::ClosedTrades)
        .value("MESSAGES", K7RTable::Messages)
        .value("SUMMARY", K7RTable::Summary);

    Enum<K7RResponseType>("K7RResponseType",
                          "The enum specifies a set of values representing the types of the "
                          "trading server responses.")
        .value("RESPONSE_UNKNOWN", K7RResponseType::ResponseUnknown)
        .value("TABLES_UPDATES", K7RResponseType::TablesUpdates)
        .value("MARKET_DATA_SNAPSHOT", K7RResponseType::MarketDataSnapshot)
        .value("GET_ACCOUNTS", K7RResponseType::GetAccounts)
        .value("GET_OFFERS", K7RResponseType::GetOffers)
        .value("GET_ORDERS", K7RResponseType::GetOrders)
        .value("GET_TRADES", K7RResponseType::GetTrades)
        .value("GET_CLOSED_TRADES", K7RResponseType::GetClosedTrades)
        .value("GET_MESSAGES", K7RResponseType::GetMessages)
        .value("CREATE_ORDER_RESPONSE", K7RResponseType::CreateOrderResponse)
        .value("GET_SYSTEM_PROPERTIES", K7RResponseType::GetSystemProperties)
        .value("COMMAND_RESPONSE", K7RResponseType::CommandResponse)
        .value("MARGIN_REQUIREMENTS_RESPONSE", K7RResponseType::MarginRequirementsResponse)
        .value("GET_LAST_ORDER_UPDATE", K7RResponseType::GetLastOrderUpdate)
        .value("MARKET_DATA", K7RResponseType::MarketData)
        .value("LEVEL2_MARKET_DATA", K7RResponseType::Level2MarketData);

    Enum<K7RTableUpdateType>("K7RTableUpdateType",
                             "The enum specifies a set of values representing the type of the "
                             "trading table update.")
        .value("UPDATE_UNKNOWN", K7RTableUpdateType::UpdateUnknown)
        .value("INSERT", K7RTableUpdateType::Insert)
        .value("UPDATE", K7RTableUpdateType::Update)
        .value("DELETE", K7RTableUpdateType::Delete);

    Enum<K7RPermissionStatus>("K7RPermissionStatus",
                              "The enum specifies a set of values specifying the status of "
                              "permissions.")
        .value("PERMISSION_DISABLED", K7RPermissionStatus::PermissionDisabled)
        .value("PERMISSION_ENABLED", K7RPermissionStatus::PermissionEnabled)
        .value("PERMISSION_UNKNOWN", K7RPermissionStatus::PermissionUnknown)
        .value("PERMISSION_HIDDEN", K7RPermissionStatus::PermissionHidden);

    Enum<K7RMarketStatus>("K7RMarketStatus",
                          "The enum specifies a set of values representing the market status.")
        .value("MARKET_STATUS_OPEN", K7RMarketStatus::MarketStatusOpen)
        .value("MARKET_STATUS_CLOSED", K7RMarketStatus::MarketStatusClosed)
        .value("MARKET_STATUS_UNDEFINED", K7RMarketStatus::MarketStatusUndefined);

    Enum<K7RPriceUpdateMode>("K7RPriceUpdateMode",
                             "The enum specifies a set of values representing the price update "
                             "mode that indicates if a session receives prices or not.")
        .value("DEFAULT", K7RPriceUpdateMode::Default)
        .value("NO_PRICE", K7RPriceUpdateMode::NoPrice);

    Enum<K7RTableManagerMode>("K7RTableManagerMode",
                              "The enum specifies a set of values representing the table "
                              "manager mode that indicates if a session uses a table manager "
                              "or not.")
        .value("NO", K7RTableManagerMode::No)
        .value("YES", K7RTableManagerMode::Yes);

    Enum<K7RTableStatus>("K7RTableStatus",
                         "The enum specifies a set of values representing the trading table "
                         "load status.")
        .value("INITIAL", K7RTableStatus::Initial)
        .value("REFRESHING", K7RTableStatus::Refreshing)
        .value("REFRESHED", K7RTableStatus::Refreshed)
        .value("FAILED", K7RTableStatus::Failed);

    Enum<K7RTableManagerStatus>("K7RTableManagerStatus",
                                "The enum specifies a set of values representing the table "
                                "manager status.")
        .value("TABLES_LOADING", K7RTableManagerStatus::TablesLoading)
        .value("TABLES_LOADED", K7RTableManagerStatus::TablesLoaded)
        .value("TABLES_LOAD_FAILED", K7RTableManagerStatus::TablesLoadFailed);

    Enum<K7RChartSessionMode>("K7RChartSessionMode",
                              "The enum specifies a set of values representing the chart "
                              "session modes.")
        .value("NO_CHART_SESSION", K7RChartSessionMode::NoChartSession)
        .value("ATTACHED", K7RChartSessionMode::Attached)
        .value("DETACHED", K7RChartSessionMode::Detached);

    Enum<K7RRelationalOperators>("K7RRelationalOperators",
                                 "The enum specifies a set of relational operators.")
        .value("BETWEEN", K7RRelationalOperators::Between)
        .value("EQUAL_TO", K7RRelationalOperators::EqualTo)
        .value("NOT_EQUAL_TO", K7RRelationalOperators::NotEqualTo)
        .value("GREATER_THAN", K7RRelationalOperators::GreaterThan)
        .value("LESS_THAN", K7RRelationalOperators::LessThan)
        .value("GREATER_THAN_OR_EQUAL_TO", K7RRelationalOperators::GreaterThanOrEqualTo)
        .value("LESS_THAN_OR_EQUAL_TO", K7RRelationalOperators::LessThanOrEqualTo);

    Enum<K7RLogicOperators>("K7RLogicOperators",
                            "The enum specifies a set of values representing the logic "
                            "operators.")
        .value("OPERATOR_AND", K7RLogicOperators::OperatorAnd)
        .value("OPERATOR_OR", K7RLogicOperators::OperatorOr);

    Enum<K7RUpdatesProcessStatus>("K7RUpdatesProcessStatus",
                                  "The enum specifies a set of values representing the update "
                                  "process status.")
        .value("UNKNOWN_PROCESS_STATUS", K7RUpdatesProcessStatus::UnknownProcessStatus)
        .value("BEGIN_TABLES_UPDATE", K7RUpdatesProcessStatus::BeginTablesUpdate)
        .value("END_TABLES_UPDATE", K7RUpdatesProcessStatus::EndTablesUpdate);

    Enum<K7RTableEventsFilter>("K7RTableEventsFilter",
                               "The enum specifies a set of values representing the type of "
                               "events filtering.")
        .value("ALL_EVENTS", K7RTableEventsFilter::AllEvents)
        .value("SERVER_ONLY", K7RTableEventsFilter::ServerOnly);

    Enum<K7RCandleOpenPriceMode>("K7RCandleOpenPriceMode",
                                 "The enum specifies a set of values representing the candles "
                                 "open price mode that indicates how the open price is "
                                 "determined.")
        .value("PREVIOUS_CLOSE", K7RCandleOpenPriceMode::PreviousClose)
        .value("FIRST_TICK", K7RCandleOpenPriceMode::FirstTick);

    Enum<K7RCommissionStage>("K7RCommissionStage",
                             "The enum specifies a set of values representing stages when "
                             "commission is incurred.")
        .value("COMMISSION_STAGE_UNKNOWN", K7RCommissionStage::CommissionStageUnknown)
        .value("OPEN_COMMISSION", K7RCommissionStage::OpenCommission)
        .value("CLOSE_COMMISSION", K7RCommissionStage::CloseCommission)
        .value("ANY_DEAL_COMMISSION", K7RCommissionStage::AnyDealCommission);

    Enum<K7RCommissionUnitType>("K7RCommissionUnitType",
                                "The enum specifies a set of values representing the "
                                "commission unit type.")
        .value("COMMISSION_TYPE_UNKNOWN", K7RCommissionUnitType::CommissionTypeUnknown)
        .value("COMMISSION_PER_LOT", K7RCommissionUnitType::CommissionPerLot)
        .value("COMMISSION_PER_LOT_CONV", K7RCommissionUnitType::CommissionPerLotConv)
        .value("COMMISSION_PER_TRADE", K7RCommissionUnitType::CommissionPerTrade)
        .value("COMMISSION_PER_ORDER", K7RCommissionUnitType::CommissionPerOrder)
        .value("COMMISSION_PER_ORDER_CONV", K7RCommissionUnitType::CommissionPerOrderConv)
        .value("COMMISSION_PER_BASIS_POINTS", K7RCommissionUnitType::CommissionPerBasisPoints);

    Enum<K7RCommissionStatus>("K7RCommissionStatus",
                              "The enum specifies a set of values representing the commission "
                              "status.")
        .value("COMMISSION_STATUS_DISABLED", K7RCommissionStatus::CommissionStatusDisabled)
        .value("COMMISSION_STATUS_LOADING", K7RCommissionStatus::CommissionStatusLoading)
        .value("COMMISSION_STATUS_READY", K7RCommissionStatus::CommissionStatusReady)
        .value("COMMISSION_STATUS_FAIL_TO_LOAD", K7RCommissionStatus::CommissionStatusFailToLoad);

    Enum<K7RUserKind>("K7RUserKind",
                      "The enum specifies a set of values representing the user kind.")
        .value("UNDEFINED", K7RUserKind::UserKindUndefined)
        .value("TRADER", K7RUserKind::UserKindTrader)
        .value("CUSTOMER", K7RUserKind::UserKindCustomer)
        .value("DEALER", K7RUserKind::UserKindDealer)
        .value("ADMIN", K7RUserKind::UserKindAdmin);

    Enum<K7RRolloverStatus>("K7RRolloverStatus",
                            "The enum specifies a set of values representing the status of "
                            "rollovers.")
        .value("ROLLOVER_NOT_LOADED", K7RRolloverStatus::RolloverNotLoaded)
        .value("ROLLOVER_LOADING", K7RRolloverStatus::RolloverLoading)
        .value("ROLLOVER_READY", K7RRolloverStatus::RolloverReady)
        .value("FAIL_TO_LOAD", K7RRolloverStatus::RolloverFailToLoad);

    Enum<K7RReportUrlError>("K7RReportUrlError",
                            "The errors returned by K7RSession.get_report_url.")
        .value("REPORT_URL_NOT_SUPPORTED", K7RReportUrlError::ReportUrlNotSupported)
        .value("REPORT_URL_TOO_SMALL_BUFFER", K7RReportUrlError::ReportUrlTooSmallBuffer)
        .value("REPORT_URL_NOT_LOGGED", K7RReportUrlError::ReportUrlNotLogged)
        .value("REPORT_URL_NO_SESSION", K7RReportUrlError::ReportUrlNoSession)
        .value("REPORT_URL_NO_MEMORY", K7RReportUrlError::ReportUrlNoMemory)
        .value("REPORT_URL_SSO_ERROR", K7RReportUrlError::ReportUrlSsoError)
        .value("REPORT_URL_NO_AUTH_ID", K7RReportUrlError::ReportUrlNoAuthId)
        .value("REPORT_URL_NO_SUB_ID", K7RReportUrlError::ReportUrlNoSubId)
        .value("REPORT_URL_NO_ACC_ID", K7RReportUrlError::ReportUrlNoAccId);

    Enum<K7RTokenError>("K7RTokenError", "The errors returned by K7RSession.token.")
        .value("TOKEN_NOT_SUPPORTED", K7RTokenError::TokenNotSupported)
        .value("TOKEN_TOO_SMALL_BUFFER", K7RTokenError::TokenTooSmallBuffer)
        .value("TOKEN_NOT_LOGGED", K7RTokenError::TokenNotLogged)
        .value("TOKEN_NO_SESSION", K7RTokenError::TokenNoSession)
        .value("TOKEN_SSO_ERROR", K7RTokenError::TokenSsoError);

    using P = K7RRequestParamsEnum;
    Enum<P>("K7RRequestParamsEnum",
            "The enum specifies a set of values representing the request parameters.")
        .value("UNKNOWN_PARAM", P::UnknownParam)
        .value("MSG_TYPE", P::MsgType)
        .value("MSG_SUBJECT", P::MsgSubject)
        .value("MSG_TEXT", P::MsgText)
        .value("MSG_TO", P::MsgTo)
        .value("MSG_FEATURE", P::MsgFeature)
        .value("MSG_DELETE", P::MsgDelete)
        .value("MSG_DELIVER", P::MsgDeliver)
        .value("MSG_ID", P::MsgId)
        .value("COMMAND", P::Command)
        .value("ACCOUNT_ID", P::AccountId)
        .value("OFFER_ID", P::OfferId)
        .value("TRADE_ID", P::TradeId)
        .value("BUY_SELL", P::BuySell)
        .value("AMOUNT", P::Amount)
        .value("RATE", P::Rate)
        .value("RATE_STOP", P::RateStop)
        .value("RATE_LIMIT", P::RateLimit)
        .value("TRAIL_STEP_STOP", P::TrailStepStop)
        .value("TRAIL_STEP", P::TrailStep)
        .value("TIME_IN_FORCE", P::TimeInForce)
        .value("CUSTOM_ID", P::CustomId)
        .value("ORDER_ID", P::OrderId)
        .value("PEG_OFFSET_STOP", P::PegOffsetStop)
        .value("PEG_OFFSET_LIMIT", P::PegOffsetLimit)
        .value("PEG_TYPE_STOP", P::PegTypeStop)
        .value("PEG_TYPE_LIMIT", P::PegTypeLimit)
        .value("PEG_OFFSET", P::PegOffset)
        .value("PEG_TYPE", P::PegType)
        .value("NET_QUANTITY", P::NetQuantity)
        .value("ORDER_TYPE", P::OrderType)
        .value("RATE_MIN", P::RateMin)
        .value("RATE_MAX", P::RateMax)
        .value("CONTINGENCY_ID", P::ContingencyId)
        .value("SUBSCRIPTION_STATUS", P::SubscriptionStatus)
        .value("CLIENT_RATE", P::ClientRate)
        .value("CONTINGENCY_GROUP_TYPE", P::ContingencyGroupType)
        .value("PRIMARY_QID", P::PrimaryQid)
        .value("ACCOUNT_NAME", P::AccountName)
        .value("KEY", P::Key)
        .value("ID", P::Id)
        .value("BID", P::Bid)
        .value("ASK", P::Ask)
        .value("LOGIN_ID", P::LoginId)
        .value("REPORT_ID", P::ReportId)
        .value("LIFETIME", P::Lifetime)
        .value("SYMBOL", P::Symbol)
        .value("PSW", P::Psw)
        .value("INTR_BUY", P::IntrBuy)
        .value("INTR_SEL", P::IntrSel)
        .value("INTR_MULT", P::IntrMult)
        .value("STATUS", P::Status)
        .value("INTR_FLAG", P::IntrFlag)
        .value("MSG", P::Msg)
        .value("DEALER_INT_FLG", P::DealerIntFlg)
        .value("AUTO_LIMIT", P::AutoLimit)
        .value("MRGN_REQ", P::MrgnReq)
        .value("ENTRY_MRGN_REQ", P::EntryMrgnReq)
        .value("RATE_VARIAT", P::RateVariat)
        .value("RFQ_LIFETIME", P::RfqLifetime)
        .value("ORDR_LIFETIME", P::OrdrLifetime)
        .value("SELL_INTR", P::SellIntr)
        .value("BUY_INTR", P::BuyIntr)
        .value("FEED", P::Feed)
        .value("FEED_PRICE", P::FeedPrice)
        .value("FEED_ASK", P::FeedAsk)
        .value("FEED_BID", P::FeedBid)
        .value("PERCENT_COST", P::PercentCost)
        .value("ACCT_ID", P::AcctId)
        .value("INTR_SIGN", P::IntrSign)
        .value("MRGN_REQ_ENTRY", P::MrgnReqEntry)
        .value("ORDER_PRICE_FLG", P::OrderPriceFlg)
        .value("MRGN_ENABLED_FLG", P::MrgnEnabledFlg)
        .value("MRGN_REQ_AWARE", P::MrgnReqAware)
        .value("LOGIN", P::Login)
        .value("ORDER_PRICE", P::OrderPrice)
        .value("SEAT_BELT", P::SeatBelt)
        .value("AUTO_MRGN", P::AutoMrgn)
        .value("COND_DISTANCE", P::CondDistance)
        .value("COND_DISTANCE_E", P::CondDistanceE)
        .value("MAX_QUANTITY", P::MaxQuantity)
        .value("PANIC_FLG", P::PanicFlg)
        .value("GONE_TO_PEE_FLG", P::GoneToPeeFlg)
        .value("MANUAL_PRICES", P::ManualPrices)
        .value("CROSS_CURRENCY", P::CrossCurrency)
        .value("PANIC_LEVEL", P::PanicLevel)
        .value("INTR_MULT_NONE", P::IntrMultNone)
        .value("EQTY_ENABLED_FLG", P::EqtyEnabledFlg)
        .value("EQTY_STOP", P::EqtyStop)
        .value("EQTY_LIMIT", P::EqtyLimit)
        .value("EXPIRE_DATE_TIME", P::ExpireDateTime)
        .value("PEG_OFFSET_MIN", P::PegOffsetMin)
        .value("PEG_OFFSET_MAX", P::PegOffsetMax);
}

void exportConstantClasses()
{
    bp::object constants = constantClass<EmptyConstants>("Constants", {{"BUY", "B"}, {"SELL", "S"}});

    // The nested classes are reached only through Constants; the module scope comes back on any
    // exit from this block.
    bp::scope nested(constants);

    constantClass<EmptyCommands>("Commands", {
        {"CREATE_ORDER", "CreateOrder"},
        {"CREATE_OCO", "CreateOCO"},
        {"CREATE_OTO", "CreateOTO"},
        {"CREATE_OTOCO", "CreateOTOCO"},
        {"JOIN_TO_NEW_CONTINGENCY_GROUP", "JoinToNewContingencyGroup"},
        {"JOIN_TO_EXISTING_CONTINGENCY_GROUP", "JoinToExistingContingencyGroup"},
        {"REMOVE_FROM_CONTINGENCY_GROUP", "RemoveFromContingencyGroup"},
        {"EDIT_ORDER", "EditOrder"},
        {"DELETE_ORDER", "DeleteOrder"},
        {"SET_SUBSCRIPTION_STATUS", "SetSubscriptionStatus"},
        {"UPDATE_MARGIN_REQUIREMENTS", "UpdateMarginRequirements"},
        {"GET_LAST_ORDER_UPDATE", "GetLastOrderUpdate"},
        {"ACCEPT_ORDER", "AcceptOrder"},
        {"CHANGE_PASSWORD", "ChangePassword"},
        {"SEND_MAIL", "SendMail"},
        {"UPDATE_COMMISSIONS", "UpdateCommissions"},
        {"UPDATE_ROLLOVER", "UpdateRollover"},
    });

    constantClass<EmptyOrders>("Orders", {
        {"TRUE_MARKET_OPEN", "OM"},
        {"MARKET_OPEN", "O"},
        {"MARKET_OPEN_RANGE", "OR"},
        {"OPEN_LIMIT", "OL"},
        {"TRUE_MARKET_CLOSE", "CM"},
        {"MARKET_CLOSE", "C"},
        {"MARKET_CLOSE_RANGE", "CR"},
        {"CLOSE_LIMIT", "CL"},
        {"STOP_ENTRY", "SE"},
        {"LIMIT_ENTRY", "LE"},
        {"RANGE_ENTRY", "RE"},
        {"ENTRY", "E"},
        {"STOP", "S"},
        {"LIMIT", "L"},
        {"STOP_TRAILING_ENTRY", "STE"},
        {"LIMIT_TRAILING_ENTRY", "LTE"},
        {"RANGE_TRAILING_ENTRY", "RTE"},
    });

    constantClass<EmptyKeyType>("KeyType", {
        {"ORDER_ID", "OrderID"},
        {"REQUEST_ID", "OrderQID"},
        {"REQUEST_TXT", "OrderQTXT"},
    });

    constantClass<EmptyTIF>("TIF", {
        {"GTC", "GTC"},
        {"IOC", "IOC"},
        {"DAY", "DAY"},
        {"FOK", "FOK"},
        {"GTD", "GTD"},
    });

    constantClass<EmptyPeg>("Peg", {
        {"FROM_OPEN", "O"},
        {"FROM_CLOSE", "M"},
    });

    constantClass<EmptySubscriptionStatuses>("SubscriptionStatuses", {
        {"TRADABLE", "T"},
        {"DISABLE", "D"},
        {"VIEW_ONLY", "V"},
    });

    // Property names are their own values, but for SUPPORT_TICK_VOLUME.
    constantClass<EmptySystemProperties>("SystemProperties", {
        {"BASE_CRNCY", "BASE_CRNCY"},
        {"BASE_UNIT_SIZE", "BASE_UNIT_SIZE"},
        {"BASE_CRNCY_PRECISION", "BASE_CRNCY_PRECISION"},
        {"BASE_CRNCY_SYMBOL", "BASE_CRNCY_SYMBOL"},
        {"BASE_TIME_ZONE", "BASE_TIME_ZONE"},
        {"COND_DIST", "COND_DIST"},
        {"COND_DIST_ENTRY", "COND_DIST_ENTRY"},
        {"END_TRADING_DAY", "END_TRADING_DAY"},
        {"FORCE_PASSWORD_CHANGE", "FORCE_PASSWORD_CHANGE"},
        {"MARKET_OPEN", "MARKET_OPEN"},
        {"QUERYDEPTH_0", "QUERYDEPTH_0"},
        {"QUERYDEPTH_1", "QUERYDEPTH_1"},
        {"QUERYDEPTH_2", "QUERYDEPTH_2"},
        {"QUERYDEPTH_3", "QUERYDEPTH_3"},
        {"QUERYDEPTH_4", "QUERYDEPTH_4"},
        {"QUERYDEPTH_5", "QUERYDEPTH_5"},
        {"QUERYDEPTH_6", "QUERYDEPTH_6"},
        {"QUERYDEPTH_7", "QUERYDEPTH_7"},
        {"QUERYDEPTH_8", "QUERYDEPTH_8"},
        {"QUERYDEPTH_h2", "QUERYDEPTH_h2"},
        {"QUERYDEPTH_h3", "QUERYDEPTH_h3"},
        {"QUERYDEPTH_h4", "QUERYDEPTH_h4"},
        {"QUERYDEPTH_h6", "QUERYDEPTH_h6"},
        {"QUERYDEPTH_h8", "QUERYDEPTH_h8"},
        {"SERVER_TIME_UTC", "SERVER_TIME_UTC"},
        {"SUPPORT_TICK_VOLUME", "SupportTickVolume"},
        {"TP_170", "TP_170"},
        {"TP_171", "TP_171"},
        {"TP_172", "TP_172"},
        {"TP_86", "TP_86"},
        {"TP_88", "TP_88"},
        {"TP_89", "TP_89"},
        {"TP_94", "TP_94"},
        {"CP_170", "CP_170"},
        {"CP_171", "CP_171"},
        {"CP_172", "CP_172"},
        {"CP_86", "CP_86"},
        {"CP_88", "CP_88"},
        {"CP_89", "CP_89"},
        {"CP_94", "CP_94"},
        {"TRAILING_DYNAMIC", "TRAILING_DYNAMIC"},
        {"TRAILING_FLUCTUATE", "TRAILING_FLUCTUATE"},
        {"TRAILING_FLUCTUATE_PTS_MAX", "TRAILING_FLUCTUATE_PTS_MAX"},
        {"TRAILING_FLUCTUATE_PTS_MIN", "TRAILING_FLUCTUATE_PTS_MIN"},
        {"PEGGED_STOP_LIMIT_DISABLED", "PEGGED_STOP_LIMIT_DISABLED"},
        {"FIRST_TICK_OPEN_PRICE_ENABLED", "FIRST_TICK_OPEN_PRICE_ENABLED"},
    });

    constantClass<EmptyMessageType>("MessageType", {
        {"REGULAR", "0"},
        {"POPUP", "1"},
        {"ANSWER", "2"},
        {"FORCED_POPUP", "3"},
    });

    constantClass<EmptyMessageFeature>("MessageFeature", {
        {"PLAIN", "1"},
        {"TRADING_HOURS", "2"},
        {"QUESTION", "3"},
        {"INFORMATION", "4"},
        {"MARKET_CONDITION", "5"},
        {"SOFTWARE_UPDATE", "6"},
        {"EMERGENCY", "7"},
        {"SYSTEM_FAILURE", "8"},
    });
}

}  // namespace

void exportConstants()
{
    exportEnums();
    exportConstantClasses();
}
