"""tests/python/test_reference.py: docs/reference.md held against the built module, both ways.

A section for every public class and for nothing else; in each section, every public member of
the class as what it is (a call, a property read-only or read-write, an enum value with its
number, a constant with its text, a nested class) and nothing the class lacks; and the columns of
the row classes as a logged-in session's tables have them. The rules of what is public and of how
a line reads are the ones the reference states at its top."""

import pathlib
import re

import dedezi

REFERENCE = pathlib.Path(__file__).resolve().parents[2] / "docs" / "reference.md"
SPECIAL = {"__init__", "__len__", "__iter__", "__getitem__", "__getattr__"}
MEMBER = re.compile(r"- `(?P<name>\w+)(?P<form>[^`]*)`(?P<rest>.*)")
COLUMN = re.compile(r"`(\w+)` (int|float|str|bool|datetime)\b")
BASE_COLUMNS = re.compile(r"besides those of `(\w+)`|those of `(\w+)`; the table row adds none")
PYTHON_TYPES = {"INTEGER": "int", "DOUBLE": "float", "STRING": "str", "DATE": "datetime",
                "BOOLEAN": "bool"}


def sections():
    """{heading: [lines]} of the reference's `## ` sections."""
    found = {}
    for part in re.split(r"^## ", REFERENCE.read_text(encoding="utf-8"), flags=re.M)[1:]:
        heading, _, body = part.partition("\n")
        found[heading.strip()] = body.splitlines()
    return found


def listed_kind(form, rest):
    """What a member line says the member is."""
    if form.startswith("("):
        return "call" if re.fullmatch(r"\(.*\) -> .+", form) else f"a call without its result: {form}"
    if form.startswith(": "):
        access = re.match(r" \((read-only|read-write)\)", rest)
        return f"property {access.group(1)}" if access else "a property without its access"
    if value := re.fullmatch(r" = (-?\d+)", form):
        return f"= {value.group(1)}"
    if text := re.fullmatch(r' = "(.*)"', form):
        return f'= "{text.group(1)}"'
    return "class" if form == "" else f"unreadable: {form}"


def listed_members(lines):
    """{name: kind} of a section's member lines, and the names listed twice."""
    members, twice = {}, []
    for line in lines:
        if match := MEMBER.fullmatch(line):
            name = match["name"]
            if name in members:
                twice.append(name)
            members[name] = listed_kind(match["form"], match["rest"])
    return members, twice


def public_classes():
    """{dotted name: class} of every class in the module's namespace and nested in one."""
    found, pending = {}, [("", dedezi)]
    while pending:
        prefix, scope = pending.pop()
        for name, value in vars(scope).items():
            if isinstance(value, type) and value.__module__ == "dedezi" and not name.startswith("_"):
                found[prefix + name] = value
                pending.append((f"{prefix}{name}.", value))
    return found


def constructible(cls):
    try:
        cls()
    except RuntimeError:  # the binding library's refusal of a class without a constructor
        return False
    except TypeError:  # a constructor that wants arguments
        pass
    return True


def module_kind(value):
    if isinstance(value, property):
        return "property read-write" if value.fset else "property read-only"
    if isinstance(value, type):
        return "class"
    if isinstance(value, str):
        return f'= "{value}"'
    if isinstance(value, int):
        return f"= {int(value)}"
    return "call" if callable(value) else f"unknown: {type(value).__name__}"


def public_members(cls):
    """{name: kind} of what the class defines itself or takes from its private bases."""
    own = dict(vars(cls))
    for base in cls.__mro__[1:]:
        if base.__module__ != "dedezi" or not base.__name__.startswith("_"):
            break
        own = {**vars(base), **own}
    is_enum = issubclass(cls, int)
    found = {}
    for name, value in own.items():
        if name.startswith("_") and name not in SPECIAL:
            continue
        if is_enum and name in ("names", "values"):  # every enum's, said once at the top
            continue
        if name == "__init__" and (is_enum or not constructible(cls)):
            continue
        found[name] = module_kind(value)
    return found


def test_every_public_class_has_a_section_and_nothing_else_has():
    documented, public = set(sections()), set(public_classes())
    assert (sorted(public - documented), sorted(documented - public)) == ([], []), \
        "(classes without a section, sections without a class)"


def test_each_section_lists_every_member_of_its_class_as_what_it_is():
    documented = sections()
    problems = []
    for qualified, cls in sorted(public_classes().items()):
        if qualified not in documented:
            continue  # the test above names it
        listed, twice = listed_members(documented[qualified])
        actual = public_members(cls)
        problems += [f"{qualified}: {name} is not listed ({kind})"
                     for name, kind in actual.items() if name not in listed]
        problems += [f"{qualified}: {name} is listed but the module has no such member"
                     for name in listed if name not in actual]
        problems += [f"{qualified}: {name} is listed as {listed[name]}, the module has {kind}"
                     for name, kind in actual.items() if name in listed and listed[name] != kind]
        problems += [f"{qualified}: {name} is listed twice" for name in twice]
    assert not problems, "\n".join(problems)


def documented_columns():
    """{row class: [(attribute, type)]}, a table row class's own after its plain class's."""
    found, bases = {}, {}
    for heading, lines in sections().items():
        paragraph = " ".join(lines[next((i for i, line in enumerate(lines)
                                         if line.startswith("Columns")), len(lines)):])
        if paragraph:
            base = BASE_COLUMNS.search(paragraph)
            if base:
                bases[heading] = base.group(1) or base.group(2)
            found[heading] = COLUMN.findall(paragraph)
    for heading, base in bases.items():
        found[heading] = found[base] + found[heading]
    return found


def test_the_row_classes_columns_are_those_of_the_tables(loaded):
    session, _, manager = loaded
    documented = documented_columns()

    def columns(collection):
        return [(column.id, PYTHON_TYPES[column.type.name]) for column in collection]

    rows = {}
    for name, table_type in dedezi.K7RTableType.names.items():
        if table_type == dedezi.K7RTableType.TABLE_UNKNOWN:
            continue
        table_row = manager.get_table(table_type)
        plain = name.title().replace("_", "").rstrip("s")
        rows[f"K7R{plain}TableRow"] = columns(table_row.columns)
        response = session.login_rules.get_table_refresh_response(table_type)
        if response is not None:  # the summary has none: its row and table row share columns
            reader = session.response_reader_factory.create_reader(response)
            rows[f"K7R{plain}Row"] = columns(reader.columns)
    problems = []
    for name, actual in rows.items():
        listed = documented.get(name, [])
        problems += [f"{name}: {column} {kind} is not listed"
                     for column, kind in actual if (column, kind) not in listed]
        problems += [f"{name}: {column} {kind} is listed but the table has no such column"
                     for column, kind in listed if (column, kind) not in actual]
        if not problems and listed != actual:
            problems.append(f"{name}: the columns are listed out of the table's order")
    assert not problems, "\n".join(problems)
