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
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/car_viewer.h"
#include "app/compare.h"
#include "app/help.h"
#include "app/panel.h"
#include "experiments/pictures/attribution.h"
#include "experiments/pictures/movie.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/town_file.h"
#include "render/scene.h"
#include "render/town_map.h"
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

QString swatch(const QColor& c, const QString& text) {
    return QString("<br><span style='color:%1'>&#9632;</span> %2").arg(c.name(), text);
}

QColor rgb_colour(const float (&c)[3]) {
    return QColor::fromRgbF(c[0], c[1], c[2]);
}

// The key of a town's roads drawn by class: every class its roads have, in
// the map's colours, the major roads first. Empty for a town without classes.
QString road_key_html(const Town& town) {
    bool present[ROAD_CLASS_COUNT] = {};
    for (const std::uint8_t c : town.roadClass)
        if (c < ROAD_CLASS_COUNT) present[c] = true;
    QString html;
    for (std::uint8_t c = 1; c < ROAD_CLASS_COUNT; ++c)
        if (present[c]) {
            const TownColour t = TOWN_ROAD_CLASS[c];
            html += swatch(QColor(t.r, t.g, t.b), QString::fromLatin1(town_road_class_label(c)));
        }
    return html.isEmpty() ? html : QStringLiteral("<b>Roads</b>") + html;
}

// The key of every mark the chosen overlays draw: the six car states in the
// colours of the tally, then the lines, each in its own colour; then the
// town's road classes, if its roads are drawn by class.
QString legend_html(const SceneOverlays& o, const QString& roadKey) {
    QString html;
    if (o.carStates) {
        html += QStringLiteral("<b>Cars (the tally's six states)</b>");
        for (int i = 0; i < TALLY_SLOTS; ++i)
            html += swatch(state_colour(i), QString::fromLatin1(CAR_STATE_NAMES[i]));
    }
    const bool lines = o.stormTrack || o.threatZone || o.threatenedHouses;
    if (lines) html += QStringLiteral("%1<b>Storm</b>").arg(html.isEmpty() ? "" : "<br>");
    const auto line = [&html](const float (&c)[3], const char* glyph, const char* text) {
        html += QString("<br><span style='color:%1'>%2</span> %3")
                    .arg(rgb_colour(c).name(), QString::fromUtf8(glyph), QString::fromLatin1(text));
    };
    if (o.stormTrack) line(TRACK_COLOUR, "&#9473;&#9632;", TRACK_MARK_TEXT);
    if (o.threatZone) line(ZONE_COLOUR, "&#9711;", ZONE_MARK_TEXT);
    if (o.threatenedHouses) line(THREATENED_COLOUR, "&#9633;", THREATENED_MARK_TEXT);
    if (!roadKey.isEmpty()) html += (html.isEmpty() ? QString() : QStringLiteral("<br>")) + roadKey;
    return html;
}

