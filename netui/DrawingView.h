// The drawing of the adjusted network on screen: the scene the SVG and the paged report draw,
// painted by the report's own painter. The wheel zooms about the pointer, dragging pans, F (or
// Home) fits the whole drawing; hovering a point or a section shows its figures; a click
// selects it.
#pragma once

#include <QGraphicsView>
#include <memory>
#include <optional>

#include "network/Drawing.h"

class QGraphicsPathItem;

namespace rendle::netui {

class DrawingView : public QGraphicsView {
    Q_OBJECT

  public:
    explicit DrawingView(QWidget* parent = nullptr);

    /// Shows `drawing` fitted to the view; none clears the view.
    void setDrawing(std::shared_ptr<const network::Drawing> drawing);
    const network::Drawing* drawing() const { return drawing_.get(); }

    /// Fits the whole drawing, legend included, into the view.
    void fit();
    /// Marks a point (its place among the drawing's symbols) or the section of an observation
    /// (its place among the result's observations), bringing it into view; -1: nothing marked.
    void markPoint(int symbol);
    void markObservation(int observation);
    int markedPoint() const { return markedPoint_; }
    int markedObservation() const { return markedObservation_; }

    /// What lies at a place of the scene: a point's symbol, else a section, within `reach`
    /// drawing units; -1 for none.
    struct Hit {
        int symbol = -1;
        int observation = -1;
    };
    Hit hitAt(QPointF scenePlace, double reach) const;
    /// The figures shown on hovering at a place of the view (empty: nothing there).
    QString titleAt(QPoint viewPlace) const;

  signals:
    void pointClicked(int symbol);
    void observationClicked(int observation);

  protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    double reach() const;
    void showMark(const QPainterPath& path);

    std::shared_ptr<const network::Drawing> drawing_;
    QGraphicsPathItem* mark_ = nullptr;
    int markedPoint_ = -1;
    int markedObservation_ = -1;
    QPoint pressedAt_;
    bool fitted_ = true;  ///< the view still shows the whole drawing: it fits again on resizing
};

}  // namespace rendle::netui
