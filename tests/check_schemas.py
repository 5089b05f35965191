#!/usr/bin/env python3
"""The JSON both programs print, held against the schemas in docs/: every bundled example in
each way it can be asked for, and every document the C++ tests had the programs print (saved in
the folder given as the fifth argument). Usage: check_schemas.py RENDLE-REDUCE RENDLE-NET
EXAMPLES-DIR DOCS-DIR [DUMP-DIR]"""
import copy
import glob
import json
import os
import subprocess
import sys
import tempfile
import unittest

from jsonschema import Draft202012Validator

REDUCE, NET, EXAMPLES, DOCS = sys.argv[1:5]
DUMP = sys.argv[5] if len(sys.argv) > 5 else None
del sys.argv[1:]


def validator(name):
    with open(os.path.join(DOCS, name), encoding="utf-8") as f:
        schema = json.load(f)
    Draft202012Validator.check_schema(schema)
    return Draft202012Validator(schema)


SCHEMAS = {"reduce": validator("rendle-reduce.schema.json"),
           "net": validator("rendle-net.schema.json")}


def documents(text):
    """One document laid out over lines, or JSON Lines."""
    text = text.strip()
    if not text:
        return []
    try:
        return [json.loads(text)]
    except json.JSONDecodeError:
        return [json.loads(line) for line in text.splitlines()]


def errors(program, document):
    return ["%s: %s" % ("/".join(map(str, e.absolute_path)), e.message)
            for e in SCHEMAS[program].iter_errors(document)]


class Examples(unittest.TestCase):
    def run_program(self, program, *args):
        result = subprocess.run([REDUCE if program == "reduce" else NET, "--json", *args],
                                capture_output=True, text=True, stdin=subprocess.DEVNULL)
        docs = documents(result.stdout)
        self.assertTrue(docs, "%s %s printed no JSON: %s" % (program, args, result.stderr))
        for doc in docs:
            self.assertEqual(errors(program, doc), [], "%s %s" % (program, args))
        return docs

    def test_every_bundled_field_book_in_every_way(self):
        books = sorted(p for p in glob.glob(os.path.join(EXAMPLES, "*"))
                       if os.path.isfile(p))
        self.assertGreaterEqual(len(books), 5)
        with tempfile.TemporaryDirectory() as out:
            for book in books:
                for options in ([], ["--end-rl", "100"], ["--class", "il-h2"],
                                ["--class", "fgcs-1-1", "--station-limit", "0.3"],
                                ["--start-rl", "ten"], ["--json-lines"], ["--run", "1"],
                                ["--save", out + "/", "--pdf", out + "/"],
                                ["--run", "1", "--save", os.path.join(out, "x" * 300)]):
                    with self.subTest(book=os.path.basename(book), options=options):
                        self.run_program("reduce", *options, book)
            docs = self.run_program("reduce", *books, os.path.join(out, "missing.SDR"))
            self.assertEqual(docs[-1]["outcome"], "read-failed")

    def test_field_books_that_are_not_whole(self):
        with open(os.path.join(EXAMPLES, "ring-road.m5.DAT"), "rb") as f:
            m5 = f.read()
        with tempfile.TemporaryDirectory() as out:
            for name, data in (("cut.DAT", m5[:m5.index(b"KD1      TP3 ") + 13]),
                               ("open.DAT", b"\r\n".join(m5.split(b"\r\n")[:13]) + b"\r\n"),
                               ("empty.DAT", b""), ("other.SDR", b"hello\r\n")):
                path = os.path.join(out, name)
                with open(path, "wb") as f:
                    f.write(data)
                with self.subTest(name=name):
                    self.run_program("reduce", path)

    def test_every_bundled_network(self):
        net = os.path.join(EXAMPLES, "network")
        for args in ([os.path.join(net, "loops.csv")],
                     [os.path.join(net, "loops.csv"), "--snoop", "always"],
                     [os.path.join(net, "north.gsi"), os.path.join(net, "south.gsi")],
                     [os.path.join(net, "loops.csv"), "--fix", "A=10"]):
            with self.subTest(args=args):
                self.run_program("net", *args)
        # Each file asked for is said, written or not.
        with tempfile.TemporaryDirectory() as out:
            svg = os.path.join(out, "net.svg")
            gama = "/proc/self/net.xml"  # a folder that takes no new files
            doc = self.run_program("net", os.path.join(net, "loops.csv"), "--fix", "A=10",
                                   "--svg", svg, "--gama-xml", gama)[0]
            self.assertEqual(doc["outputs"]["svg"], {"path": svg, "written": True, "reason": None})
            self.assertEqual(doc["outputs"]["gamaXml"]["written"], False)
            self.assertTrue(doc["outputs"]["gamaXml"]["reason"])
            self.assertIsNone(doc["outputs"]["workbook"])
            self.assertTrue(os.path.exists(svg))

    def test_the_schemas_are_closed(self):
        # A key too many or one left out is refused: the schemas are a contract, not a shape
        # that takes anything.
        book = os.path.join(EXAMPLES, "ring-road.sdr20.SDR")
        doc = self.run_program("reduce", book)[0]
        for change in ("extra", "missing", "extra-in-checks", "bad-outcome"):
            broken = copy.deepcopy(doc)
            if change == "extra":
                broken["more"] = 1
            elif change == "missing":
                del broken["warnings"]
            elif change == "extra-in-checks":
                broken["checks"]["arithmetic"]["more"] = 1
            else:
                broken["outcome"] = "done"
            self.assertNotEqual(errors("reduce", broken), [], change)
        net = self.run_program("net", os.path.join(EXAMPLES, "network", "loops.csv"))[0]
        broken = copy.deepcopy(net)
        del broken["heights"][0]["sigma"]
        self.assertNotEqual(errors("net", broken), [])


class DocumentsOfTheTests(unittest.TestCase):
    def test_every_document_the_tests_printed(self):
        if not DUMP:
            self.skipTest("no folder of documents given")
        files = sorted(glob.glob(os.path.join(DUMP, "*.json")))
        self.assertGreater(len(files), 20, "the C++ tests saved their documents")
        checked = 0
        for path in files:
            program = os.path.basename(path).split("-")[0]
            with open(path, encoding="utf-8") as f:
                text = f.read()
            try:
                docs = documents(text)
            except json.JSONDecodeError:
                continue  # output cut short on purpose (a full disk, a closed pipe)
            for doc in docs:
                with self.subTest(file=os.path.basename(path)):
                    self.assertEqual(errors(program, doc), [])
                checked += 1
        self.assertGreater(checked, 20)


if __name__ == "__main__":
    unittest.main(verbosity=2)
