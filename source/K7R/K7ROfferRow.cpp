// source/K7R/K7ROfferRow.cpp: the offer row classes, K7ROfferRow and K7ROfferTableRow, with the
// library's validity flags of the offer fields as read-only properties.
#include "K7R/K7RRow.h"

void exportOfferRow()
{
    using namespace vexa2::python;
    using R = IK7ROfferRow;
    using T = IK7ROfferTableRow;
    const char* const reserved = "Reserved for future use.";

    const FlagProperties<R> rowFlags = {
        {"is_offer_id_valid", &R::getIsOfferIdValid,
         "Gets the flag indicating whether the Offer_id field is valid."},
        {"is_instrument_valid", &R::getIsInstrumentValid,
         "Gets the flag indicating whether the Instrument field is valid."},
        {"is_quote_id_valid", &R::getIsQuoteIdValid,
         "Gets the flag indicating whether the quote_id field is valid."},
        {"is_bid_valid", &R::getIsBidValid,
         "Gets the flag indicating whether the Bid field is valid or not."},
        {"is_ask_valid", &R::getIsAskValid,
         "Gets the flag indicating whether the Ask field is valid or not."},
        {"is_low_valid", &R::getIsLowValid,
         "Gets the flag indicating whether the Low field is valid."},
        {"is_high_valid", &R::getIsHighValid,
         "Gets the flag indicating whether the High field is valid or not."},
        {"is_volume_valid", &R::getIsVolumeValid,
         "Gets the flag indicating whether the Volume field is valid or not."},
        {"is_time_valid", &R::getIsTimeValid,
         "Gets the flag indicating whether the date and time of the last instrument update is "
         "valid or not."},
        {"is_bid_tradable_valid", &R::getIsBidTradableValid,
         "Gets the flag indicating whether the bid_tradable field is valid or not."},
        {"is_ask_tradable_valid", &R::getIsAskTradableValid,
         "Gets the flag indicating whether the ask_tradable field is valid or not."},
        {"is_sell_interest_valid", &R::getIsSellInterestValid,
         "Gets the flag indicating whether the sell_interest field is valid or not."},
        {"is_buy_interest_valid", &R::getIsBuyInterestValid,
         "Gets the flag indicating whether the buy_interest field is valid or not."},
        {"is_contract_currency_valid", &R::getIsContractCurrencyValid,
         "Gets the flag indicating whether the contract_currency field is valid or not."},
        {"is_digits_valid", &R::getIsDigitsValid,
         "Gets the flag indicating whether the Digits field is valid or not."},
        {"is_point_size_valid", &R::getIsPointSizeValid,
         "Gets the flag indicating whether the point_size field is valid or not."},
        {"is_subscription_status_valid", &R::getIsSubscriptionStatusValid,
         "Gets the flag indicating whether the subscription_status field is valid or not."},
        {"is_instrument_type_valid", &R::getIsInstrumentTypeValid,
         "Gets the flag indicating whether the instrument_type field is valid or not."},
        {"is_contract_multiplier_valid", &R::getIsContractMultiplierValid,
         "Gets the flag indicating whether the contract_multiplier field is valid or not."},
        {"is_trading_status_valid", &R::getIsTradingStatusValid,
         "Gets the flag indicating whether the trading_status field is valid or not."},
        {"is_value_date_valid", &R::getIsValueDateValid, reserved},
        {"is_bid_id_valid", &R::getIsBidIdValid, reserved},
        {"is_ask_id_valid", &R::getIsAskIdValid, reserved},
        {"is_bid_expire_date_valid", &R::getIsBidExpireDateValid, reserved},
        {"is_ask_expire_date_valid", &R::getIsAskExpireDateValid, reserved},
        {"is_dividend_sell_valid", &R::getIsDividendSellValid, reserved},
        {"is_dividend_buy_valid", &R::getIsDividendBuyValid, reserved},
    };
    const FlagProperties<T> tableRowFlags = {
        {"is_bid_change_direction_valid", &T::getIsBidChangeDirectionValid, reserved},
        {"is_ask_change_direction_valid", &T::getIsAskChangeDirectionValid, reserved},
        {"is_hi_change_direction_valid", &T::getIsHiChangeDirectionValid, reserved},
        {"is_low_change_direction_valid", &T::getIsLowChangeDirectionValid, reserved},
        {"is_default_sort_order_valid", &T::getIsDefaultSortOrderValid, reserved},
        {"is_fractional_pip_size_valid", &T::getIsFractionalPipSizeValid, reserved},
    };

    exportRowPair<R, T>(
        "K7ROfferRow", "The class provides access to offer information.", "K7ROfferTableRow",
        "The class provides access to the offer information and calculated fields.", rowFlags,
        tableRowFlags);
}
