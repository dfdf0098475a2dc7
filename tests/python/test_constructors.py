"""tests/python/test_constructors.py: the __init__ of every class of the module, called on an object
that is not an instance of that class: refused, never built into the object's memory."""

import pytest

from helpers import MODULE_CLASSES, run_python

pytestmark = pytest.mark.timeout(60)


def test_init_on_a_foreign_self_is_refused_by_every_class():
    # A foreign self corrupted the interpreter's memory: the classes are tried in a child.
    code = MODULE_CLASSES + """
import gc

found = module_classes()
# Enums keep int's __init__, which builds nothing.
own = [cls for cls in found if "__init__" in vars(cls) and not issubclass(cls, int)]
constructible = []
for cls in own:
    try:
        cls()
        constructible.append(cls.__name__)
    except RuntimeError:  # the binding library's refusal of a class without a constructor
        pass
failures = []
foreign = [0, 2**100, "text", object(), dedezi.Constants(), dedezi.AK7RTableListener()]
for cls in own:
    for self in foreign:
        if isinstance(self, cls):
            continue
        try:
            cls.__init__(self)
            failures.append((cls.__name__, type(self).__name__))
        except TypeError:
            pass
        except RuntimeError:
            if cls.__name__ in constructible:
                failures.append((cls.__name__, type(self).__name__, "RuntimeError"))
gc.collect()
print(sorted(constructible))
print(failures)
"""
    returncode, out, err = run_python(code)
    assert returncode == 0, err
    constructible, failures = out.strip().splitlines()
    assert eval(constructible) == sorted([
        "AK7RAllEventQueueListener", "AK7RChartSessionStatus", "AK7RCommissionProviderListener",
        "AK7REachRowListener", "AK7RResponseListener", "AK7RRolloverProviderListener",
        "AK7RSessionStatus", "AK7RSystemPropertiesListener", "AK7RTableListener",
        "AK7RTableManagerListener", "AK7RUpdateEventQueueListener",
        "AK7RUpdatesProcessStatusListener", "APlentaCommunicatorListener",
        "APlentaCommunicatorStatusListener", "Commands", "Constants", "K7RTransport", "KeyType",
        "MessageFeature", "MessageType", "Orders", "Peg", "SubscriptionStatuses",
        "SystemProperties", "TIF"])
    assert failures == "[]"


def test_a_subclass_instance_is_its_own_class_and_initialises():
    import dedezi

    class Listener(dedezi.AK7RTableManagerListener):
        def __init__(self):
            dedezi.AK7RTableManagerListener.__init__(self)

    with pytest.raises(TypeError, match="requires a 'AK7RTableManagerListener' object but "
                                        "received a 'AK7RTableListener'"):
        dedezi.AK7RTableManagerListener.__init__(dedezi.AK7RTableListener())
    assert isinstance(Listener(), dedezi.AK7RTableManagerListener)
