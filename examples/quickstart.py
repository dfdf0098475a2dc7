"""A first look at dedezi: what the module registers."""
import dedezi


def main():
    enums = []
    classes = []
    for name in sorted(dir(dedezi)):
        if name.startswith("__"):
            continue
        value = getattr(dedezi, name)
        if isinstance(value, type) and issubclass(value, int):
            enums.append((name, value))
        elif isinstance(value, type):
            classes.append(name)
    print(f"dedezi registers {len(enums)} enums and {len(classes)} classes")
    for name, enum in enums:
        members = ", ".join(f"{member}={int(value)}" for member, value in enum.names.items())
        print(f"  {name}: {members}")
    for name in classes:
        print(f"  class {name}")
    print("order types:", ", ".join(
        f"{n}={getattr(dedezi.Constants.Orders, n)!r}"
        for n in vars(dedezi.Constants.Orders) if n.isupper()))


if __name__ == "__main__":
    main()