// The map points whose marks the legend must not hide: the storm's mark
// (where it is, or at the track's start while it waits), the track and the
// zone's centre, each weighed by how much it matters.
struct Mark {
    double x, y;
    double radius;  // map units around (x, y) that the mark covers
    int weight;
};
std::vector<Mark> marks_to_keep_clear(const Simulation& sim, const SceneOverlays& o) {
    std::vector<Mark> marks;
    const StormState& storm = sim.storm;
    if (o.stormTrack) {
        const bool onTrack = storm.stormPhase > 0.0f;
        const StormPoint& here = onTrack ? storm.storm : storm.stormTrack[0];
        marks.push_back({here.x, here.y, 0.6, 100});
        for (int i = 0; i <= TRACK_SEGMENTS; i += 4) {
            const StormPoint p =
                eval_track(storm.stormTrack, static_cast<float>(i) / TRACK_SEGMENTS);
            marks.push_back({p.x, p.y, 0.0, 1});
        }
    }
    if (o.threatZone) {
        const StormPoint zone =
            eval_track(storm.stormTrack, storm.stormPhase + storm.lookAheadOffset);
        marks.push_back({zone.x, zone.y, 0.0, 50});
    }
    if (o.threatenedHouses)
        for (int i = 0; i < sim.vehicles.vehicleCount; ++i)
            if (sim.storm.threatFlags[i] != 0) {
                const CellPos h = sim.vehicles.vehicles[i].home;
                marks.push_back({h.x + 0.5, h.y + 0.5, 0.4, 2});
            }
    return marks;
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
    compare_ = std::make_unique<CompareViews>(app, dock_);

    // Dark, so that the white track's key shows as clearly as the colours.
    legend_ = new QLabel(client_widget(app.mainWindow));
    legend_->setStyleSheet(
        QStringLiteral("background: rgba(20,20,20,215); color: white; border: 1px solid #888; "
                       "padding: 4px;"));
    legend_->setWordWrap(true);
    legend_->setAttribute(Qt::WA_TransparentForMouseEvents);  // clicks go to the town below
    legend_->hide();
    credit_ = new QLabel(client_widget(app.mainWindow));
    credit_->setStyleSheet(
        QStringLiteral("background: rgba(20,20,20,215); color: white; padding: 1px 4px;"));
    credit_->setAttribute(Qt::WA_TransparentForMouseEvents);
    credit_->hide();

    const QSettings settings;
    app.overlays.stormTrack = settings.value(SETTING_TRACK, false).toBool();
    app.overlays.threatZone = settings.value(SETTING_ZONE, false).toBool();
    app.overlays.threatenedHouses = settings.value(SETTING_THREATENED, false).toBool();
    app.overlays.carStates = settings.value(SETTING_CAR_STATES, false).toBool();
    saved_ = app.overlays;
    savedPanel_ = settings.value(SETTING_PANEL, false).toBool();
    app.observers.push_back(this);
    fit_screen();
    show_panel(settings.value(SETTING_PANEL, false).toBool());
    present_frame(app);
    // Once the window manager has framed the window, its size is known whole.
    fit_when_framed(10);
}

// The window manager may frame the window only after the program's first
// frames (more so on a busy machine): the fit is tried again until it has.
void WindowExtras::fit_when_framed(int tries) {
    QTimer::singleShot(FRAME_SETTLE_MS, this, [this, tries] {
        fit_screen();
        const QMainWindow* frame = main_frame(app_);
        if (frame != nullptr && frame->frameGeometry() == frame->geometry() && tries > 1)
            fit_when_framed(tries - 1);
    });
}

WindowExtras::~WindowExtras() {
    std::erase(app_.observers, static_cast<AppObserver*>(this));
}

// Nothing is known of the window manager's frame before it first shows the window.
QRect room_for(const QWidget* frame) {
    const QScreen* screen = frame->screen() != nullptr ? frame->screen()
                                                       : QGuiApplication::primaryScreen();
    if (screen == nullptr) return QRect(0, 0, 1 << 15, 1 << 15);
    const QRect free = screen->availableGeometry();
    const QRect outer = frame->frameGeometry(), inner = frame->geometry();
    QMargins frameMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                          outer.right() - inner.right(), outer.bottom() - inner.bottom());
    if (outer == inner && frame->isVisible()) frameMargins = QMargins(0, 32, 0, 0);
    return free - frameMargins;
}

void keep_on_screen(QWidget* frame) {
    const QRect room = room_for(frame);
    const QSize size = frame->size().boundedTo(room.size());
    if (size != frame->size()) frame->resize(size);
    QRect placed = frame->geometry();
    if (placed.right() > room.right()) placed.moveRight(room.right());
    if (placed.bottom() > room.bottom()) placed.moveBottom(room.bottom());
    if (placed.left() < room.left()) placed.moveLeft(room.left());
    if (placed.top() < room.top()) placed.moveTop(room.top());
    // move() places the frame's corner, not the window's.
    const QPoint frameOffset = frame->geometry().topLeft() - frame->frameGeometry().topLeft();
    if (placed.topLeft() != frame->geometry().topLeft()) frame->move(placed.topLeft() - frameOffset);
}

