// tests/native/test_library_errors.cpp: the historical-price and quotes-cache error objects raised
// as Python exceptions: the code tables (codes outside them included), null texts, the nested
// quotes-cache error, and the references given back on every way out.
#include "GILGuard.h"
#include "LibraryErrors.h"
#include "PythonOutcome.h"

#include "core/Registry.h"
#include "plenta/Errors.h"
#include "zorvat/Errors.h"

#include <gtest/gtest.h>

#include <string>

using vexa2::python::GILGuard;
using vexa2::python::raisePlentaError;
using vexa2::python::raiseZorvatError;

namespace {

// The live count of a stand-in error, read without touching it through the interface.
template <class Error>
int refCountOf(Error* error)
{
    return dynamic_cast<sim::Registered*>(error)->simRefCount();
}

std::int64_t releaseCalls(const char* kind)
{
    return sim::registry().releaseCalls(kind);
}

std::int64_t live(const char* kind)
{
    return sim::registry().live(kind);
}

// ---- the quotes-cache code table ----

struct ZorvatCase
{
    int code;
    const char* message;  // null: the library gave no text
    int subCode;
    const char* expected;
};

const ZorvatCase kZorvatCases[] = {
    {0, "cache in use", 3, "Zorvat error: cache in use code: Locked subcode: 3"},
    {1, "catalog", 0, "Zorvat error: catalog code: QuotesCatalogBusy subcode: 0"},
    {2, "cache", -5, "Zorvat error: cache code: QuotesCacheBusy subcode: -5"},
    {3, "bad block", 2147483647, "Zorvat error: bad block code: QuotesCacheCorrupted subcode: 2147483647"},
    {4, "no route", 10060, "Zorvat error: no route code: QuotesServerConnectionError subcode: 10060"},
    {5, "loading", 1, "Zorvat error: loading code: LoadingError subcode: 1"},
    {6, "loader", 2, "Zorvat error: loader code: QuotesLoaderError subcode: 2"},
    {7, "EUR/USD m1", 12, "Zorvat error: EUR/USD m1 code: QuotesNotFound subcode: 12"},
    {8, "count", 8, "Zorvat error: count code: BadArgument subcode: 8"},
    {9, "other", 9, "Zorvat error: other code: OtherError subcode: 9"},
    {10, "limit", 10, "Zorvat error: limit code: LimitReached subcode: 10"},
    {9, nullptr, 0, "Zorvat error:  code: OtherError subcode: 0"},
    {11, "past the table", 1, "UnknownError"},
    {-1, "negative", 1, "UnknownError"},
};

class LibraryErrors : public testing::Test
{
protected:
    GILGuard m_lock;
};

TEST_F(LibraryErrors, ZorvatCodesRaiseTheirMessageAsException)
{
    for (const ZorvatCase& c : kZorvatCases)
    {
        SCOPED_TRACE(testing::Message() << "code " << c.code);
        zorvat::IError* error = zorvat_sim::makeError(c.code, c.message, c.subCode);
        const PythonOutcome outcome = pythonOutcomeOf([&] { raiseZorvatError(error, false); });
        EXPECT_TRUE(outcome.raised);
        EXPECT_EQ(outcome.type, "Exception");
        EXPECT_EQ(outcome.text, c.expected);
        error->release();
    }
}

// ---- the historical-price code table ----

struct NestedError
{
    bool present;
    int code;
    const char* message;
    int subCode;
};

struct PlentaCase
{
    const char* name;
    int code;
    const char* message;
    NestedError nested;
    const char* expected;  // null: nothing is raised
};

const PlentaCase kPlentaCases[] = {
    {"not ready", 1, "starting", {}, "Plenta error: starting code: NotReady"},
    {"not ready, no text", 1, nullptr, {}, "Plenta error:  code: NotReady"},
    {"bad arguments", 2, "count < 0", {}, "Plenta error: count < 0 code: BadArguments"},
    {"other", 3, "lost", {}, "Plenta error: lost code: OtherError"},
    {"past the table", 4, "four", {}, "UnknownError"},
    {"negative", -1, "minus one", {}, "UnknownError"},
    // A code other than 0 never reads the nested error.
    {"not ready, nested ignored", 1, "starting", {true, 7, "ignored", 1}, "Plenta error: starting code: NotReady"},
    {"nested locked", 0, "outer", {true, 0, "locked", 5}, "Zorvat error: locked code: Locked subcode: 5"},
    {"nested not found", 0, nullptr, {true, 7, "EUR/USD", 12}, "Zorvat error: EUR/USD code: QuotesNotFound subcode: 12"},
    {"nested unknown", 0, "outer", {true, 11, "x", 0}, "UnknownError"},
    {"nothing nested", 0, "outer", {}, nullptr},
};

TEST_F(LibraryErrors, PlentaCodesRaiseTheirMessageOrTheNestedOne)
{
    for (const PlentaCase& c : kPlentaCases)
    {
        SCOPED_TRACE(c.name);
        zorvat::IError* nested =
            c.nested.present ? zorvat_sim::makeError(c.nested.code, c.nested.message, c.nested.subCode) : nullptr;
        plenta::IError* error = plenta_sim::makeError(c.code, c.message, nested);
        const PythonOutcome outcome = pythonOutcomeOf([&] { raisePlentaError(error, false); });
        if (c.expected == nullptr)
        {
            EXPECT_FALSE(outcome.raised) << outcome;
        }
        else
        {
            EXPECT_TRUE(outcome.raised);
            EXPECT_EQ(outcome.type, "Exception");
            EXPECT_EQ(outcome.text, c.expected);
        }
        // The nested error handed out for the raise was given back: only the outer one holds it.
        if (nested != nullptr)
        {
            EXPECT_EQ(refCountOf(nested), 2);
        }
        error->release();
        if (nested != nullptr)
            nested->release();
    }
}

TEST_F(LibraryErrors, NullErrorRaisesNothing)
{
    for (bool release : {false, true})
    {
        EXPECT_FALSE(pythonOutcomeOf([&] { raiseZorvatError(nullptr, release); }).raised);
        EXPECT_FALSE(pythonOutcomeOf([&] { raisePlentaError(nullptr, release); }).raised);
    }
}

// ---- the caller's reference, by raise and by return ----

struct ReleaseCase
{
    const char* name;
    int plentaCode;  // -2: a quotes-cache error alone
    bool nested;
    bool raises;
};

const ReleaseCase kReleaseCases[] = {
    {"zorvat error", -2, false, true},
    {"plenta error", 2, false, true},
    {"plenta error with a nested one", 0, true, true},
    {"plenta error with nothing nested", 0, false, false},
};

TEST_F(LibraryErrors, ReleaseGivesBackTheCallersReferenceExactlyOnceOnEveryWayOut)
{
    for (const ReleaseCase& c : kReleaseCases)
    {
        for (bool release : {false, true})
        {
            SCOPED_TRACE(testing::Message() << c.name << (release ? ", released" : ", kept"));
            const std::int64_t livePlenta = live("plenta::IError");
            const std::int64_t liveZorvat = live("zorvat::IError");
            zorvat::IError* nested = c.nested ? zorvat_sim::makeError(4, "down", 1) : nullptr;
            zorvat::IError* zorvatError = c.plentaCode == -2 ? zorvat_sim::makeError(8, "bad", 1) : nullptr;
            plenta::IError* plentaError = c.plentaCode == -2 ? nullptr : plenta_sim::makeError(c.plentaCode, "x", nested);
            // A reference of the test's own keeps the object readable after the call.
            if (zorvatError)
                zorvatError->addRef();
            if (plentaError)
                plentaError->addRef();

            const std::int64_t plentaReleases = releaseCalls("plenta::IError");
            const std::int64_t zorvatReleases = releaseCalls("zorvat::IError");
            const PythonOutcome outcome = pythonOutcomeOf([&] {
                if (zorvatError)
                    raiseZorvatError(zorvatError, release);
                else
                    raisePlentaError(plentaError, release);
            });
            EXPECT_EQ(outcome.raised, c.raises) << outcome;

            const int given = release ? 1 : 0;
            if (zorvatError)
            {
                EXPECT_EQ(refCountOf(zorvatError), 2 - given);
                EXPECT_EQ(releaseCalls("zorvat::IError") - zorvatReleases, given);
            }
            else
            {
                EXPECT_EQ(refCountOf(plentaError), 2 - given);
                EXPECT_EQ(releaseCalls("plenta::IError") - plentaReleases, given);
                // The nested error's own reference, handed out for the raise, always goes back.
                EXPECT_EQ(releaseCalls("zorvat::IError") - zorvatReleases, nested ? 1 : 0);
                if (nested)
                {
                    EXPECT_EQ(refCountOf(nested), 2);
                }
            }

            for (int i = 0; i < 2 - given; ++i)
            {
                if (zorvatError)
                    zorvatError->release();
                else
                    plentaError->release();
            }
            if (nested)
                nested->release();
            EXPECT_EQ(live("plenta::IError"), livePlenta);
            EXPECT_EQ(live("zorvat::IError"), liveZorvat);
        }
    }
}

}  // namespace
