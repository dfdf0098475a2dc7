"""tests/python/test_commissions_provider.py: the K7RCommissionsProvider, K7RCommissionDescription
and K7RCommissionDescriptionsCollection classes and the provider's listener against the simulated
server: the status a login loads, the demo account's per-lot commissions and their calculations,
and the UpdateCommissions command that tells listeners to recalculate."""

import gc
import threading

import pytest

import dedezi
from helpers import Recorder, log_in, new_session

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
Status = dedezi.K7RCommissionStatus
Params = dedezi.K7RRequestParamsEnum


class Recording(dedezi.AK7RCommissionProviderListener):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_change_commission_provider_status(self, status):
        self.calls.add(status)

    def on_need_update_commissions(self):
        self.calls.add("need update")


@pytest.fixture
def trading(loaded):
    """(provider, EUR/USD offer row, account row) of a loaded demo session."""
    session, _, manager = loaded
    offers = manager.get_table(T.OFFERS)
    eurusd = next(iter(offers.get_rows_by_column_value("instrument", "EUR/USD")))
    return session.commissions_provider, eurusd, manager.get_table(T.ACCOUNTS).get_row(0)


class TestStatus:
    def test_a_login_loads_then_readies_and_a_logout_disables(self, sim):
        session, _ = new_session(sim)
        provider = session.commissions_provider
        assert provider.status is Status.COMMISSION_STATUS_DISABLED
        listener = Recording()
        provider.subscribe(listener)
        log_in(session)
        assert listener.calls.wait_for(2) == [Status.COMMISSION_STATUS_LOADING,
                                              Status.COMMISSION_STATUS_READY]
        assert type(listener.calls.items[0]) is Status
        assert provider.status is Status.COMMISSION_STATUS_READY
        session.logout()
        assert listener.calls.wait_for(3)[2:] == [Status.COMMISSION_STATUS_DISABLED]
        provider.unsubscribe(listener)

    def test_statuses_of_any_value_reach_the_listener(self, sim):
        session, sid = new_session(sim)
        provider = session.commissions_provider
        listener = Recording()
        provider.subscribe(listener)
        assert sim.fire_commission_status(sid, 3)
        assert sim.fire_commission_status(sid, 7)
        (failed, unnamed) = listener.calls.wait_for(2)
        assert failed is Status.COMMISSION_STATUS_FAIL_TO_LOAD
        assert isinstance(unnamed, Status) and int(unnamed) == 7
        provider.unsubscribe(listener)


class TestDescriptions:
    def test_fx_pays_per_lot_on_open_and_on_close(self, trading):
        provider, eurusd, _ = trading
        descriptions = provider.get_commission_descriptions(eurusd.offer_id, 0)
        assert type(descriptions) is dedezi.K7RCommissionDescriptionsCollection
        assert descriptions.size == len(descriptions) == 2
        assert descriptions.get(2) is None and descriptions.get(2 ** 32 - 1) is None
        items = list(descriptions)
        assert all(type(d) is dedezi.K7RCommissionDescription for d in items)
        assert [(d.stage, d.unit_type) for d in items] == [
            (dedezi.K7RCommissionStage.OPEN_COMMISSION, dedezi.K7RCommissionUnitType.COMMISSION_PER_LOT),
            (dedezi.K7RCommissionStage.CLOSE_COMMISSION, dedezi.K7RCommissionUnitType.COMMISSION_PER_LOT)]
        assert all(d.commission_value > 0 and d.min_commission >= 0 for d in items)

    @pytest.mark.parametrize("offer", ["8", "9", "no such offer"])
    def test_an_instrument_without_commissions_gives_none(self, trading, offer):
        provider, _, _ = trading
        assert provider.get_commission_descriptions(offer, 0) is None

    def test_both_arguments_reach_the_library(self, sim, trading):
        provider, _, _ = trading
        provider.get_commission_descriptions("1", 2 ** 64 - 1)
        (entry,) = sim.journal("IK7RCommissionsProvider::getCommissionDescriptions")
        assert entry[1] == (b"1", -1)  # the journal keeps 64 bits signed

    def test_the_collection_and_its_items_give_back_their_references(self, sim, trading):
        provider, eurusd, _ = trading
        descriptions = provider.get_commission_descriptions(eurusd.offer_id, 0)
        (collection,) = sim.objects("IK7RCommissionDescriptionsCollection")
        assert sim.refcount(collection) == 1
        first = descriptions.get(0)
        del descriptions
        gc.collect()
        assert sim.live("IK7RCommissionDescriptionsCollection") == 0
        assert first.commission_value > 0  # an item outlives its collection
        del first
        gc.collect()
        assert sim.live("IK7RCommissionDescription") == 0


