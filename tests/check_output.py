#!/usr/bin/python3
"""Reads what rendle-reduce saves and prints with tools of its own: openpyxl for the workbook,
the zip's XML for the document properties, pdftotext for the printed report."""
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

import openpyxl

REDUCE = sys.argv[1]
MAKE_BOOK = sys.argv[2]
EXAMPLES = sys.argv[3]
SAMPLE = os.path.join(EXAMPLES, "ring-road.sdr20.SDR")


def reduce(*args):
    return subprocess.run([REDUCE, *args], capture_output=True, text=True)


def pdf_pages(path, layout=False):
    out = subprocess.run(["pdftotext"] + (["-layout"] if layout else []) + [path, "-"],
                         capture_output=True, text=True, check=True).stdout
    return out.split("\f")[:-1]


class Workbook(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.path = os.path.join(cls.dir.name, "ring-road.xlsx")
        cls.pdf = os.path.join(cls.dir.name, "ring-road.pdf")
        result = reduce("--json", "--pdf", cls.pdf, "--save", cls.path, SAMPLE)
        assert result.returncode == 0, result.stderr
        import json
        cls.doc = json.loads(result.stdout)
        cls.book = openpyxl.load_workbook(cls.path)
        cls.sheet = cls.book.worksheets[0]

    def test_one_sheet_named_level(self):
        self.assertEqual(self.book.sheetnames, ["LEVEL"])

    def test_every_cell_as_the_sheet_holds_it(self):
        for cell in self.doc["sheet"]["cells"]:
            saved = self.sheet.cell(row=cell["row"], column=cell["col"])
            where = f'({cell["row"]}, {cell["col"]})'
            if "text" in cell:
                self.assertEqual(saved.value, cell["text"], where)
            else:
                # The workbook keeps the sheet's number (16 significant digits), the JSON
                # writes it to a nanometre.
                self.assertAlmostEqual(saved.value, cell["number"],
                                       delta=max(abs(cell["number"]) * 1e-15, 5.0001e-10),
                                       msg=where)
            self.assertEqual(bool(saved.font.b), cell.get("bold", False), where)
            self.assertEqual(saved.number_format, cell.get("format", "General"), where)

    def test_readings_are_exact(self):
        self.assertEqual(self.sheet.cell(row=6, column=2).value, 1.234)
        self.assertEqual(self.sheet.cell(row=16, column=8).value, 22.0)

    def test_hidden_sight_type_column_keeps_its_cells(self):
        self.assertTrue(self.sheet.column_dimensions["I"].hidden)
        self.assertTrue(self.sheet.column_dimensions["J"].hidden)
        self.assertFalse(self.sheet.column_dimensions["H"].hidden)
        self.assertEqual(self.sheet["I6"].value, "BS")
        self.assertEqual(self.sheet["I5"].value, "CP")

    def test_column_headings_as_document_properties(self):
        with zipfile.ZipFile(self.path) as z:
            custom = z.read("docProps/custom.xml").decode()
        props = dict(re.findall(r'name="([^"]+)"><vt:lpwstr>([^<]*)<', custom))
        self.assertEqual(props["Column E heading"], "H. DIFF.")
        self.assertEqual(props["Column A heading"], "STN")
        self.assertEqual(props["Column H heading"], "DIST")
        self.assertEqual(len(props), 8)

    def test_print_set_up_of_the_level_report(self):
        s = self.sheet
        with zipfile.ZipFile(self.path) as z:
            names = z.read("xl/workbook.xml").decode()
        self.assertIn('<definedName name="_xlnm.Print_Titles" localSheetId="0">LEVEL!$1:$4</definedName>',
                      names)
        for margin in (s.page_margins.left, s.page_margins.right, s.page_margins.top,
                       s.page_margins.bottom):
            self.assertEqual(margin, 1.0)
        self.assertEqual(s.oddFooter.center.text, " Page &P of &N Page(s)")
        self.assertFalse(s.print_options.gridLines)


class SavingFailuresAndTheEmptySheet(unittest.TestCase):
    def test_without_a_print_the_stored_print_defaults_are_kept(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "defaults.xlsx")
            self.assertEqual(reduce("--save", path, SAMPLE).returncode, 0)
            sheet = openpyxl.load_workbook(path).worksheets[0]
            self.assertEqual(sheet.page_margins.left, 0.75)
            self.assertEqual(sheet.page_margins.top, 1.0)
            self.assertTrue(sheet.print_options.gridLines)
            with zipfile.ZipFile(path) as z:
                xml = z.read("xl/worksheets/sheet1.xml").decode()
            self.assertIn("<oddHeader>&amp;A</oddHeader>", xml)
            self.assertIn("<oddFooter>Page &amp;P</oddFooter>", xml)

    def test_empty_sheet_as_at_start(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "empty.xlsx")
            # A field book that cannot be read writes no workbook, and leaves one there as it was.
            with open(path, "w") as earlier:
                earlier.write("a good workbook of an earlier run")
            result = reduce("--format", "sdr20", "--save", path, os.path.join(d, "none.SDR"))
            self.assertEqual(result.returncode, 1)
            with open(path) as earlier:
                self.assertEqual(earlier.read(), "a good workbook of an earlier run")
            # An empty field book leaves the sheet as the program starts with it.
            empty = os.path.join(d, "empty.SDR")
            open(empty, "w").close()
            reduce("--format", "sdr20", "--save", path, empty)
            sheet = openpyxl.load_workbook(path).worksheets[0]
            self.assertEqual(sheet["A1"].value, "LEVEL REPORT")
            self.assertEqual(sheet["E4"].value, "Rise/Fall")
            self.assertTrue(sheet["A1"].font.b)
            self.assertEqual(sheet.max_row, 4)

    def test_saving_twice_to_one_path(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "twice.xlsx")
            self.assertEqual(reduce("--save", path, SAMPLE).returncode, 0)
            self.assertEqual(reduce("--end-rl", "100.5", "--save", path, SAMPLE).returncode, 0)
            sheet = openpyxl.load_workbook(path).worksheets[0]
            self.assertAlmostEqual(sheet["G16"].value, 100.5, places=12)
            self.assertEqual(sorted(os.listdir(d)), ["twice.xlsx"])

    def test_a_bare_name_gets_xlsx(self):
        with tempfile.TemporaryDirectory() as d:
            self.assertEqual(reduce("--save", os.path.join(d, "run"), SAMPLE).returncode, 0)
            self.assertEqual(os.listdir(d), ["run.xlsx"])

    def test_full_disk_says_so(self):
        result = reduce("--save", "/dev/full", SAMPLE)
        self.assertEqual(result.returncode, 4)
        self.assertIn("The level sheet was not saved to /dev/full", result.stderr)
        self.assertTrue(os.path.exists("/dev/full"))
        self.assertFalse(os.path.isfile("/dev/full"))


class PrintedReport(unittest.TestCase):
    def test_long_run_repeats_the_header_rows_and_counts_pages(self):
        with tempfile.TemporaryDirectory() as d:
            book = os.path.join(d, "long.SDR")
            subprocess.run([MAKE_BOOK, "sdr20", "0", book], check=True)
            pdf = os.path.join(d, "long.pdf")
            result = reduce("--end-rl", "100.01", "--pdf", pdf, book)
            self.assertEqual(result.returncode, 0, result.stderr)
            pages = pdf_pages(pdf, layout=True)
            self.assertGreater(len(pages), 5)
            for number, page in enumerate(pages, start=1):
                lines = [line.strip() for line in page.splitlines() if line.strip()]
                self.assertEqual(lines[0], "LEVEL REPORT", f"page {number}")
                self.assertIn("No. Stn. :", page)
                self.assertTrue(lines[2].startswith("STN") and "Rise/Fall" in lines[2],
                                f"page {number}: {lines[2]}")
                self.assertEqual(lines[-1], f"Page {number} of {len(pages)} Page(s)")
            self.assertIn("Misclose(m)", pages[-1])

    def test_empty_sheet_prints_one_page(self):
        with tempfile.TemporaryDirectory() as d:
            pdf = os.path.join(d, "empty.pdf")
            empty = os.path.join(d, "empty.DAT")
            open(empty, "w").close()
            reduce("--format", "m5", "--pdf", pdf, empty)
            pages = pdf_pages(pdf)
            self.assertEqual(len(pages), 1)
            self.assertIn("LEVEL REPORT", pages[0])
            self.assertIn("Page 1 of 1 Page(s)", pages[0])

    def test_two_prints_lay_out_alike(self):
        with tempfile.TemporaryDirectory() as d:
            first, second = os.path.join(d, "1.pdf"), os.path.join(d, "2.pdf")
            reduce("--pdf", first, SAMPLE)
            reduce("--pdf", second, SAMPLE)
            self.assertEqual(pdf_pages(first, layout=True), pdf_pages(second, layout=True))

    def test_unwritable_pdf_says_so(self):
        result = reduce("--pdf", "/proc/self/report.pdf", SAMPLE)
        self.assertEqual(result.returncode, 4)
        self.assertIn("The level report was not printed", result.stderr)


def workbook_parts(path):
    """The workbook's zip members, all but the document properties that carry the save time."""
    with zipfile.ZipFile(path) as z:
        return {n: z.read(n) for n in z.namelist() if n != "docProps/core.xml"}


class ManyFieldBooks(unittest.TestCase):
    """One call over many field books gives what one call per book gives."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        d = cls.dir.name
        os.mkdir(os.path.join(d, "more"))
        cls.books = []
        for name, source in [("ring20.SDR", "ring-road.sdr20.SDR"),
                             ("ring5.DAT", "ring-road.m5.DAT"),
                             ("more/ring33.SDR", "ring-road.sdr33.SDR")]:
            with open(os.path.join(EXAMPLES, source), "rb") as f, \
                    open(os.path.join(d, name), "wb") as g:
                g.write(f.read())
            cls.books.append(os.path.join(d, name))
        long_run = os.path.join(d, "long.SDR")
        subprocess.run([MAKE_BOOK, "sdr20", "0", long_run], check=True)
        cls.books.insert(1, long_run)
        # A book whose RL stops the reduction, and a book that is not there.
        cls.books.append(os.path.join(d, "missing.SDR"))
        cls.single = {}
        for book in cls.books:
            out = os.path.join(d, "single", os.path.basename(book))
            os.makedirs(out)
            text = reduce("--end-rl", "100.01", book)
            doc = reduce("--json", "--end-rl", "100.01", "--save", os.path.join(out, "w.xlsx"),
                         "--pdf", os.path.join(out, "r.pdf"), book)
            cls.single[book] = (text, doc, out)

    def run_many(self, *options):
        out = tempfile.mkdtemp(dir=self.dir.name)
        result = reduce("--end-rl", "100.01", "--save", out, "--pdf", out, *options, *self.books)
        return result, out

    def test_text_reports_follow_one_another_headed_by_their_books(self):
        result = reduce("--end-rl", "100.01", *self.books)
        expected = "\n".join(f"==> {book} <==\n" + self.single[book][0].stdout
                             for book in self.books)
        self.assertEqual(result.stdout, expected)
        self.assertEqual(result.returncode, 1)  # the missing book
        self.assertIn("missing.SDR", result.stderr)

    def test_json_lines_and_outputs_as_one_call_each(self):
        import json
        for jobs in ("1", "2"):
            with self.subTest(jobs=jobs):
                result, out = self.run_many("--json", "-j", jobs)
                self.assertEqual(result.returncode, 1, result.stderr)
                lines = result.stdout.splitlines()
                self.assertEqual(len(lines), len(self.books), "every book has its line")
                missing = json.loads(lines[-1])
                self.assertEqual((missing["fieldBook"], missing["outcome"]),
                                 (self.books[-1], "read-failed"))
                self.assertIn("missing.SDR", missing["reason"])
                reduced = [b for b in self.books if not b.endswith("missing.SDR")]
                for line, book in zip(lines, reduced):
                    _, single, single_out = self.single[book]
                    expected = json.loads(single.stdout)
                    got = json.loads(line)
                    stem = os.path.splitext(os.path.basename(book))[0]
                    # The outputs are named in the folder, and said to be written.
                    self.assertEqual(got["outputs"], {
                        "workbook": {"path": os.path.join(out, stem + ".xlsx"), "written": True,
                                     "reason": None},
                        "pdf": {"path": os.path.join(out, stem + ".pdf"), "written": True,
                                "reason": None}})
                    expected["outputs"] = got["outputs"]
                    self.assertEqual(got, expected)
                    self.assertEqual(workbook_parts(os.path.join(out, stem + ".xlsx")),
                                     workbook_parts(os.path.join(single_out, "w.xlsx")))
                    self.assertEqual(pdf_pages(os.path.join(out, stem + ".pdf"), layout=True),
                                     pdf_pages(os.path.join(single_out, "r.pdf"), layout=True))
                self.assertFalse(os.path.exists(os.path.join(out, "missing.xlsx")))

    def test_two_threads_write_what_one_writes(self):
        one, _ = self.run_many("-j", "1")
        two, _ = self.run_many("-j", "2")
        self.assertEqual((two.returncode, two.stdout, two.stderr),
                         (one.returncode, one.stdout, one.stderr))

    def test_exit_status_is_the_highest_of_any_book(self):
        bad_rl = reduce("--end-rl", "x", *self.books[:2])
        self.assertEqual(bad_rl.returncode, 3)
        self.assertEqual(reduce(*self.books[:1], *self.books[2:3]).returncode, 0)

    def test_refused_before_any_work(self):
        d = self.dir.name
        twin = os.path.join(d, "more", "ring20.SDR")
        with open(self.books[0], "rb") as f, open(twin, "wb") as g:
            g.write(f.read())
        out = tempfile.mkdtemp(dir=d)
        cases = [
            (("--save", out, self.books[0], twin), "would both be written to"),
            (("--save", d, self.books[0], os.path.join(d, "ring20.xlsx")),
             "is a field book given"),
            (("--save", self.books[0], *self.books[:2]), "must be a folder"),
            (("--save", out, "-", self.books[0]), "standard input"),
            (("-", "-"), "only once"),
            (("-j", "0", self.books[0]), None),
        ]
        with open(os.path.join(d, "ring20.xlsx"), "wb") as f:
            f.write(b"a field book that happens to be named so")
        for args, said in cases:
            with self.subTest(args=args):
                result = reduce(*args)
                self.assertEqual(result.returncode, 64, result.stderr)
                self.assertEqual(result.stdout, "")
                if said:
                    self.assertIn(said, result.stderr)
        self.assertEqual(os.listdir(out), [])
        with open(os.path.join(d, "ring20.xlsx"), "rb") as f:
            self.assertEqual(f.read(), b"a field book that happens to be named so")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
