#include "app/extras.h"

#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMessageBox>
#include <QOpenGLWidget>
#include <QSettings>
#include <QStandardPaths>
#include <cmath>

#include "app/car_viewer.h"
#include "app/panel.h"
#include "experiments/pictures/movie.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/town_file.h"
#include "render/scene.h"
#include "sim/scenario.h"

// Only the OpenGL 1.1 interface is used here, so no extension header is wanted.
#define GL_GLEXT_LEGACY
#include <GL/gl.h>

struct WindowExtras::Recording {
    MovieWriter writer;
    int every = 1;
    double lastTick = -1.0;  // the tick of the last frame taken
};

namespace {

QMainWindow* main_frame(const App& app) {
    return qobject_cast<QMainWindow*>(frame_widget(app.mainWindow));
}

// A small key of the car colours over the view's bottom-left corner.
QString legend_html() {
    QString html = QStringLiteral("<b>Cars</b>");
    for (int i = 0; i < 4; ++i) {
        const QColor c = QColor::fromRgbF(CAR_STATE_COLOURS[i][0], CAR_STATE_COLOURS[i][1],
                                          CAR_STATE_COLOURS[i][2]);
        html += QString("<br><span style='color:%1'>&#9632;</span> %2")
                    .arg(c.name(), QString::fromLatin1(CAR_STATE_NAMES[i]));
    }
    return html;
}

}  // namespace

WindowExtras::WindowExtras(App& app) : app_(app), recording_(std::make_unique<Recording>()) {
    QMainWindow* frame = main_frame(app);
    panel_ = new SidePanel(app);
    dock_ = new QDockWidget(tr("Panel"), frame);
    dock_->setObjectName(QStringLiteral("panel"));
    dock_->setFeatures(QDockWidget::NoDockWidgetFeatures);
    dock_->setTitleBarWidget(new QWidget);  // no title bar: it is part of the window
    dock_->setWidget(panel_);
    dock_->setFocusPolicy(Qt::NoFocus);
    frame->addDockWidget(Qt::RightDockWidgetArea, dock_);
    dock_->hide();

    inspector_ = new Inspector(app, frame);

    legend_ = new QLabel(client_widget(app.mainWindow));
    legend_->setText(legend_html());
    legend_->setStyleSheet(
        QStringLiteral("background: rgba(255,255,255,210); border: 1px solid #888; padding: 4px;"));
    legend_->adjustSize();
    legend_->hide();

    const QSettings settings;
    app.overlays.stormTrack = settings.value(SETTING_TRACK, false).toBool();
    app.overlays.threatZone = settings.value(SETTING_ZONE, false).toBool();
    app.overlays.threatenedHouses = settings.value(SETTING_THREATENED, false).toBool();
    app.overlays.carStates = settings.value(SETTING_CAR_STATES, false).toBool();
    saved_ = app.overlays;
    savedPanel_ = settings.value(SETTING_PANEL, false).toBool();
    app.observers.push_back(this);
    show_panel(settings.value(SETTING_PANEL, false).toBool());
    present_frame(app);
}

WindowExtras::~WindowExtras() {
    std::erase(app_.observers, static_cast<AppObserver*>(this));
}

// The town's view keeps its size: the window grows by the panel's width and
// shrinks by it again.
void WindowExtras::show_panel(bool shown) {
    QMainWindow* frame = main_frame(app_);
    app_.panelShown = shown;
    if (frame == nullptr || dock_->isVisible() == shown) return;
    QWidget* view = client_widget(app_.mainWindow);
    const int viewWidth = view->width();
    dock_->setVisible(shown);
    if (shown) panel_->refresh();
    const int guess = shown ? dock_->sizeHint().width() : -dock_->width();
    frame->resize(frame->width() + guess, frame->height());
    frame->layout()->activate();
    if (view->width() != viewWidth)  // the separator between the two, whatever the style makes it
        frame->resize(frame->width() + viewWidth - view->width(), frame->height());
}

