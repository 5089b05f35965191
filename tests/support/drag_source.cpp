// A file manager's part in a test under X: a small window that, pressed with the mouse, drags the
// files named on its command line as file URLs (XDND), as a file manager drags them.
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace {

class DragSource : public QLabel {
  public:
    explicit DragSource(QList<QUrl> urls) : QLabel("drag me"), urls_(std::move(urls)) {
        setWindowTitle("rendle drag source");
        setAlignment(Qt::AlignCenter);
        resize(160, 120);
    }

  protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(urls_);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    }

  private:
    QList<QUrl> urls_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QList<QUrl> urls;
    for (int i = 1; i < argc; ++i) urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    DragSource source(urls);
    source.move(0, 0);
    source.show();
    return QApplication::exec();
}
