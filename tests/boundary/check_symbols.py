#!/usr/bin/env python3
"""The adapter's binary boundary, read from its dynamic symbol table.

Imports: every undefined dynamic symbol that one of the host's libraries defines, or that lies
in the host's namespaces (orv::, eastl::), must be listed in the allow-list file. The real host
application ships its own closed libraries, so anything beyond the operations the adapter is
meant to use (and what the host's own inline and template bodies call) would fail to link there.

Exports: what the adapter defines for other modules is limited to the exported classes' members,
the special members of IQueryablePointData<Q>, the type information of the contract's interfaces
and of the exported classes (clients cast between them across modules), and the virtual tables of
the three exported classes (client code may refer to them, as it may on any platform where a
whole class is exported). No standard-library instantiation and nothing of the host leaks out.

Usage: check_symbols.py --nm NM --library LIB --allow FILE HOSTLIB...
Exit status 0 when both lists are as allowed; 1 otherwise, naming every offending symbol.
"""

import argparse
import re
import subprocess
import sys

# Prefixes of symbols that belong to the class or function named after them.
SPECIAL = re.compile(r"^(typeinfo name for |typeinfo for |vtable for |VTT for |construction vtable for "
                     r"|non-virtual thunk to |virtual thunk to |guard variable for )")

EXPORTED_CLASSES = ("orv::Data::Cloud::ComponentMapping", "orv::Data::Cloud::PointCloudDataProvider",
                    "orv::Data::Cloud::PointCloudDataBuilderFactory",
                    "orv::Data::Cloud::PointCloudDataBuilder")
POLYMORPHIC_CLASSES = EXPORTED_CLASSES[1:]
QUERIES = r"orv::DataProxy::(InsideAxisAlignedBoxQuery|InsideCylinderQuery|InsideSphereQuery|ClippingPlanesQuery)"
QUERYABLE = r"orv::DataProxy::IQueryablePointData<" + QUERIES + ">"

ALLOWED_EXPORTS = [
    # Members of the exported classes, and the provider's thunks for its secondary bases.
    re.compile(r"^(non-virtual thunk to )?(" + "|".join(map(re.escape, EXPORTED_CLASSES)) + r")::"),
    # The special members of IQueryablePointData<Q> for the four query records.
    re.compile(r"^" + QUERYABLE + r"::(~?IQueryablePointData|operator=)\("),
    # Type information of the contract's interfaces and of the exported classes.
    re.compile(r"^typeinfo (name )?for (orv::DataProxy::I[A-Za-z]+(<" + QUERIES + ">)?|"
               + "|".join(map(re.escape, POLYMORPHIC_CLASSES)) + r")$"),
    # Virtual tables of the exported classes.
    re.compile(r"^vtable for (" + "|".join(map(re.escape, POLYMORPHIC_CLASSES)) + r")$"),
]


def dynamic_symbols(nm, library, which):
    out = subprocess.run([nm, "-D", "-C", which, library], check=True, capture_output=True,
                         text=True).stdout
    symbols = set()
    for line in out.splitlines():
        parts = line.split(maxsplit=2) if which == "--defined-only" else line.split(maxsplit=1)
        if len(parts) == (3 if which == "--defined-only" else 2):
            symbols.add(parts[-1])
    return symbols


def in_host_namespace(symbol):
    name = SPECIAL.sub("", symbol)
    # A function template instantiation is demangled with its return type first.
    return re.match(r"^([\w:<>,*& ]+ )?(orv|eastl)::", name) is not None


def read_allow_list(path):
    allowed = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            symbol, _, reason = line.partition(" # ")
            if not reason.strip():
                sys.exit(f"{path}:{number}: an entry needs ' # <reason>'")
            allowed[symbol.strip()] = reason.strip()
    return allowed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nm", default="nm")
    parser.add_argument("--library", required=True)
    parser.add_argument("--allow", required=True)
    parser.add_argument("host_libraries", nargs="+")
    args = parser.parse_args()

    host_defined = set()
    for host in args.host_libraries:
        host_defined |= dynamic_symbols(args.nm, host, "--defined-only")
    undefined = dynamic_symbols(args.nm, args.library, "--undefined-only")
    imports = {s for s in undefined if s in host_defined or in_host_namespace(s)}
    allowed = read_allow_list(args.allow)

    failed = False
    print(f"host imports: {len(imports)} ({len(allowed)} allowed)")
    for symbol in sorted(imports - allowed.keys()):
        print(f"  NOT ALLOWED import: {symbol}")
        failed = True
    for symbol in sorted(allowed.keys() - imports):
        print(f"  (allowed but not imported by this build: {symbol})")

    exports = dynamic_symbols(args.nm, args.library, "--defined-only")
    print(f"exports: {len(exports)}")
    for symbol in sorted(exports):
        ok = any(p.search(symbol) for p in ALLOWED_EXPORTS)
        print(f"  {'' if ok else 'NOT ALLOWED export: '}{symbol}")
        failed = failed or not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
