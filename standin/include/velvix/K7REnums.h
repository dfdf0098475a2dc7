// Velvix trading library: the enumerations shared by every interface (scoped, so that their
// short value names stay out of the global namespace).
#pragma once

enum class K7RTable
{
    TableUnknown = -1,
    Offers = 0,
    Accounts = 1,
    Orders = 2,
    Trades = 3,
    ClosedTrades = 4,
    Messages = 5,
    Summary = 6
};

enum class K7RResponseType
{
    ResponseUnknown = -1,
    TablesUpdates = 0,
    MarketDataSnapshot = 1,
    GetAccounts = 2,
    GetOffers = 3,
    GetOrders = 4,
    GetTrades = 5,
    GetClosedTrades = 6,
    GetMessages = 7,
    CreateOrderResponse = 8,
    GetSystemProperties = 9,
    CommandResponse = 10,
    MarginRequirementsResponse = 11,
    GetLastOrderUpdate = 12,
    MarketData = 13,
    Level2MarketData = 14
};

enum class K7RTableUpdateType
{
    UpdateUnknown = -1,
    Insert = 0,
    Update = 1,
    Delete = 2
};

enum class K7RPermissionStatus
{
    PermissionDisabled = 0,
    PermissionEnabled = 1,
    PermissionUnknown = 2,
    PermissionHidden = -2
};

enum class K7RMarketStatus
{
    MarketStatusOpen = 0,
    MarketStatusClosed = 1,
    MarketStatusUndefined = 2
};

enum class K7RPriceUpdateMode
{
    Default = 0,
    NoPrice = 1
};

enum class K7RTableManagerMode
{
    No = 0,
    Yes = 1
};

enum class K7RTableStatus
{
    Initial = 0,
    Refreshing = 1,
    Refreshed = 2,
    Failed = 3
};

enum class K7RTableManagerStatus
{
    TablesLoading = 0,
    TablesLoaded = 1,
    TablesLoadFailed = 2
};

enum class K7RChartSessionMode
{
    NoChartSession = 0,
    Attached = 1,
    Detached = 2
};

enum class K7RRelationalOperators
{
    Between = -1,
    EqualTo = 0,
    NotEqualTo = 1,
    GreaterThan = 2,
    LessThan = 3,
    GreaterThanOrEqualTo = 4,
    LessThanOrEqualTo = 5
};

enum class K7RLogicOperators
{
    OperatorAnd = 0,
    OperatorOr = 1
};

enum class K7RUpdatesProcessStatus
{
    UnknownProcessStatus = -1,
    BeginTablesUpdate = 0,
    EndTablesUpdate = 1
};

enum class K7RTableEventsFilter
{
    AllEvents = 0,
    ServerOnly = 1
};

enum class K7RCandleOpenPriceMode
{
    PreviousClose = 0,
    FirstTick = 1
};

enum class K7RCommissionStage
{
    CommissionStageUnknown = -1,
    OpenCommission = 0,
    CloseCommission = 1,
    AnyDealCommission = 2
};

enum class K7RCommissionUnitType
{
    CommissionTypeUnknown = -1,
    CommissionPerLot = 0,
    CommissionPerLotConv = 1,
    CommissionPerTrade = 2,
    CommissionPerOrder = 3,
    CommissionPerOrderConv = 4,
    CommissionPerBasisPoints = 5
};

enum class K7RCommissionStatus
{
    CommissionStatusDisabled = 0,
    CommissionStatusLoading = 1,
    CommissionStatusReady = 2,
    CommissionStatusFailToLoad = 3
};

enum class K7RUserKind
{
    UserKindUndefined = 0,
    UserKindTrader = 20,
    UserKindCustomer = 22,
    UserKindDealer = 24,
    UserKindAdmin = 26
};

enum class K7RRolloverStatus
{
    RolloverNotLoaded = 0,
    RolloverLoading = 1,
    RolloverReady = 2,
    RolloverFailToLoad = 3
};

enum class K7RReportUrlError
{
    ReportUrlNotSupported = -1,
    ReportUrlTooSmallBuffer = -2,
    ReportUrlNotLogged = -3,
    ReportUrlNoSession = -4,
    ReportUrlNoMemory = -5,
    ReportUrlSsoError = -6,
    ReportUrlNoAuthId = -7,
    ReportUrlNoSubId = -8,
    ReportUrlNoAccId = -9
};

enum class K7RTokenError
{
    TokenNotSupported = -1,
    TokenTooSmallBuffer = -2,
    TokenNotLogged = -3,
    TokenNoSession = -4,
    TokenSsoError = -5
};

enum class K7RTimeframeUnit
{
    Tick = 0,
    Min = 1,
    Hour = 2,
    Day = 3,
    Week = 4,
    Month = 5,
    Year = 6
};

enum class K7RRequestParamsEnum
{
    UnknownParam = -1,
    MsgType = -100,
    MsgSubject = -101,
    MsgText = -102,
    MsgTo = -103,
    MsgFeature = -104,
    MsgDelete = -105,
    MsgDeliver = -106,
    MsgId = -107,
    Command = 1,
    AccountId = 2,
    OfferId = 3,
    TradeId = 4,
    BuySell = 5,
    Amount = 6,
    Rate = 7,
    RateStop = 8,
    RateLimit = 9,
    TrailStepStop = 10,
    TrailStep = 11,
    TimeInForce = 12,
    CustomId = 13,
    OrderId = 14,
    PegOffsetStop = 15,
    PegOffsetLimit = 16,
    PegTypeStop = 17,
    PegTypeLimit = 18,
    PegOffset = 19,
    PegType = 20,
    NetQuantity = 21,
    OrderType = 22,
    RateMin = 23,
    RateMax = 24,
    ContingencyId = 25,
    SubscriptionStatus = 26,
    ClientRate = 27,
    ContingencyGroupType = 28,
    PrimaryQid = 29,
    AccountName = 30,
    Key = 31,
    Id = 32,
    Bid = 33,
    Ask = 34,
    LoginId = 35,
    ReportId = 36,
    Lifetime = 37,
    Symbol = 38,
    Psw = 39,
    IntrBuy = 40,
    IntrSel = 41,
    IntrMult = 42,
    Status = 43,
    IntrFlag = 44,
    Msg = 45,
    DealerIntFlg = 46,
    AutoLimit = 47,
    MrgnReq = 48,
    EntryMrgnReq = 49,
    RateVariat = 50,
    RfqLifetime = 51,
    OrdrLifetime = 52,
    SellIntr = 53,
    BuyIntr = 54,
    Feed = 55,
    FeedPrice = 56,
    FeedAsk = 57,
    FeedBid = 58,
    PercentCost = 59,
    AcctId = 60,
    IntrSign = 61,
    MrgnReqEntry = 62,
    OrderPriceFlg = 63,
    MrgnEnabledFlg = 64,
    MrgnReqAware = 65,
    Login = 66,
    OrderPrice = 67,
    SeatBelt = 68,
    AutoMrgn = 69,
    CondDistance = 70,
    CondDistanceE = 71,
    MaxQuantity = 72,
    PanicFlg = 73,
    GoneToPeeFlg = 74,
    ManualPrices = 75,
    CrossCurrency = 76,
    PanicLevel = 77,
    IntrMultNone = 78,
    EqtyEnabledFlg = 79,
    EqtyStop = 80,
    EqtyLimit = 81,
    ExpireDateTime = 82,
    PegOffsetMin = 83,
    PegOffsetMax = 84
};