class TestCalculations:
    def test_commissions_scale_with_the_amount_and_add_up(self, trading):
        provider, eurusd, account = trading
        open_10k = provider.calc_open_commission(eurusd, account, 10_000, "B", eurusd.ask)
        close_10k = provider.calc_close_commission(eurusd, account, 10_000, "S", eurusd.bid)
        assert open_10k > 0 and close_10k > 0
        assert provider.calc_open_commission(eurusd, account, 20_000, "B", eurusd.ask) == \
            pytest.approx(2 * open_10k)
        assert provider.calc_total_commission(eurusd, account, 10_000, "B", eurusd.ask, eurusd.bid) \
            == pytest.approx(open_10k + close_10k)

    def test_the_index_is_free(self, loaded, trading):
        _, _, manager = loaded
        provider, _, account = trading
        us30 = next(iter(manager.get_table(T.OFFERS).get_rows_by_column_value("instrument", "US30")))
        assert provider.calc_total_commission(us30, account, 10, "B", 1.0, 1.0) == 0.0

    def test_arguments_reach_the_library(self, sim, trading):
        provider, eurusd, account = trading
        provider.calc_total_commission(eurusd, account, 10_000, "S", 1.25, 1.5)
        (entry,) = sim.journal("IK7RCommissionsProvider::calcTotalCommission")
        assert entry[1] == (eurusd.offer_id.encode(), account.account_id.encode(), 10_000, b"S",
                            1.25, 1.5)

    def test_rows_of_the_plain_kind_are_refused(self, loaded, trading):
        session, _, _ = loaded
        provider, _, account = trading
        reader = session.response_reader_factory.create_reader(
            session.login_rules.get_table_refresh_response(T.OFFERS))
        with pytest.raises(TypeError):
            provider.calc_open_commission(reader.get_row(0), account, 1000, "B", 1.0)


def test_update_commissions_command_asks_listeners_to_recalculate(sim, loaded):
    session, _, _ = loaded
    provider = session.commissions_provider
    listener = Recording()
    provider.subscribe(listener)
    completed = threading.Event()

    class Answers(dedezi.AK7RResponseListener):
        def on_request_completed(self, request_id, response):
            if response.type == dedezi.K7RResponseType.COMMAND_RESPONSE:
                completed.set()

        def on_request_failed(self, request_id, error):
            pass

        def on_tables_updates(self, response):
            pass

    answers = Answers()
    session.subscribe_response(answers)
    factory = session.request_factory
    command = factory.create_value_map()
    command.set_string(Params.COMMAND, dedezi.Constants.Commands.UPDATE_COMMISSIONS)
    session.send_request(factory.create_order_request(command))
    assert completed.wait(10)
    assert listener.calls.wait_until(lambda calls: "need update" in calls)[-1] == "need update"
    session.unsubscribe_response(answers)
    provider.unsubscribe(listener)


DOCS = [
    (dedezi.K7RCommissionsProvider, None, "Checks commissions."),
    (dedezi.K7RCommissionsProvider, "get_commission_descriptions", "Gets the commission description."),
    (dedezi.K7RCommissionsProvider, "status", "Gets the commission status."),
    (dedezi.K7RCommissionsProvider, "subscribe", "Subscribes to commission updates."),
    (dedezi.K7RCommissionsProvider, "unsubscribe", "Unsubscribes from commission updates."),
    (dedezi.K7RCommissionsProvider, "calc_open_commission",
     "Calculates the commission incurred on opening a position with specified parameters."),
    (dedezi.K7RCommissionsProvider, "calc_close_commission",
     "Calculates the commission incurred on closing a position with specified parameters."),
    (dedezi.K7RCommissionsProvider, "calc_total_commission",
     "Calculates the commission incurred both on opening and closing a position with specified "
     "parameters."),
    (dedezi.K7RCommissionDescription, None, "A trading commissions descriptor."),
    (dedezi.K7RCommissionDescription, "stage", "Gets the commission action."),
    (dedezi.K7RCommissionDescription, "unit_type", "Gets the commission unit type."),
    (dedezi.K7RCommissionDescription, "commission_value", "Gets the commission value."),
    (dedezi.K7RCommissionDescription, "min_commission", "Gets the minimum commission value."),
    (dedezi.K7RCommissionDescriptionsCollection, None, "A collection of commission descriptors."),
    (dedezi.K7RCommissionDescriptionsCollection, "size", "Gets the number of commission descriptors."),
    (dedezi.K7RCommissionDescriptionsCollection, "__len__", "Reserved for future use."),
    (dedezi.K7RCommissionDescriptionsCollection, "get", "Gets the commission descriptor by its index."),
    (dedezi.AK7RCommissionProviderListener, None,
     "The abstract class provides the method signatures to process notifications about commissions."),
    (dedezi.AK7RCommissionProviderListener, "on_change_commission_provider_status",
     "Processes notifications about commission status changes."),
    (dedezi.AK7RCommissionProviderListener, "on_need_update_commissions",
     "Processes notifications about commission updating. The commissions must be recalculated."),
]


@pytest.mark.parametrize("cls, name, doc", DOCS)
def test_docstrings(cls, name, doc):
    obj = cls if name is None else vars(cls)[name]
    assert obj.__doc__.lstrip("\n") == doc


@pytest.mark.parametrize("cls", [dedezi.K7RCommissionsProvider, dedezi.K7RCommissionDescription,
                                 dedezi.K7RCommissionDescriptionsCollection])
def test_no_python_constructor(cls):
    with pytest.raises(RuntimeError):
        cls()
