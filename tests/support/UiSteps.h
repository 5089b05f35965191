// Steps a desktop test takes as a user would: the sample books, the menu commands, and the
// windows that come up while a command runs.
#pragma once

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "ui/MainWindow.h"
#include "ui/RLWindow.h"

namespace rendle::testing {

using ui::MainWindow;
using ui::RLWindow;

inline QString Sample(const char* name) {
    return QString(RENDLE_EXAMPLES_DIR) + "/" + name;
}

/// Runs `act` on the first top-level window named `name` once it shows, checking every 10 ms
/// while a command (and its modal windows) runs.
inline void WhenWindowShows(const QString& name, std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, name, act] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == name && widget->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(widget);
                return;
            }
        }
    });
    timer->start();
}

inline QAction* Action(MainWindow& window, const char* name) {
    return window.findChild<QAction*>(name);
}

/// Reads the SDR20 sample from the File menu, FormRL confirmed with these two box texts.
inline void ReadSdr20Sample(MainWindow& window, const QString& start, const QString& end) {
    window.windowing().setNextFileName(Sample("ring-road.sdr20.SDR"));
    WhenWindowShows("FormRL", [start, end](QWidget* widget) {
        auto* form = qobject_cast<RLWindow*>(widget);
        form->text1(0)->setText(start);
        form->text1(1)->setText(end);
        form->okButton()->click();
    });
    Action(window, "mnuSDR20")->trigger();
}

}  // namespace rendle::testing
