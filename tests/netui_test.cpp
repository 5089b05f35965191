// The network window driven as a user drives it, offscreen: the job panel, F5, the tables and
// the drawing selecting each other, and the outputs, held against what rendle-net writes.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "netui/CorrectionsDialog.h"
#include "netui/DrawingView.h"
#include "netui/NetworkWindow.h"
#include "network/JobFile.h"
#include "ui/Help.h"

using rendle::netui::NetworkWindow;
namespace net = rendle::network;
namespace fs = std::filesystem;

namespace {

std::string Sample(const char* name) {
    return std::string(RENDLE_EXAMPLES_DIR) + "/network/" + name;
}

/// Runs the event loop until `done` holds (at most 60 s): the window's work runs off its
/// thread and reports back through the loop.
bool Until(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 60000);
}

/// rendle-net itself, run on `arguments`: its exit status.
int RunNet(const QStringList& arguments, const QString& folder) {
    QProcess net;
    net.setWorkingDirectory(folder);
    net.start(RENDLE_NET, arguments);
    if (!net.waitForFinished(60000)) return -1;
    return net.exitCode();
}

/// Two workbooks hold the same sheets, cells and formats: every part of the two files alike
/// but the time they were made (read by Python's own zip reader).
QString WorkbooksDiffer(const QString& a, const QString& b) {
    QProcess python;
    python.start("python3",
                 {"-c",
                  "import sys, zipfile\n"
                  "a, b = (zipfile.ZipFile(p) for p in sys.argv[1:3])\n"
                  "na, nb = sorted(a.namelist()), sorted(b.namelist())\n"
                  "if na != nb: print('parts', na, nb)\n"
                  "for n in na:\n"
                  "    if n != 'docProps/core.xml' and a.read(n) != b.read(n): print(n)\n",
                  a, b});
    if (!python.waitForFinished(30000)) return "python did not finish";
    return QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError());
}

QString PdfText(const QString& pdf) {
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-layout", pdf, "-"});
    if (!pdftotext.waitForFinished(30000)) return {};
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

/// A folder of its own holding the bundled loop of two runs.
struct LoopFolder {
    QTemporaryDir dir;
    std::string north, south;
    LoopFolder() {
        north = (fs::path(dir.path().toStdString()) / "north.gsi").string();
        south = (fs::path(dir.path().toStdString()) / "south.gsi").string();
        fs::copy_file(Sample("north.gsi"), north);
        fs::copy_file(Sample("south.gsi"), south);
    }
    std::string operator/(const char* name) const {
        return (fs::path(dir.path().toStdString()) / name).string();
    }
};

/// A window whose messages are kept rather than shown in a box.
struct Window {
    NetworkWindow window;
    QStringList told;
    Window() {
        window.tell = [this](const QString& text) { told << text; };
        window.show();
    }
    bool adjust() {
        QSignalSpy finished(&window, &NetworkWindow::adjustmentFinished);
        QTest::keyClick(&window, Qt::Key_F5);
        return Until([&] { return finished.count() > 0; });
    }
    bool listed() {
        return Until([&] { return !window.busy(); });
    }
};

}  // namespace

class NetworkWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // The panel shows a job as given and gives it back as it was: the digits of a benchmark
    // as typed, the options, and what the panel does not show (approximate heights) kept.
    void panelKeepsTheJob() {
        Window w;
        net::NetworkJob job;
        job.fixes = {"BM1=100.000", "BM7=100.8020:2.5"};
        job.weights = "setups";
        job.options.sigmaSetUpMm = 0.35;
        job.classId = "fgcs-2-1";
        job.snoop = "always";
        job.order = "input";
        job.options.confidence = 0.99;
        job.confidenceGiven = true;
        w.window.setJob(job);
        const net::NetworkJob back = w.window.job();
        QCOMPARE(back.fixes, job.fixes);
        QCOMPARE(back.weights, std::string("setups"));
        QCOMPARE(back.options.sigmaSetUpMm, 0.35);
        QCOMPARE(back.classId, std::string("fgcs-2-1"));
        QCOMPARE(back.snoop, std::string("always"));
        QCOMPARE(back.order, std::string("input"));
        QVERIFY(back.confidenceGiven);
        QCOMPARE(back.options.confidence, 0.99);
        QVERIFY(w.window.windowTitle().startsWith("Rendle Network"));
    }

    // Benchmarks pasted from a spreadsheet (tabs) or a text file (commas) fill the table from
    // the current row; a blank row is always left at the end for typing.
    void benchmarksArePasted() {
        Window w;
        QTableWidget* table = w.window.benchmarksTable();
        table->setCurrentCell(0, 0);
        QApplication::clipboard()->setText("BM1\t100.000\nBM7\t100.8023\t2\n");
        QTest::keySequence(table, QKeySequence::Paste);
        QApplication::clipboard()->setText("J9,55.5\r\n");
        table->setCurrentCell(2, 0);
        QTest::keySequence(table, QKeySequence::Paste);
        QCOMPARE(w.window.job().fixes,
                 (std::vector<std::string>{"BM1=100.000", "BM7=100.8023:2", "J9=55.5"}));
        QCOMPARE(table->rowCount(), 4);
        // A height that is no number is said, and nothing is adjusted.
        table->setItem(0, 1, new QTableWidgetItem("1OO.000"));
        w.window.adjust();
        QVERIFY(!w.window.adjusting());
        QCOMPARE(w.told.size(), 1);
        QVERIFY(w.told[0].startsWith("Benchmark row 1:"));
    }

    // Inputs dropped on the window are listed by their levelling lines and sections, cut at the
    // benchmarks typed; a folder adds every field book in it and passes the rest over.
    void inputsAreListed() {
        LoopFolder loop;
        std::ofstream(loop / "notes.txt") << "Monday: staff 2 sank in the mud.\n";
        Window w;
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(loop.dir.path())});
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        static_cast<QObject&>(w.window).event(&drop);
        QVERIFY2(drop.isAccepted(), "the drop was not taken");
        QVERIFY(w.window.busy());
        QVERIFY(w.listed());
        QTreeWidget* tree = w.window.inputsTree();
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("north.gsi"));
        QTreeWidgetItem* line = tree->topLevelItem(0)->child(0);
        QVERIFY2(line->text(0).startsWith("Line 1"), qPrintable(line->text(0)));
        QCOMPARE(line->child(0)->text(0), QString::fromUtf8("BM1 → BM7"));
        QCOMPARE(line->child(0)->text(1), QString("0.80260"));
        QCOMPARE(w.window.job().inputs, (std::vector<std::string>{loop.north, loop.south}));
        delete data;
    }

    // F5 adjusts off the window's thread; the tables hold the workbook's sheets, the summary
    // says the verdicts; selecting a row marks its point or section in the drawing, and a
    // click in the drawing selects the row.
    void adjustsAndSelectsBetweenTablesAndDrawing() {
        LoopFolder loop;
        Window w;
        net::NetworkJob job;
        job.fixes = {"BM1=100"};
        w.window.setJob(job);
        w.window.addPaths({loop.north, loop.south});
        QVERIFY(w.listed());
        QVERIFY(w.adjust());
        QVERIFY2(w.window.result(), qPrintable(w.told.join("\n")));
        QCOMPARE(w.window.result()->status, net::JobStatus::Passed);
        QVERIFY2(w.window.summary().contains("global test passed (0.93 in 0.00 to 5.02)"),
                 qPrintable(w.window.summary()));
        QVERIFY(w.window.summary().endsWith("Every test passed."));
        QVERIFY(!w.window.summary().contains("Corrected"));
        QTableView* heights = w.window.tableView("Heights");
        QCOMPARE(heights->model()->rowCount(), 2);
        QCOMPARE(heights->model()->index(1, 0).data().toString(), QString("BM7"));
        QCOMPARE(heights->model()->index(1, 1).data().toString(), QString("100.80231"));
        QCOMPARE(heights->model()->headerData(1, Qt::Horizontal).toString(), QString("Height (m)"));

        rendle::netui::DrawingView* drawing = w.window.drawingView();
        heights->selectRow(1);
        QCOMPARE(drawing->markedPoint(), 1);
        QTableView* observations = w.window.tableView("Observations");
        observations->selectRow(1);
        QCOMPARE(drawing->markedObservation(), 1);

        // A click on BM1's symbol selects its row of heights.
        const net::Symbol& bm1 = drawing->drawing()->symbols[0];
        QCOMPARE(bm1.name, std::string("BM1"));
        const QPoint at = drawing->mapFromScene(QPointF(bm1.x, bm1.y));
        QTest::mouseClick(drawing->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(heights->currentIndex().row(), 0);
        QCOMPARE(drawing->markedPoint(), 0);
        // Hovering shows the point's figures, as the SVG's title does.
        QCOMPARE(drawing->titleAt(at), QString::fromStdString(bm1.title));
        // A click on the middle of a section selects its observation.
        const net::Segment& s = drawing->drawing()->segments[0];
        QTest::mouseClick(drawing->viewport(), Qt::LeftButton, {},
                          drawing->mapFromScene(QPointF((s.x1 + s.x2) / 2, (s.y1 + s.y2) / 2)));
        QCOMPARE(observations->currentIndex().row(), static_cast<int>(s.observation));
    }

    // Ctrl+S and Ctrl+P write what rendle-net writes for the same job; nothing is written over
    // an input of the job, nor from results the job has changed since.
    void outputsAreRendleNets() {
        LoopFolder loop;
        Window w;
        net::NetworkJob job;
        job.fixes = {"BM1=100.000"};
        job.classId = "fgcs-1-1";
        w.window.setJob(job);
        w.window.addPaths({loop.north, loop.south});
        QVERIFY(w.listed());
        // F5 and at once Ctrl+S: the workbook is saved as soon as the adjustment ends.
        QSignalSpy finished(&w.window, &NetworkWindow::adjustmentFinished);
        QTest::keyClick(&w.window, Qt::Key_F5);
        w.window.setNextFileName(loop / "window.xlsx");
        QTest::keyClick(&w.window, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!fs::exists(loop / "window.xlsx"));
        QVERIFY(Until([&] { return fs::exists(loop / "window.xlsx"); }));
        QCOMPARE(finished.count(), 1);
        w.window.setNextFileName(loop / "window.pdf");
        QTest::keyClick(&w.window, Qt::Key_P, Qt::ControlModifier);
        QVERIFY2(w.told.isEmpty(), qPrintable(w.told.join("\n")));
        // The same job: its inputs named as the window names them (the observations' sources
        // carry the names).
        QCOMPARE(RunNet({"--fix", "BM1=100.000", "--class", "fgcs-1-1",
                         QString::fromStdString(loop.north), QString::fromStdString(loop.south),
                         "--save", "net.xlsx", "--pdf", "net.pdf"},
                        loop.dir.path()),
                 0);
        QCOMPARE(WorkbooksDiffer(QString::fromStdString(loop / "window.xlsx"),
                                 QString::fromStdString(loop / "net.xlsx")),
                 QString());
        const QString printed = PdfText(QString::fromStdString(loop / "window.pdf"));
        QVERIFY(printed.contains("BM7"));
        QCOMPARE(printed, PdfText(QString::fromStdString(loop / "net.pdf")));
        w.told.clear();

        // Never over an input.
        const auto before = fs::file_size(loop.north);
        w.window.setNextFileName(loop.north);
        QVERIFY(!w.window.exportSvg());
        QCOMPARE(fs::file_size(loop.north), before);
        QCOMPARE(w.told.size(), 1);
        QVERIFY2(w.told[0].contains("is an input of the job"), qPrintable(w.told[0]));

        // The job changed since: nothing written until it is adjusted again.
        w.window.setJob([] {
            net::NetworkJob other;
            other.fixes = {"BM1=99"};
            return other;
        }());
        w.window.addPaths({loop.north, loop.south});
        QVERIFY(w.listed());
        w.window.setNextFileName(loop / "stale.gkf");
        QVERIFY(!w.window.exportGamaXml());
        QVERIFY(!fs::exists(loop / "stale.gkf"));
        QVERIFY(w.told.last().contains("press F5"));
        QVERIFY(w.adjust());
        w.window.setNextFileName(loop / "fresh.gkf");
        QVERIFY(w.window.exportGamaXml());
        std::ifstream gama(loop / "fresh.gkf");
        const std::string xml((std::istreambuf_iterator<char>(gama)), {});
        QVERIFY(xml.find("z=\"99\"") != std::string::npos ||
                xml.find("z=\"99.0") != std::string::npos);
    }

    // Bad input is said in the window, naming the file and line, and adjusts nothing.
    void badInputIsSaid() {
        LoopFolder loop;
        Window w;
        net::NetworkJob job;
        job.fixes = {"BM1=100", "NOWHERE=5"};
        w.window.setJob(job);
        w.window.addPaths({loop.north, loop.south});
        QVERIFY(w.listed());
        QVERIFY(w.adjust());
        QVERIFY(!w.window.result());
        QVERIFY2(w.window.summary().contains("--fix NOWHERE: no input has a point of that name"),
                 qPrintable(w.window.summary()));
        QVERIFY(w.window.findChild<QLabel*>("Summary")->text().startsWith("Not adjusted: "));
    }

    // Escape stops a long adjustment; the window answers meanwhile.
    void cancelStopsTheWork() {
        QTemporaryDir dir;
        const std::string csv = dir.filePath("grid.csv").toStdString();
        {
            // A 60 x 60 grid of sections, each levelled once.
            std::ofstream out(csv);
            out << "from,to,dh,length_km\n";
            const auto name = [](int i, int j) {
                return "P" + std::to_string(i) + "_" + std::to_string(j);
            };
            for (int i = 0; i < 60; ++i) {
                for (int j = 0; j < 60; ++j) {
                    if (i + 1 < 60) out << name(i, j) << "," << name(i + 1, j) << ",0.5,0.4\n";
                    if (j + 1 < 60) out << name(i, j) << "," << name(i, j + 1) << ",-0.25,0.4\n";
                }
            }
        }
        Window w;
        net::NetworkJob job;
        job.fixes = {"P0_0=10"};
        w.window.setJob(job);
        w.window.addPaths({csv});
        QVERIFY(w.listed());
        QSignalSpy finished(&w.window, &NetworkWindow::adjustmentFinished);
        QTest::keyClick(&w.window, Qt::Key_F5);
        QVERIFY(w.window.adjusting());
        QTest::keyClick(&w.window, Qt::Key_Escape);
        QVERIFY(Until([&] { return finished.count() > 0; }));
        QVERIFY(!w.window.result());
        QVERIFY(!w.window.adjusting());
    }

    // The job saved from the window opens again as it was, in a window or in rendle-net.
    void jobSavedAndOpened() {
        LoopFolder loop;
        Window w;
        net::NetworkJob job;
        job.fixes = {"BM1=100.000"};
        job.snoop = "while";
        w.window.setJob(job);
        w.window.addPaths({loop.north, loop.south});
        QVERIFY(w.listed());
        w.window.setNextFileName(loop / "ring.rnj");
        QVERIFY(w.window.saveJobAs());
        QCOMPARE(w.window.windowTitle(), QString("Rendle Network - ring.rnj"));
        std::ifstream in(loop / "ring.rnj");
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        QVERIFY(text.find("\ninput north.gsi\ninput south.gsi\n") != std::string::npos);

        Window again;
        again.window.setNextFileName(loop / "ring.rnj");
        QVERIFY(again.window.openJob());
        QVERIFY(again.listed());
        QCOMPARE(again.window.job().inputs, w.window.job().inputs);
        QCOMPARE(again.window.job().fixes, w.window.job().fixes);
        QCOMPARE(again.window.job().snoop, std::string("while"));

        // A job written by hand asks for a correction the panel has no field for: kept, made,
        // and said in the summary.
        std::ofstream(loop / "corrected.rnj") << "# Rendle network job\ninput north.gsi\n"
                                                 "input south.gsi\nfix BM1=100\n"
                                                 "curvature-refraction 0.13\n";
        Window corrected;
        corrected.window.setNextFileName(loop / "corrected.rnj");
        QVERIFY(corrected.window.openJob());
        QVERIFY(corrected.listed());
        QVERIFY(corrected.adjust());
        QVERIFY2(corrected.window.result(), qPrintable(corrected.told.join("\n")));
        QVERIFY2(corrected.window.summary().endsWith(
                     "Corrected for curvature and refraction (K 0.13, R 6371 km)."),
                 qPrintable(corrected.window.summary()));
        QCOMPARE(*corrected.window.job().refraction, 0.13);
    }

    // The corrections have a dialog of their own: what it cannot take is said in it and it stays
    // open; what it takes goes into the job, the panel's button says it, and the adjustment
    // makes it as rendle-net does.
    void correctionsAreSetInTheirDialog() {
        LoopFolder loop;
        std::ofstream(loop / "staffs.csv") << "serial,scale_ppm,t0_c,alpha_ppm_per_c,index_mm\r\n"
                                              "A,20,20,1,0.1\r\nB,-10,20,1,-0.2\r\n";
        std::ofstream(loop / "latlon.csv") << "name,latitude,longitude\n"
                                              "BM1,-30.89632356,141.08948867\n"
                                              "BM7,-30.86585867,141.07870767\n";
        const QString staffs = QString::fromStdString(loop / "staffs.csv");
        Window w;
        net::NetworkJob job;
        job.fixes = {"BM1=100"};
        w.window.setJob(job);
        w.window.addPaths({loop.north, loop.south});
        QVERIFY(w.listed());
        auto* button = w.window.findChild<QPushButton*>("Corrections");
        QVERIFY(button);
        QCOMPARE(button->text(), QString("None"));

        struct Typed {
            QString table, staffs, temperature, k;
            int normalOrthometric;
            QString positions;
        };
        // Fills the dialog the window opens, presses OK, and gives what it then shows.
        const auto answer = [&](const Typed& typed, QString* shown, bool* stillOpen) {
            QTimer::singleShot(0, [&, typed] {
                auto* dialog = qobject_cast<rendle::netui::CorrectionsDialog*>(
                    QApplication::activeModalWidget());
                if (!dialog) return;
                if (typed.table == "<browse>") {
                    dialog->findChild<QPushButton*>("StaffTableBrowse")->click();
                } else {
                    dialog->findChild<QLineEdit*>("StaffTable")->setText(typed.table);
                    dialog->findChild<QLineEdit*>("StaffTable")->setProperty("bytes", QVariant());
                }
                dialog->findChild<QLineEdit*>("Staffs")->setText(typed.staffs);
                dialog->findChild<QLineEdit*>("Temperature")->setText(typed.temperature);
                dialog->findChild<QLineEdit*>("CurvatureRefraction")->setText(typed.k);
                dialog->findChild<QComboBox*>("NormalOrthometric")
                    ->setCurrentIndex(typed.normalOrthometric);
                dialog->findChild<QLineEdit*>("Positions")->setText(typed.positions);
                dialog->findChild<QLineEdit*>("Positions")->setProperty("bytes", QVariant());
                dialog->accept();
                *stillOpen = dialog->isVisible();
                *shown = dialog->findChild<QLabel*>("Why")->text();
                if (*stillOpen) dialog->reject();
            });
            return w.window.editCorrections();
        };
        const struct {
            Typed typed;
            QString said;
        } refused[] = {
            {{"", "A", "", "", 0, ""}, "Give the staff table the staffs are in."},
            {{staffs, "", "", "", 0, ""}, "Name the staff of the runs"},
            {{staffs, "A,B,A", "", "", 0, ""}, "name one staff, or the two that leapfrog"},
            {{staffs, "C", "", "", 0, ""}, "staff C is not in"},
            {{staffs, "A", "80.1", "", 0, ""}, "from -60 to 80, not \"80.1\""},
            {{staffs, "A", "-60.1", "", 0, ""}, "from -60 to 80, not \"-60.1\""},
            {{staffs, "A", "2O", "", 0, ""}, "not \"2O\""},
            {{"", "", "", "1.01", 0, ""}, "K is a number from -1 to 1"},
            {{"", "", "20", "", 0, ""}, "The temperature is the staffs'"},
            {{"", "", "", "", 2, ""}, "needs the points' positions"},
            {{"", "", "", "", 1, QString::fromStdString(loop / "nowhere.csv")}, "Cannot open"},
        };
        for (const auto& r : refused) {
            QString shown;
            bool stillOpen = false;
            QVERIFY(!answer(r.typed, &shown, &stillOpen));
            QVERIFY2(stillOpen, qPrintable(r.said));
            QVERIFY2(shown.contains(r.said), qPrintable(shown + " / " + r.said));
        }
        QCOMPARE(button->text(), QString("None"));
        // The limits themselves are taken.
        QString shown;
        bool stillOpen = true;
        QVERIFY(answer({staffs, "A", "-60", "1", 0, ""}, &shown, &stillOpen));
        QVERIFY(!stillOpen);
        QVERIFY(answer({staffs, "A", "80", "-1", 0, ""}, &shown, &stillOpen));

        // The table chosen through Browse..., kept as the bytes of its name.
        w.window.setNextFileName(loop / "staffs.csv");
        QVERIFY(answer(
            {"<browse>", "A,B", "30", "0.13", 2, QString::fromStdString(loop / "latlon.csv")},
            &shown, &stillOpen));
        QCOMPARE(w.window.job().staffsFile, loop / "staffs.csv");
        const net::NetworkJob set = w.window.job();
        QCOMPARE(set.staffs, (std::vector<std::string>{"A", "B"}));
        QCOMPARE(*set.temperature, 30.0);
        QCOMPARE(*set.refraction, 0.13);
        QVERIFY(set.normalOrthometric);
        QCOMPARE(set.normalOrthometricForm, net::NormalOrthometricForm::Geodesic);
        QCOMPARE(button->text(), QString("Staffs A and B of staffs.csv at 30 C; curvature and "
                                         "refraction, K 0.13; normal-orthometric along the "
                                         "geodesic"));
        // Back in the window once the dialog has closed, F5 adjusts.
        w.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        QVERIFY(w.adjust());
        QVERIFY2(w.window.result(), qPrintable(w.told.join("\n")));
        const QString summary = w.window.summary();
        QVERIFY2(summary.contains("Corrected for staff scale and temperature (staffs A and B "
                                  "leapfrogging of "),
                 qPrintable(summary));
        QVERIFY2(summary.contains("along the geodesic)."), qPrintable(summary));
        // The north run's correction as rendle-net's test of the same book works it by hand:
        // +0.360024 mm for the staffs.
        const auto& north = w.window.result()->adjustment->observations.front();
        QVERIFY(north.observation.corrections);
        QVERIFY(std::abs(north.observation.corrections->staff - 0.000360024) < 1e-9);
        QVERIFY(north.observation.corrections->normalOrthometric != 0);

        // Cancel leaves them as they were.
        QTimer::singleShot(0, [] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                static_cast<QDialog*>(dialog)->reject();
            }
        });
        QVERIFY(!w.window.editCorrections());
        QCOMPARE(*w.window.job().temperature, 30.0);
    }

    // The bundled network of loops where its points lie, blunders snooped: the drawing marks the
    // loop beyond its limit, the summary says what is not clean, and the observations' rows are
    // coloured as their sections are drawn. RENDLE_SCREENSHOT=FILE keeps the window as a picture
    // (the README's).
    void bundledLoopsOnScreen() {
        Window w;
        net::NetworkJob job;
        job.fixes = {"A=100", "B=101:2"};
        job.snoop = "always";
        job.coordinatesFile = Sample("loops-xy.csv");
        w.window.setJob(job);
        w.window.addPaths({Sample("loops.csv")});
        QVERIFY(w.listed());
        w.window.resize(1280, 800);
        QVERIFY(w.adjust());
        QVERIFY2(w.window.result(), qPrintable(w.told.join("\n")));
        const net::Drawing& d = *w.window.drawingView()->drawing();
        QVERIFY(!d.schematic);
        QVERIFY(std::any_of(d.notes.begin(), d.notes.end(),
                            [](const net::Note& n) { return n.beyond; }));
        QVERIFY2(w.window.summary().contains("Not clean: "), qPrintable(w.window.summary()));
        QTableView* observations = w.window.tableView("Observations");
        const auto removed =
            std::find_if(d.segments.begin(), d.segments.end(),
                         [](const net::Segment& s) { return s.kind == "section removed"; });
        QVERIFY(removed != d.segments.end());
        const int row = static_cast<int>(removed->observation);
        QCOMPARE(
            observations->model()->index(row, 0).data(Qt::ForegroundRole).value<QBrush>().color(),
            QColor(net::kBad));
        QCOMPARE(observations->model()->index(row, 10).data().toString(), QString("removed"));
        observations->selectRow(row);
        QCOMPARE(w.window.drawingView()->markedObservation(), row);
        if (const QByteArray shot = qgetenv("RENDLE_SCREENSHOT"); !shot.isEmpty()) {
            QVERIFY(QTest::qWaitForWindowExposed(&w.window));
            QVERIFY(w.window.grab().save(QString::fromLocal8Bit(shot)));
        }
    }

    // F1 anywhere in the window opens the network window's topic, beside the window.
    void f1OpensItsTopic() {
        struct Recorder : rendle::ui::help::HelpLayer {
            std::vector<int> contexts;
            void WinHelp(QWidget*, const QString&, unsigned command,
                         const QVariant& data) override {
                if (command == rendle::ui::help::HELP_CONTEXT) contexts.push_back(data.toInt());
            }
        } recorder;
        rendle::ui::help::SetLayer(&recorder);
        {
            Window w;
            QVERIFY(QTest::qWaitForWindowExposed(&w.window));
            QTest::keyClick(w.window.benchmarksTable(), Qt::Key_F1);
            QTest::keyClick(w.window.drawingView(), Qt::Key_F1);
        }
        rendle::ui::help::SetLayer(nullptr);
        QCOMPARE(recorder.contexts, (std::vector<int>{rendle::ui::help::kNetworkWindow,
                                                      rendle::ui::help::kNetworkWindow}));
    }

    // A job set up by hand is not thrown away on closing without a question; one opened and
    // untouched closes at once.
    void closingAsksForAChangedJob() {
        LoopFolder loop;
        Window w;
        int asked = 0;
        w.window.answerCloseQuestion = [&] {
            ++asked;
            return int(QMessageBox::Cancel);
        };
        w.window.addPaths({loop.north});
        QVERIFY(w.listed());
        QVERIFY(!w.window.close());
        QCOMPARE(asked, 1);
        QVERIFY(w.window.isVisible());
        w.window.answerCloseQuestion = [&] {
            ++asked;
            return int(QMessageBox::Discard);
        };
        QVERIFY(w.window.close());
        QCOMPARE(asked, 2);

        Window opened;
        net::NetworkJob job;
        job.fixes = {"BM1=100"};
        opened.window.setJob(job);
        opened.window.answerCloseQuestion = [&] {
            ++asked;
            return int(QMessageBox::Cancel);
        };
        QVERIFY(opened.window.close());
        QCOMPARE(asked, 2);
    }
};

QTEST_MAIN(NetworkWindowTest)
#include "netui_test.moc"
