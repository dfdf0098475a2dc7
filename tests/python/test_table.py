"""tests/python/test_table.py: the table manager, K7RTable and the reader over its rows: reaching the
manager from a session, getting each table, reading and iterating its rows as the most specific
row class, and that the wrappers give back every library reference they take."""

import gc

import pytest

import dedezi
from helpers import new_session, references, row_classes

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
TABLES = row_classes()
ManagerStatus = dedezi.K7RTableManagerStatus


class TestManager:
    def test_no_manager_before_login_and_none_for_another_account(self, sim, loaded):
        session, _, manager = loaded
        assert type(manager) is dedezi.K7RTableManager
        assert manager.status == ManagerStatus.TABLES_LOADED
        assert type(manager.status) is ManagerStatus
        assert session.get_table_manager_by_account("no such account") is None
        fresh, _ = new_session(sim)
        assert fresh.table_manager is None

    def test_manager_by_the_demo_account(self, loaded):
        session, _, manager = loaded
        (account,) = list(manager.get_table(T.ACCOUNTS))
        by_account = session.get_table_manager_by_account(account.account_id)
        assert type(by_account) is dedezi.K7RTableManager
        assert by_account.get_table(T.OFFERS).size == manager.get_table(T.OFFERS).size

    @pytest.mark.parametrize("table_type", list(TABLES))
    def test_each_table_answers_for_its_own_rows(self, loaded, table_type):
        _, _, manager = loaded
        table = manager.get_table(table_type)
        assert type(table) is dedezi.K7RTable
        assert table.type == table_type and type(table.type) is T
        assert table.status == dedezi.K7RTableStatus.REFRESHED
        assert len(table) == table.size
        key = TABLES[table_type][0]
        assert table.columns.find(key) is not None

    @pytest.mark.parametrize("table_type", [T.TABLE_UNKNOWN, T(7)])
    def test_a_table_the_manager_lacks_is_none(self, loaded, table_type):
        _, _, manager = loaded
        assert manager.get_table(table_type) is None

    def test_each_get_table_is_a_new_wrapper_over_the_same_table(self, sim, loaded):
        _, session_id, manager = loaded
        table_id = sim.table_id(session_id, int(T.MESSAGES))
        held = sim.refcount(table_id)
        first, second = manager.get_table(T.MESSAGES), manager.get_table(T.MESSAGES)
        assert first is not second
        assert sim.refcount(table_id) == held + 2
        sim.insert_row(session_id, int(T.MESSAGES), {"MsgID": "M-new", "Text": "hello"})
        assert first.size == second.size
        assert first.get_row(first.size - 1).msg_id == second[second.size - 1].msg_id == "M-new"

    def test_lock_and_unlock_reach_the_library(self, sim, loaded):
        _, _, manager = loaded
        sim.clear_journal()
        manager.lock_updates()
        manager.unlock_updates()
        ops = [op for op, _ in sim.journal()]
        assert ops == ["IK7RTableManager::lockUpdates", "IK7RTableManager::unlockUpdates"]


