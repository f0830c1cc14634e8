#include "app/compare.h"

#include <QDockWidget>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMouseEvent>
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

#include "app/extras.h"
#include "app/panel.h"
#include "render/scene.h"

namespace {

QMainWindow* main_frame(const App& app) {
    return qobject_cast<QMainWindow*>(frame_widget(app.mainWindow));
}

QLabel* new_caption(QWidget* view) {
    auto* label = new QLabel(view);
    label->setStyleSheet(QStringLiteral(
        "background: rgba(20,20,20,215); color: white; font-weight: bold; padding: 2px 6px;"));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->hide();
    return label;
}

}  // namespace

SecondView::SecondView(App& app, QWidget* parent) : QOpenGLWidget(parent), app_(app) {
    setFocusPolicy(Qt::NoFocus);  // the keys stay with the first view
    setMinimumSize(160, 120);     // a town's view, never squeezed away beside the panel
}

// A context of its own, sharing the pictures with the first view's: the fixed
// drawing state is set in it once.
void SecondView::initializeGL() {
    init_render_state();
}

void SecondView::resizeGL(int w, int h) {
    set_client_projection(qRound(w * devicePixelRatioF()), qRound(h * devicePixelRatioF()));
}

void SecondView::paintGL() {
    if (!app_.second) return;
    draw_scene(*app_.second, app_.camera);
    draw_overlays(*app_.second, app_.overlays);
}

// A right-button press or release goes to the first view where the cursor
// is, in its coordinates: the first view then holds the mouse, so the drag's
// moves reach it directly and pan or zoom the camera both views show.
namespace {
void pass_to_first(const App& app, QMouseEvent* event) {
    QWidget* first = client_widget(app.mainWindow);
    if (first == nullptr || event->button() != Qt::RightButton) return;
    QMouseEvent moved(event->type(), first->mapFromGlobal(event->globalPosition()),
                      event->globalPosition(), event->button(), event->buttons(),
                      event->modifiers());
    QCoreApplication::sendEvent(first, &moved);
}
}  // namespace

void SecondView::mousePressEvent(QMouseEvent* event) {
    pass_to_first(app_, event);
}

void SecondView::mouseReleaseEvent(QMouseEvent* event) {
    pass_to_first(app_, event);
}

CompareViews::CompareViews(App& app, QDockWidget* panelDock) : app_(app), panelDock_(panelDock) {
    app.observers.push_back(this);
}

CompareViews::~CompareViews() {
    std::erase(app_.observers, static_cast<AppObserver*>(this));
}

bool CompareViews::command(App& app, unsigned commandId) {
    if (commandId != CMD_COMPARE) return false;
    if (app.second)
        stop_compare(app);
    else
        start_compare(app);
    return true;
}

void CompareViews::compare_toggled(App& app) {
    show_views(app.second != nullptr);
}

// The window grows by the first view's width (up to the screen's edge) and the
// two views share what there is; closing gives the window the width it had
// before, with or without the panel's as it opened or closed meanwhile.
void CompareViews::show_views(bool shown) {
    QMainWindow* frame = main_frame(app_);
    if (frame == nullptr) return;
    QWidget* first = client_widget(app_.mainWindow);
    if (dock_ == nullptr) {
        if (!shown) return;
        view_ = new SecondView(app_);
        dock_ = new QDockWidget(tr("Compare"), frame);
        dock_->setObjectName(QStringLiteral("compare"));
        dock_->setFeatures(QDockWidget::NoDockWidgetFeatures);
        dock_->setTitleBarWidget(new QWidget);
        dock_->setWidget(view_);
        dock_->setFocusPolicy(Qt::NoFocus);
        dock_->hide();
        frame->addDockWidget(Qt::RightDockWidgetArea, dock_);
        if (panelDock_ != nullptr) frame->splitDockWidget(dock_, panelDock_, Qt::Horizontal);
        captions_[0] = new_caption(first);
        captions_[1] = new_caption(view_);
        frame->installEventFilter(this);
        view_->installEventFilter(this);
    }
    if (dock_->isVisible() == shown) return;
    if (shown) {
        widthBefore_ = frame->width();
        panelBefore_ = app_.panelShown;
        const int viewWidth = first->width();
        dock_->show();
        frame->resize(std::min(widthBefore_ + viewWidth, room_for(frame).width()),
                      frame->height());
        frame->layout()->activate();
        share_width();
        keep_on_screen(frame);
        presented(app_);
    } else {
        dock_->hide();
        for (QLabel* c : captions_) c->hide();
        // The panel opened or closed since takes or gives its own width.
        int width = widthBefore_;
        if (panelDock_ != nullptr && app_.panelShown != panelBefore_)
            width += (app_.panelShown ? 1 : -1) * panelDock_->sizeHint().width();
        frame->resize(std::min(width, room_for(frame).width()), frame->height());
        keep_on_screen(frame);
    }
}

// The two views get the same width, so the same camera shows the same part of
// the town in both. The dock's new size reaches the views a turn of the event
// loop later, so each change of either's size asks for another look.
void CompareViews::share_width() {
    QMainWindow* frame = main_frame(app_);
    if (frame == nullptr || dock_ == nullptr || !dock_->isVisible()) return;
    frame->layout()->activate();
    const int first = client_widget(app_.mainWindow)->width();
    const int second = view_->width();
    if (std::abs(first - second) <= 1) return;
    const int half = (first + second) / 2;
    frame->resizeDocks({dock_}, {half + dock_->width() - second}, Qt::Horizontal);
    frame->layout()->activate();
}

bool CompareViews::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && dock_ != nullptr && dock_->isVisible())
        QTimer::singleShot(0, this, [this] { share_width(); });
    return QObject::eventFilter(watched, event);
}

void CompareViews::presented(App& app) {
    if (!app.second || view_ == nullptr) return;
    const ModelParameters& a = app.sim.parameters;
    const ModelParameters& b = app.second->parameters;
    const QString texts[2] = {"A: " + run_caption(a, b), "B: " + run_caption(b, a)};
    for (int run = 0; run < 2; ++run) {
        QLabel* c = captions_[run];
        if (c->text() != texts[run]) {
            c->setText(texts[run]);
            c->adjustSize();
        }
        c->move(6, 6);
        c->show();
    }
    view_->update();
}