// The town's view keeps its size where the screen has room: the window grows
// by the panel's width and shrinks by it again. Where it has not, the window
// grows only to the screen's edge and the town's view gives up the rest (the
// town is scaled to the narrower view), so the panel is always on the screen.
void WindowExtras::show_panel(bool shown) {
    QMainWindow* frame = main_frame(app_);
    app_.panelShown = shown;
    if (frame == nullptr || dock_->isVisible() == shown) return;
    QWidget* view = client_widget(app_.mainWindow);
    const int viewWidth = view->width();
    const int roomWidth = room_for(frame).width();
    const int widthBefore = frame->width();
    dock_->setVisible(shown);
    if (shown) panel_->refresh();
    int width = shown ? widthBefore + dock_->sizeHint().width() : widthBefore - dock_->width();
    if (!shown && widthBefore == widthWithPanel_) width = widthWithoutPanel_;
    frame->resize(std::min(width, roomWidth), frame->height());
    frame->layout()->activate();
    // The separator between the two, whatever the style makes it.
    if (view->width() != viewWidth && frame->width() < roomWidth)
        frame->resize(std::min(frame->width() + viewWidth - view->width(), roomWidth),
                      frame->height());
    keep_on_screen(frame);
    if (shown) {
        widthWithoutPanel_ = widthBefore;
        widthWithPanel_ = frame->width();
    }
}