class TestReader:
    def test_demo_offers(self, loaded):
        _, _, manager = loaded
        offers = {row.instrument: row for row in manager.get_table(T.OFFERS)}
        assert {"EUR/USD", "USD/JPY", "GBP/USD", "XAU/USD"} <= set(offers)
        assert all(row.bid < row.ask for row in offers.values())

    def test_index_at_size_is_none(self, loaded):
        _, _, manager = loaded
        table = manager.get_table(T.OFFERS)
        size = table.size
        assert size >= 8
        assert table.get_row(size) is None and table[size] is None
        assert table[2**40] is None
        assert type(table.get_row(size - 1)) is dedezi.K7ROfferTableRow
        with pytest.raises(OverflowError):
            table.get_row(-1)

    @pytest.mark.parametrize("table_type", list(TABLES))
    def test_iteration_yields_size_rows_of_the_most_specific_class(self, sim, loaded,
                                                                   table_type):
        _, session_id, manager = loaded
        key, _, table_row = TABLES[table_type]
        for n in range(2):
            sim.insert_row(session_id, int(table_type), {key: f"K{n}"})
        table = manager.get_table(table_type)
        rows = list(table)
        assert len(rows) == table.size >= 2
        assert {type(row) for row in rows} == {table_row}
        assert [getattr(row, key) for row in rows[-2:]] == ["K0", "K1"]

    @pytest.mark.parametrize("table_type", list(TABLES))
    def test_a_plain_row_comes_back_as_the_row_class(self, sim, loaded, table_type):
        _, session_id, manager = loaded
        key, row_class, _ = TABLES[table_type]
        sim.insert_row(session_id, int(table_type), {key: "P1"}, kind="plain")
        table = manager.get_table(table_type)
        row = table.get_row(table.size - 1)
        assert type(row) is row_class
        assert getattr(row, key) == "P1"

    def test_a_row_of_no_known_table_is_a_generic_row(self, sim, loaded):
        _, session_id, manager = loaded
        sim.insert_row(session_id, int(T.MESSAGES), {"MsgID": "U1"}, kind="generic",
                       row_table_type=int(T.TABLE_UNKNOWN))
        table = manager.get_table(T.MESSAGES)
        row = table[table.size - 1]
        assert type(row) is dedezi.K7RRow
        assert row.table_type == T.TABLE_UNKNOWN

    def test_a_row_that_is_neither_of_its_tables_interfaces_is_none(self, sim, loaded):
        _, session_id, manager = loaded
        sim.insert_row(session_id, int(T.OFFERS), {"OfferID": "G1"}, kind="generic")
        table = manager.get_table(T.OFFERS)
        released = sim.release_calls("IK7RRow")
        assert table.get_row(table.size - 1) is None
        assert [type(row) for row in table][-1] is type(None)
        assert sim.release_calls("IK7RRow") == released + 2

    def test_rows_of_every_kind_in_turn_each_get_their_own_class(self, sim, loaded):
        _, session_id, manager = loaded
        kinds = ["plain", "table", "generic", "table", "plain", "plain", "generic", "table"]
        for n, kind in enumerate(kinds):
            sim.insert_row(session_id, int(T.ORDERS), {"OrderID": f"M{n}"}, kind=kind)
        classes = {"plain": dedezi.K7ROrderRow, "table": dedezi.K7ROrderTableRow,
                   "generic": type(None)}
        rows = list(manager.get_table(T.ORDERS))[-len(kinds):]
        assert [type(row) for row in rows] == [classes[kind] for kind in kinds]
        assert [row.order_id for row in rows if row is not None] == [
            f"M{n}" for n, kind in enumerate(kinds) if kind != "generic"]

    def test_iteration_reaches_rows_added_meanwhile_and_ends_early_when_rows_go(self, sim,
                                                                                loaded):
        _, session_id, manager = loaded
        keys = sim.insert_rows(session_id, int(T.TRADES), [{"TradeID": f"I{n}"} for n in range(3)])
        table = manager.get_table(T.TRADES)
        size = table.size
        seen = []
        for row in table:
            seen.append(row.trade_id)
            if len(seen) == 1:
                sim.insert_row(session_id, int(T.TRADES), {"TradeID": "I3"})
        assert len(seen) == size + 1 and seen[-1] == "I3"

        seen = []
        for row in table:
            seen.append(row.trade_id)
            if len(seen) == 1:
                for key in keys[1:]:
                    sim.delete_row(session_id, int(T.TRADES), key)
        assert len(seen) == size - 1 and "I1" not in seen and seen[-1] == "I3"

    def test_cell_validity_and_change_are_the_tables(self, sim, loaded):
        _, session_id, manager = loaded
        table = manager.get_table(T.OFFERS)
        columns = table.columns.size
        assert table.is_cell_valid(0, 0) is True
        assert table.is_cell_valid(table.size, 0) is False
        assert table.is_cell_valid(0, columns) is False
        sim.insert_row(session_id, int(T.OFFERS), {"OfferID": "C1"})
        last = table.size - 1
        for flag in (True, False):
            sim.set_cell_changed(session_id, int(T.OFFERS), "C1", 2, flag)
            assert table.is_cell_changed(last, 2) is flag

    def test_events_filter_round_trip(self, loaded):
        _, _, manager = loaded
        table = manager.get_table(T.TRADES)
        Filter = dedezi.K7RTableEventsFilter
        table.table_events_filter = Filter.SERVER_ONLY
        assert manager.get_table(T.TRADES).table_events_filter == Filter.SERVER_ONLY
        table.table_events_filter = Filter.ALL_EVENTS
        assert table.table_events_filter == Filter.ALL_EVENTS


