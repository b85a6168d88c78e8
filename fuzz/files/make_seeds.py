#!/usr/bin/env python3
"""Writes the seed corpora of the file-validator fuzz targets into the
directory given as the first argument: one subdirectory per target."""

import os
import sys

QML = [
    b"import QtQuick 2.6\nimport Pelora.Varnel 1.0\n\nItem {\n}\n",
    b"import QtQuick 2.0 as Q; import QtQml 2.2\r\nimport \"../components\"\nimport \"/abs\" 1.0\nItem { import X 1.0\n",
    b";; import\timport\nimportx Foo 1.0\nimport \"unterminated\nimport 2.0\n",
    b"import " + b"Q" * 5000 + b" " + b"1." * 3000 + b"\n",
    b"".join(b"import M%d 1.0;" % i for i in range(1100)),
    "import Модуль 1.0\n".encode(),
]

MANIFEST = [
    b'4.0.2\n{"minOSVersion": "4.0.1", "keepMediaActiveInBackground": true}',
    b'4.0.2\n{"minOSVersion": ["5.0.1", "4.0.2"]}',
    b'"5.1"\n{"minOSVersion": ["5.1", "4", "x", ""], "extra": null}',
    b'2147483647.1\n{"minOSVersion": ["2147483647.2147483647.1", "7"]}',
    b"4.0\n{\"minOSVersion\": 4, \"keepMediaActiveInBackground\": \"true\"}",
    b"4.0\n" + b"[" * 40 + b"]" * 40,
    b"4.0\n{\"a\": 1, \"a\": [1.5e3, -0, true, false, null, {\"b\": []}]}",
    b"1.2,3.4,5.6\n5.0,4.9.9,4,3.2.1.0",
]

WATCH = [
    b'{"watch": ["file:/usr/bin/app", "elf:/usr/bin/app"]}',
    b'{"watch": ["/usr/lib/libfoo.so", 1, null, {}, [], true]}',
    b"{'watch': [/* comment */ 'file:/usr/bin/app', \"esc\\\"aped\"]}",
    b'["/usr/bin/app"]',
    b'{"watch": "/usr/bin/app", "other": {"a": [[[]]]}}',
    b"[1 / ] / ]",
    b"[" * 70 + b"]" * 70,
    b'{"watch": ["\\u0041\\n", 0x10, 1e5, -2]}',
]


def write(directory, name, seeds):
    path = os.path.join(directory, name)
    os.makedirs(path, exist_ok=True)
    for index, seed in enumerate(seeds):
        with open(os.path.join(path, "seed-%02d" % index), "wb") as out:
            out.write(seed)


def main():
    directory = sys.argv[1]
    write(directory, "qml_imports_fuzz", QML)
    write(directory, "manifest_fuzz", MANIFEST)
    write(directory, "watch_list_fuzz", WATCH)


if __name__ == "__main__":
    main()
