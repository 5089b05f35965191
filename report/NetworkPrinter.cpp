#include "report/NetworkPrinter.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPolygonF>
#include <cmath>
#include <numbers>

#include "report/SheetPrinter.h"

namespace rendle::report {

namespace {

namespace net = rendle::network;

// The drawing's own measures, as the SVG writer draws them.
constexpr double kKeyRow = 18;
constexpr double kNoteRow = 16;
constexpr double kLegendGap = 12;
constexpr double kSymbolSize = 7;
constexpr double kPageMarginMm = 15;

QColor ColourOf(const std::string& hex) {
    return QColor(QString::fromStdString(hex));
}

QPen PenOf(const std::string& colour, double width, net::Stroke stroke) {
    QPen pen(ColourOf(colour), width);
    pen.setCapStyle(Qt::RoundCap);
    if (stroke == net::Stroke::Dashed) pen.setDashPattern({8 / width, 5 / width});
    if (stroke == net::Stroke::Dotted) pen.setDashPattern({0.5 / width, 4 / width});
    return pen;
}

void Symbol(QPainter& p, const net::Symbol& s) {
    const double r = kSymbolSize;
    p.setPen(QPen(ColourOf(net::kInk), 1.5));
    if (s.bar > 0) {
        p.save();
        p.setPen(QPen(ColourOf(net::kInk), 1));
        p.drawLine(QPointF(s.x, s.y - s.bar), QPointF(s.x, s.y + s.bar));
        p.drawLine(QPointF(s.x - 3, s.y - s.bar), QPointF(s.x + 3, s.y - s.bar));
        p.drawLine(QPointF(s.x - 3, s.y + s.bar), QPointF(s.x + 3, s.y + s.bar));
        p.restore();
    }
    switch (s.kind) {
        case net::SymbolKind::Benchmark: {
            p.setBrush(ColourOf(net::kInk));
            const QPolygonF triangle({QPointF(s.x, s.y - r), QPointF(s.x + r * 0.87, s.y + r / 2),
                                      QPointF(s.x - r * 0.87, s.y + r / 2)});
            p.drawPolygon(triangle);
            break;
        }
        case net::SymbolKind::Datum: {
            p.setBrush(Qt::white);
            QPolygonF hexagon;
            for (int k = 0; k < 6; ++k) {
                hexagon << QPointF(s.x + r * std::cos(std::numbers::pi / 3 * k),
                                   s.y + r * std::sin(std::numbers::pi / 3 * k));
            }
            p.drawPolygon(hexagon);
            break;
        }
        case net::SymbolKind::Point:
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(s.x, s.y), r * 0.7, r * 0.7);
            break;
    }
    p.drawText(QPointF(s.x + 9, s.y - 8), QString::fromStdString(s.name));
}

}  // namespace

double DrawingHeight(const net::Drawing& d) {
    return d.height + kLegendGap + kKeyRow * static_cast<double>(d.legend.size()) +
           kNoteRow * static_cast<double>(d.legendNotes.size()) + kLegendGap;
}

void DrawNetwork(QPainter& painter, const net::Drawing& d, const QRectF& target) {
    const double total = DrawingHeight(d);
    const double scale = std::min(target.width() / d.width, target.height() / total);
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font("Liberation Sans");
    font.setPixelSize(11);
    painter.setFont(font);

    QFont heading = font;
    heading.setPixelSize(15);
    heading.setBold(true);
    painter.setFont(heading);
    painter.setPen(ColourOf(net::kInk));
    painter.drawText(QPointF(12, 22),
                     QString::fromStdString(d.heading + (d.schematic ? " (schematic)" : "")));
    painter.setFont(font);

    for (const net::Segment& s : d.segments) {
        painter.setPen(PenOf(s.colour, s.width, s.stroke));
        painter.drawLine(QPointF(s.x1, s.y1), QPointF(s.x2, s.y2));
        if (!s.arrow.empty()) {
            QPolygonF arrow;
            for (const auto& [x, y] : s.arrow) arrow << QPointF(x, y);
            painter.setPen(Qt::NoPen);
            painter.setBrush(ColourOf(s.colour));
            painter.drawPolygon(arrow);
        }
    }
    for (const net::Symbol& s : d.symbols) Symbol(painter, s);
    const QFontMetricsF metrics(font);
    for (const net::Note& n : d.notes) {
        const QString text = QString::fromStdString(n.text);
        const double half = metrics.horizontalAdvance(text) / 2 + 3;
        painter.setPen(QPen(ColourOf(n.beyond ? net::kBad : net::kInk), n.beyond ? 1.5 : 0.5));
        painter.setBrush(QColor(255, 255, 255, 217));
        painter.drawRoundedRect(QRectF(n.x - half, n.y - 11, 2 * half, 15), 3, 3);
        QFont noteFont = font;
        noteFont.setBold(n.beyond);
        painter.setFont(noteFont);
        painter.setPen(ColourOf(n.beyond ? net::kBad : net::kInk));
        painter.drawText(QPointF(n.x - half + 3, n.y), text);
        painter.setFont(font);
    }
    if (d.scale) {
        const net::ScaleBar& b = *d.scale;
        painter.setPen(QPen(ColourOf(net::kInk), 2));
        painter.drawLine(QPointF(b.x, b.y), QPointF(b.x + b.length, b.y));
        painter.setPen(QPen(ColourOf(net::kInk), 1));
        painter.drawLine(QPointF(b.x, b.y - 4), QPointF(b.x, b.y + 4));
        painter.drawLine(QPointF(b.x + b.length, b.y - 4), QPointF(b.x + b.length, b.y + 4));
        painter.drawText(QPointF(b.x + b.length + 6, b.y + 4), QString::fromStdString(b.text));
    }
    double y = d.height + kLegendGap;
    for (const net::Key& k : d.legend) {
        y += kKeyRow;
        painter.setPen(PenOf(k.colour, k.width, k.stroke));
        painter.drawLine(QPointF(12, y - 4), QPointF(52, y - 4));
        painter.setPen(ColourOf(net::kInk));
        painter.drawText(QPointF(60, y), QString::fromStdString(k.text));
    }
    for (const std::string& note : d.legendNotes) {
        y += kNoteRow;
        painter.setPen(ColourOf(net::kInk));
        painter.drawText(QPointF(12, y), QString::fromStdString(note));
    }
    painter.restore();
}

int PrintNetworkToPdf(const net::Drawing& drawing, const std::vector<const grid::Grid*>& sheets,
                      const std::string& path, QString* error) {
    QByteArray pdf;
    int pages = 1;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        SetUpPdfWriter(writer, QPageSize(QPageSize::A4), drawing.heading);
        QPainter painter;
        if (!painter.begin(&writer)) {
            if (error) *error = "the printer could not be started";
            return 0;
        }
        const double perMm = writer.resolution() / 25.4;
        const double margin = kPageMarginMm * perMm;
        const QRectF page(margin, margin, writer.width() - 2 * margin,
                          writer.height() - 2 * margin);
        // Drawn in units of the drawing at 96 a inch, scaled to the page.
        DrawNetwork(painter, drawing, page);
        for (const grid::Grid* sheet : sheets) {
            SheetPrinter printer(*sheet, [sheet](int32_t col) { return sheet->ColumnWidth(col); });
            if (!printer.PrintOn(painter, writer, true, error)) return 0;
            pages += static_cast<int>(printer.Paginate(writer).size());
        }
        if (!painter.end()) {
            if (error) *error = "the report could not be finished";
            return 0;
        }
    }
    if (!CommitPdf(pdf, path, error)) return 0;
    return pages;
}

}  // namespace rendle::report