bool WindowExtras::command(App& app, unsigned commandId) {
    switch (commandId) {
        case CMD_PANEL:
            show_panel(!app.panelShown);
            save_view_settings();
            return true;
        case CMD_SAVE_PICTURE: {
            const QString folder =
                QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
            const QString name = QFileDialog::getSaveFileName(main_frame(app), tr("Save picture"),
                                                              QDir(folder).filePath("marovel.png"),
                                                              tr("PNG pictures (*.png)"));
            QString error;
            if (!name.isEmpty() && !save_picture(name, error)) report(error);
            return true;
        }
        case CMD_RECORD: {
            QString error;
            if (app.recording) {
                if (!stop_recording(error)) report(error);
                return true;
            }
            QSettings settings;
            const QString folder =
                settings
                    .value(SETTING_RECORD_FOLDER,
                           QStandardPaths::writableLocation(QStandardPaths::MoviesLocation))
                    .toString();
            const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss");
            const QString name = QFileDialog::getSaveFileName(
                main_frame(app), tr("Record video"),
                QDir(folder).filePath("marovel-" + stamp + ".mp4"),
                tr("MP4 movies (*.mp4);;Numbered PNG pictures (*.png)"));
            if (name.isEmpty()) return true;
            bool ok = false;
            const int every = QInputDialog::getInt(
                main_frame(app), tr("Record video"),
                tr("A frame every how many ticks? (1: every frame)"),
                settings.value(SETTING_RECORD_EVERY, 1).toInt(), 1, 100000, 1, &ok);
            if (!ok) return true;
            settings.setValue(SETTING_RECORD_EVERY, every);
            settings.setValue(SETTING_RECORD_FOLDER, QFileInfo(name).absolutePath());
            if (!start_recording(name, every, error)) report(error);
            return true;
        }
        case CMD_OPEN_TOWN: {
            QSettings settings;
            const QString name = QFileDialog::getOpenFileName(
                main_frame(app), tr("Open town"), settings.value(SETTING_TOWN_FOLDER).toString(),
                tr("Towns (*.town);;All files (*)"), nullptr, QFileDialog::DontUseNativeDialog);
            if (name.isEmpty()) return true;
            settings.setValue(SETTING_TOWN_FOLDER, QFileInfo(name).absolutePath());
            QString error;
            if (!open_town_file(name, error)) report(error);
            return true;
        }
        case CMD_ERROR_CUSTOM: {
            bool ok = false;
            const QString text = QInputDialog::getText(
                main_frame(app), tr("Custom error level"),
                tr("Half-width of the households' signal error (a number >= 0, or inf):"),
                QLineEdit::Normal,
                QString::fromStdString(error_spread_text(app.sim.parameters.errorSpread)), &ok);
            if (ok && !set_custom_error(text))
                report(tr("\"%1\" is not an error spread: give a number >= 0 or inf").arg(text));
            return true;
        }
        default:
            return false;
    }
}

bool WindowExtras::open_town_file(const QString& file, QString& error) {
    std::string why;
    std::shared_ptr<const Town> town = load_town(file.toStdString(), why);
    if (!town) {
        error = QString::fromStdString(why);
        return false;
    }
    open_town(app_, std::move(town));
    present_frame(app_);
    return true;
}

bool WindowExtras::set_custom_error(const QString& text) {
    double spread = 0.0;
    const std::string t = text.trimmed().toStdString();
    if (const auto named = error_level_named(t))
        spread = *named;
    else if (!parse_decimal(t, spread) || !(spread >= 0.0))
        return false;
    const ParameterInfo* info = find_parameter("error_spread", 12);
    set_error_level(app_, info != nullptr ? stored_value(*info, spread) : spread);
    present_frame(app_);
    return true;
}

void WindowExtras::presented(App& app) {
    legend_->setVisible(app.overlays.carStates && app.mainWindow != nullptr);
    if (legend_->isVisible())
        legend_->move(8, legend_->parentWidget()->height() - legend_->height() - 8);
    save_view_settings();
}

