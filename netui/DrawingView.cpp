#include "netui/DrawingView.h"

#include <QGraphicsItem>
#include <QGraphicsPathItem>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <cmath>

#include "report/NetworkPrinter.h"

namespace rendle::netui {

namespace {

/// The whole drawing as one item, painted by the report's painter at its own size.
class DrawingItem : public QGraphicsItem {
  public:
    explicit DrawingItem(std::shared_ptr<const network::Drawing> drawing)
        : drawing_(std::move(drawing)),
          bounds_(0, 0, drawing_->width, report::DrawingHeight(*drawing_)) {}
    QRectF boundingRect() const override { return bounds_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        painter->fillRect(bounds_, Qt::white);
        report::DrawNetwork(*painter, *drawing_, bounds_);
    }

  private:
    std::shared_ptr<const network::Drawing> drawing_;
    QRectF bounds_;
};

double DistanceToSegment(QPointF p, const network::Segment& s) {
    const double dx = s.x2 - s.x1;
    const double dy = s.y2 - s.y1;
    const double squared = dx * dx + dy * dy;
    double t = squared > 0 ? ((p.x() - s.x1) * dx + (p.y() - s.y1) * dy) / squared : 0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x() - (s.x1 + t * dx), p.y() - (s.y1 + t * dy));
}

constexpr double kZoomStep = 1.25;
constexpr double kReachPx = 6;  ///< how near the pointer a point or a section is hit

}  // namespace

DrawingView::DrawingView(QWidget* parent) : QGraphicsView(parent) {
    setScene(new QGraphicsScene(this));
    setDragMode(QGraphicsView::ScrollHandDrag);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setRenderHint(QPainter::Antialiasing);
    setBackgroundBrush(QColor(0xf4, 0xf4, 0xf4));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void DrawingView::setDrawing(std::shared_ptr<const network::Drawing> drawing) {
    scene()->clear();
    mark_ = nullptr;
    markedPoint_ = -1;
    markedObservation_ = -1;
    drawing_ = std::move(drawing);
    if (!drawing_) {
        scene()->setSceneRect(QRectF());
        return;
    }
    auto* item = new DrawingItem(drawing_);
    // A large network is painted once into a cache, not again on every scroll.
    item->setCacheMode(QGraphicsItem::DeviceCoordinateCache);
    scene()->addItem(item);
    scene()->setSceneRect(item->boundingRect().adjusted(-20, -20, 20, 20));
    fit();
}

void DrawingView::fit() {
    if (!drawing_) return;
    fitInView(sceneRect(), Qt::KeepAspectRatio);
    fitted_ = true;
}

void DrawingView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    if (fitted_) fit();
}

double DrawingView::reach() const {
    const double scale = transform().m11();
    return scale > 0 ? kReachPx / scale : kReachPx;
}

DrawingView::Hit DrawingView::hitAt(QPointF place, double within) const {
    Hit hit;
    if (!drawing_) return hit;
    double nearest = within;
    for (size_t i = 0; i < drawing_->symbols.size(); ++i) {
        const network::Symbol& s = drawing_->symbols[i];
        const double d = std::hypot(place.x() - s.x, place.y() - s.y);
        if (d <= nearest) {
            nearest = d;
            hit.symbol = static_cast<int>(i);
        }
    }
    if (hit.symbol >= 0) return hit;
    nearest = within;
    for (const network::Segment& s : drawing_->segments) {
        const double d = DistanceToSegment(place, s);
        if (d <= nearest) {
            nearest = d;
            hit.observation = static_cast<int>(s.observation);
        }
    }
    return hit;
}

QString DrawingView::titleAt(QPoint viewPlace) const {
    const Hit hit = hitAt(mapToScene(viewPlace), reach());
    if (hit.symbol >= 0) {
        return QString::fromStdString(drawing_->symbols[static_cast<size_t>(hit.symbol)].title);
    }
    if (hit.observation >= 0) {
        for (const network::Segment& s : drawing_->segments) {
            if (static_cast<int>(s.observation) == hit.observation) {
                return QString::fromStdString(s.title);
            }
        }
    }
    return {};
}

bool DrawingView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString title = titleAt(help->pos());
        if (title.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), title, viewport());
        }
        return true;
    }
    return QGraphicsView::viewportEvent(event);
}

void DrawingView::wheelEvent(QWheelEvent* event) {
    if (!drawing_) return;
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) return;
    scale(std::pow(kZoomStep, steps), std::pow(kZoomStep, steps));
    fitted_ = false;
    event->accept();
}

void DrawingView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_F:
        case Qt::Key_Home:
            fit();
            return;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            scale(kZoomStep, kZoomStep);
            fitted_ = false;
            return;
        case Qt::Key_Minus:
            scale(1 / kZoomStep, 1 / kZoomStep);
            fitted_ = false;
            return;
        default:
            QGraphicsView::keyPressEvent(event);
    }
}

void DrawingView::mousePressEvent(QMouseEvent* event) {
    pressedAt_ = event->position().toPoint();
    QGraphicsView::mousePressEvent(event);
}

void DrawingView::mouseReleaseEvent(QMouseEvent* event) {
    QGraphicsView::mouseReleaseEvent(event);
    const QPoint at = event->position().toPoint();
    if ((at - pressedAt_).manhattanLength() > 3) {
        fitted_ = false;  // a drag panned the view
        return;
    }
    const Hit hit = hitAt(mapToScene(at), reach());
    if (hit.symbol >= 0) {
        markPoint(hit.symbol);
        emit pointClicked(hit.symbol);
    } else if (hit.observation >= 0) {
        markObservation(hit.observation);
        emit observationClicked(hit.observation);
    }
}

void DrawingView::showMark(const QPainterPath& path) {
    if (!mark_) {
        mark_ = scene()->addPath(path, QPen(QColor(0x25, 0x63, 0xeb), 3), Qt::NoBrush);
        mark_->setZValue(1);
    } else {
        mark_->setPath(path);
    }
    mark_->setVisible(!path.isEmpty());
    if (!path.isEmpty()) ensureVisible(path.boundingRect(), 40, 40);
}

void DrawingView::markPoint(int symbol) {
    markedPoint_ = -1;
    markedObservation_ = -1;
    QPainterPath path;
    if (drawing_ && symbol >= 0 && static_cast<size_t>(symbol) < drawing_->symbols.size()) {
        const network::Symbol& s = drawing_->symbols[static_cast<size_t>(symbol)];
        path.addEllipse(QPointF(s.x, s.y), 11, 11);
        markedPoint_ = symbol;
    }
    showMark(path);
}

void DrawingView::markObservation(int observation) {
    markedPoint_ = -1;
    markedObservation_ = -1;
    QPainterPath path;
    if (drawing_) {
        for (const network::Segment& s : drawing_->segments) {
            if (static_cast<int>(s.observation) != observation) continue;
            path.moveTo(s.x1, s.y1);
            path.lineTo(s.x2, s.y2);
            markedObservation_ = observation;
        }
    }
    showMark(path);
}

}  // namespace rendle::netui