void WindowExtras::fit_screen() {
    if (QMainWindow* frame = main_frame(app_)) keep_on_screen(frame);
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
        case CMD_HELP_GUIDE:
            message_box(HELP_GUIDE_TEXT, "Marovel guide");
            return true;
        case CMD_HELP_WHY:
            message_box(HELP_WHY_TEXT, "Why do so many leave at once?");
            return true;
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

void WindowExtras::presented(App&) {
    place_legend();
    place_credit();
    save_view_settings();
}

// The map's credit in the view's bottom-right corner, or in the bottom-left
// one while the legend stands in the bottom right.
void WindowExtras::place_credit() {
    const std::string text = app_.sim.town ? town_attribution(*app_.sim.town) : std::string();
    if (text.empty()) {
        credit_->hide();
        return;
    }
    const QString label = QString::fromStdString(text);
    if (credit_->text() != label) {
        credit_->setText(label);
        credit_->adjustSize();
    }
    const QWidget* view = credit_->parentWidget();
    const int margin = 4;
    QPoint at(view->width() - credit_->width() - margin, view->height() - credit_->height() - margin);
    if (legend_->isVisible() && legend_->geometry().intersects(QRect(at, credit_->size())))
        at.setX(margin);
    credit_->move(at);
    credit_->show();
}

// The legend goes to the corner of the view where it hides the least of the
// storm's marks: bottom left first, then bottom right, top left, top right.
void WindowExtras::place_legend() {
    const SceneOverlays& o = app_.overlays;
    const Town* town = app_.sim.town.get();
    if (town != roadKeyTown_) {  // the key of a town's roads is read once per town
        roadKeyTown_ = town;
        roadKey_ = town ? road_key_html(*town) : QString();
    }
    const bool shown = (o.any() || !roadKey_.isEmpty()) && app_.mainWindow != nullptr;
    if (!shown) {
        legend_->hide();
        return;
    }
    const QString html = legend_html(o, roadKey_);
    const QWidget* view = legend_->parentWidget();
    const int margin = 8;
    // Sized again only when its text or the view changed, not every frame: a
    // third of the view, or wider where the text would not fit its height (a
    // narrow view beside a second one, or a short window). The height is the
    // text's at that width: a wrapped label's own size hint is for another
    // width, and cut its last lines off.
    if (legend_->text() != html || legendView_ != view->size()) {
        legend_->setText(html);
        legendView_ = view->size();
        int width = std::min(330, std::max(160, view->width() / 3));
        const int widest = std::max(width, view->width() - 2 * margin);
        legend_->setMinimumSize(0, 0);  // a label measures only within its own bounds
        legend_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        while (width < widest && legend_->heightForWidth(width) > view->height() - 2 * margin)
            width = std::min(widest, width + 20);
        legend_->setFixedSize(width, legend_->heightForWidth(width));
        legendImage_ = QImage();
    }
    const QPoint corners[] = {
        {margin, view->height() - legend_->height() - margin},
        {view->width() - legend_->width() - margin, view->height() - legend_->height() - margin},
        {margin, margin},
        {view->width() - legend_->width() - margin, margin},
    };
    const std::vector<Mark> marks = marks_to_keep_clear(app_.sim, o);
    const double ratio = view->devicePixelRatioF();
    QPoint best = corners[0];
    int leastHidden = -1;
    for (const QPoint& corner : corners) {
        const QRectF area = QRectF(corner, legend_->size()).adjusted(-4, -4, 4, 4);
        int hidden = 0;
        for (const Mark& m : marks) {
            double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
            const int w = app_.clientWidth, h = app_.clientHeight;
            if (pixel_of_point(app_.camera, w, h, m.x - m.radius, m.y + m.radius, x0, y0) &&
                pixel_of_point(app_.camera, w, h, m.x + m.radius, m.y - m.radius, x1, y1) &&
                area.intersects(QRectF(QPointF(x0, y0) / ratio, QPointF(x1, y1) / ratio)
                                    .adjusted(-1, -1, 1, 1)))
                hidden += m.weight;
        }
        if (leastHidden < 0 || hidden < leastHidden) {
            leastHidden = hidden;
            best = corner;
        }
    }
    legend_->move(best);
    legend_->show();
    if (legendImage_.isNull()) legendImage_ = legend_->grab().toImage();
}

// The legend as the screen shows it over the view, for pictures and videos
// of the view (it is a widget of its own, not part of the drawn frame).
void WindowExtras::paint_legend(QImage& image) const {
    if (!legend_->isVisible() || legendImage_.isNull()) return;
    const double ratio = legend_->devicePixelRatioF();
    QPainter painter(&image);
    painter.drawImage(QRectF(legend_->x() * ratio, legend_->y() * ratio,
                             legend_->width() * ratio, legend_->height() * ratio),
                      legendImage_);
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

// With Compare on, the picture holds both towns as on the screen: the first
// view, a gap in the window's grey, the second, each with its caption.
QImage WindowExtras::beside_second_view(const QImage& first) const {
    SecondView& second = *compare_->view();
    const QImage right = second.grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    const double ratio = second.devicePixelRatioF();
    const int gap = qRound(4 * ratio);
    QImage both(first.width() + gap + right.width(), std::max(first.height(), right.height()),
                QImage::Format_RGB888);
    both.fill(QColor(160, 160, 160));
    QPainter painter(&both);
    painter.drawImage(0, 0, first);
    painter.drawImage(first.width() + gap, 0, right);
    for (int run = 0; run < 2; ++run) {
        QLabel* caption = compare_->caption(run);
        if (caption == nullptr || !caption->isVisible()) continue;
        const int left = run == 0 ? 0 : first.width() + gap;
        painter.drawImage(QRectF(left + caption->x() * ratio, caption->y() * ratio,
                                 caption->width() * ratio, caption->height() * ratio),
                          caption->grab().toImage());
    }
    return both;
}

bool WindowExtras::save_picture(const QString& file, QString& error) {
    auto* view = qobject_cast<QOpenGLWidget*>(client_widget(app_.mainWindow));
    if (view == nullptr) {
        error = tr("there is no view to save");
        return false;
    }
    QImage image = view->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    paint_legend(image);
    if (app_.second && compare_->view() != nullptr && compare_->view()->isVisible())
        image = beside_second_view(image);
    if (app_.sim.town) stamp_attribution(image, *app_.sim.town);
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
    paint_legend(frame);
    if (app.sim.town) stamp_attribution(frame, *app.sim.town);
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