class TestReferences:
    KINDS = ("IK7RTableManager", "IK7RTable", "IK7ROfferTableRow", "IK7RTableColumnCollection")

    def test_dropping_everything_gives_every_reference_back(self, sim, loaded):
        session, _, manager = loaded
        gc.collect()
        start = references(sim, self.KINDS)
        live = {kind: sim.live(kind) for kind in self.KINDS}

        managers = [session.table_manager, session.table_manager]
        tables = [m.get_table(T.OFFERS) for m in managers] + [manager.get_table(T.OFFERS)]
        held = [list(tables[0]), tables[1][0], tables[2].columns, iter(tables[2])]
        assert references(sim, self.KINDS) != start
        del managers, tables, held
        gc.collect()
        assert references(sim, self.KINDS) == start
        assert {kind: sim.live(kind) for kind in self.KINDS} == live

    def test_an_iterator_keeps_its_table_wrapper(self, loaded):
        _, _, manager = loaded
        table = manager.get_table(T.OFFERS)
        iterator = iter(table)
        row = table[0]
        del table
        gc.collect()
        assert next(iterator).offer_id == row.offer_id

    def test_a_wrapper_releases_its_table_once(self, sim, loaded):
        _, _, manager = loaded
        released = sim.release_calls("IK7RTable")
        table = manager.get_table(T.ORDERS)
        also = table
        del table
        gc.collect()
        assert sim.release_calls("IK7RTable") == released
        del also
        gc.collect()
        assert sim.release_calls("IK7RTable") == released + 1


DOCS = [
    ("K7RTableManager", "The class creates and maintains trading tables in the Velvix memory."),
    ("K7RTableManager.get_table", "Gets an instance of a trading table."),
    ("K7RTableManager.status", "Gets a table manager status."),
    ("K7RTableManager.lock_updates", "Locks tables updates."),
    ("K7RTableManager.unlock_updates", "Unlocks tables updates."),
    ("K7RTable", "The class provides access to a table."),
    ("K7RTable.status", "Gets the status of the table."),
    ("K7RTable.is_cell_changed", "Defines whether the cell is changed."),
    ("K7RTable.get_rows_by_column_value", "Gets rows containing a specified column value."),
    ("K7RTable.get_rows_by_multi_column_values",
     "Gets rows containing a number of specified column values that satisfy specified "
     "conditions."),
    ("K7RTable.get_rows_by_column_values",
     "Gets rows containing any of the specified column values."),
    ("K7RTable.get_rows_by_condition",
     "Gets rows containing column values that satisfy a specified condition."),
    ("K7RTable.table_events_filter",
     "Gets or sets a filter to receive trading events only and not receive events caused by data "
     "recalculation."),
    ("_K7RGenericTableResponseReader",
     "The class provides methods to read a stream of trading table rows coming from the trading "
     "server."),
    ("K7RGenericTableResponseReader",
     "The class provides methods to read a stream of trading table rows coming from the trading "
     "server."),
    ("K7RGenericTableResponseReader.columns",
     "Gets an instance of the class that provides access to the list of table columns."),
    ("K7RGenericTableResponseReader.is_cell_valid",
     "Checks whether the cell value can be used or not."),
    ("K7RGenericTableResponseReader.type", "Gets the type of a trading table."),
    ("K7RGenericTableResponseReader.get_row", "Gets a row by its index."),
    ("K7RGenericTableResponseReader.size", "Gets the number of rows in the reader."),
    ("K7RGenericTableResponseReader.__len__", "Reserved for future use."),
    ("K7RGenericTableResponseReader.__iter__", None),
    ("K7RGenericTableResponseReader.__getitem__", None),
    ("K7RSession.table_manager", "Gets an instance of the table manager."),
    ("K7RSession.get_table_manager_by_account",
     "Gets an instance of the table manager for specific account."),
    ("K7RSession.use_table_manager", "Defines usage of the table manager."),
]


@pytest.mark.parametrize("path, doc", DOCS)
def test_docstrings(path, doc):
    obj = dedezi
    for part in path.split("."):
        obj = vars(obj)[part] if isinstance(obj, type) else getattr(obj, part)
    if doc is None:
        assert obj.__doc__ is None
    else:
        # The binding library opens a function's docstring with a newline.
        assert obj.__doc__.lstrip("\n") == doc


def test_class_hierarchy_and_no_python_constructor():
    assert dedezi.K7RTable.__bases__ == (dedezi.K7RGenericTableResponseReader,)
    assert dedezi.K7RGenericTableResponseReader.__bases__ == (
        dedezi._K7RGenericTableResponseReader,)
    assert vars(dedezi._K7RGenericTableResponseReader).keys() <= {
        "__doc__", "__module__", "__init__", "__reduce__", "__instance_size__", "__dict__",
        "__weakref__"}
    for cls in (dedezi.K7RTable, dedezi.K7RTableManager, dedezi.K7RGenericTableResponseReader,
                dedezi._K7RGenericTableResponseReader, dedezi.K7RTableIterator):
        with pytest.raises(RuntimeError, match="This class cannot be instantiated from Python"):
            cls()
