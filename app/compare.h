// View > Compare: the second run (App::second) drawn in a town view of its own
// beside the first, through the first view's camera and overlays, each view
// captioned with what tells its run apart. The second view is a plain Qt
// widget in a dock of the same window, so its drawing context shares the
// first's pictures. A right-button drag on it moves the camera of both, as on
// the first; a left click inspects nothing (the inspector follows the first
// run). The panel shows both runs' counts and curves.
#pragma once

#include <QObject>
#include <QOpenGLWidget>

class QMouseEvent;

#include "app/shell.h"

class QDockWidget;
class QLabel;

// The second run's town, drawn as on_paint draws the first.
class SecondView : public QOpenGLWidget {
  public:
    explicit SecondView(App& app, QWidget* parent = nullptr);

  protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    App& app_;
};

class CompareViews : public QObject, public AppObserver {
  public:
    // Nothing is added to the window until Compare first opens; `panelDock`
    // (may be null) is kept right of the second view.
    CompareViews(App& app, QDockWidget* panelDock);
    ~CompareViews() override;

    bool command(App& app, unsigned commandId) override;
    void compare_toggled(App& app) override;
    void presented(App& app) override;

    // Null until Compare first opens.
    QDockWidget* dock() const { return dock_; }
    SecondView* view() const { return view_; }
    // The caption over the first (run 0) or the second (1) view.
    QLabel* caption(int run) const { return captions_[run]; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void show_views(bool shown);
    void share_width();
    App& app_;
    QDockWidget* panelDock_;
    QDockWidget* dock_ = nullptr;
    SecondView* view_ = nullptr;
    QLabel* captions_[2] = {};
    int widthBefore_ = 0;  // the window's width before Compare last opened
    bool panelBefore_ = false;  // whether the panel was open then
};