// Written only when a choice changed, not with every frame.
void WindowExtras::save_view_settings() {
    if (app_.mainWindow == nullptr) return;
    const SceneOverlays& o = app_.overlays;
    const bool same = saved_.stormTrack == o.stormTrack && saved_.threatZone == o.threatZone &&
                      saved_.threatenedHouses == o.threatenedHouses &&
                      saved_.carStates == o.carStates && savedPanel_ == app_.panelShown;
    if (same) return;
    saved_ = o;
    savedPanel_ = app_.panelShown;
    QSettings settings;
    auto keep = [&settings](const char* key, bool value) {
        if (settings.value(key, false).toBool() != value) settings.setValue(key, value);
    };
    keep(SETTING_PANEL, app_.panelShown);
    keep(SETTING_TRACK, app_.overlays.stormTrack);
    keep(SETTING_ZONE, app_.overlays.threatZone);
    keep(SETTING_THREATENED, app_.overlays.threatenedHouses);
    keep(SETTING_CAR_STATES, app_.overlays.carStates);
}

void WindowExtras::cell_clicked(App&, CellPos) {}

void WindowExtras::report(const QString& what) {
    lastError_ = what;
    message_box(what.toLocal8Bit().constData(), "Marovel");
}

bool WindowExtras::save_picture(const QString& file, QString& error) {
    auto* view = qobject_cast<QOpenGLWidget*>(client_widget(app_.mainWindow));
    if (view == nullptr) {
        error = tr("there is no view to save");
        return false;
    }
    const QImage image = view->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    if (!image.save(file, "PNG")) {
        error = tr("could not write %1").arg(file);
        return false;
    }
    return true;
}

bool WindowExtras::start_recording(const QString& file, int every, QString& error) {
    QWidget* view = client_widget(app_.mainWindow);
    const int w = qRound(view->width() * view->devicePixelRatioF());
    const int h = qRound(view->height() * view->devicePixelRatioF());
    std::string why;
    if (!recording_->writer.open(file.toStdString(), w, h, MOVIE_FPS, why)) {
        error = QString::fromStdString(why);
        return false;
    }
    recording_->every = std::max(1, every);
    recording_->lastTick = -1.0;
    app_.recording = true;
    present_frame(app_);  // the frame on the screen is the first
    return true;
}

bool WindowExtras::stop_recording(QString& error) {
    if (!app_.recording) return true;
    app_.recording = false;
    std::string why;
    const bool ok = recording_->writer.close(why);
    if (!ok) error = QString::fromStdString(why);
    present_frame(app_);
    return ok;
}

long WindowExtras::recorded_frames() const {
    return recording_->writer.frames();
}

QString WindowExtras::recording_target() const {
    return QString::fromStdString(recording_->writer.target());
}

// Inside the paint: the frame just drawn is still in the widget's frame buffer.
void WindowExtras::frame_drawn(App& app) {
    Recording& r = *recording_;
    if (!app.recording) return;
    const double tick = app.sim.storm.simTime;
    if (tick == r.lastTick) return;
    if (r.lastTick >= 0.0 && std::fmod(tick, r.every) != 0.0) return;
    r.lastTick = tick;
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    QImage frame(viewport[2], viewport[3], QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, viewport[2], viewport[3], GL_RGBA, GL_UNSIGNED_BYTE, frame.bits());
    frame = frame.mirrored(false, true).convertToFormat(QImage::Format_RGB888);
    stamp_frame(frame, static_cast<long long>(tick), tally_vehicles(app.sim.vehicles));
    std::string why;
    if (!r.writer.add_frame(frame, why)) {
        app.recording = false;
        std::string ignored;
        r.writer.close(ignored);
        lastError_ = QString::fromStdString(why);
    }
}

// The movie is finished before the window goes; nothing is drawn any more.
void WindowExtras::quitting(App& app) {
    if (!app.recording) return;
    app.recording = false;
    std::string ignored;
    recording_->writer.close(ignored);
}
