// Everything the window has beside the town view and its original menus: the
// side panel, the inspector, the car-state legend, the custom error level,
// saving the view as a picture and recording it as a movie, and the View
// choices kept between launches (QSettings, under the application's
// organisation and name). Plain Qt widgets around the one App record.
#pragma once

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <memory>

#include "app/shell.h"
#include "render/scene.h"

class Inspector;
class QDockWidget;
class QLabel;
class SidePanel;

// The settings' keys.
inline constexpr const char* SETTING_PANEL = "view/panel";
inline constexpr const char* SETTING_TRACK = "view/stormTrack";
inline constexpr const char* SETTING_ZONE = "view/threatZone";
inline constexpr const char* SETTING_THREATENED = "view/threatenedHouses";
inline constexpr const char* SETTING_CAR_STATES = "view/carStates";
inline constexpr const char* SETTING_RECORD_EVERY = "record/every";
inline constexpr const char* SETTING_RECORD_FOLDER = "record/folder";
inline constexpr const char* SETTING_TOWN_FOLDER = "town/folder";

// How long after start-up the window is fitted to its screen once more, when
// the window manager has put its frame round it.
constexpr int FRAME_SETTLE_MS = 300;

// The room a window's own area may take on its screen: the screen's free area
// less what the window manager adds around it (a title bar of 32 pixels is
// assumed until the window manager has framed it).
QRect room_for(const QWidget* frame);
// Moves and shrinks the window so that it lies on its screen whole.
void keep_on_screen(QWidget* frame);

class CompareViews;

class WindowExtras : public QObject, public AppObserver {
  public:
    // Adds the panel (hidden), the inspector and the legend to the App's window
    // and takes the View choices from the settings.
    explicit WindowExtras(App& app);
    ~WindowExtras() override;

    bool command(App& app, unsigned commandId) override;
    void presented(App& app) override;
    void frame_drawn(App& app) override;
    void cell_clicked(App& app, CellPos cell) override;
    void quitting(App& app) override;

    void show_panel(bool shown);
    // The view as the screen shows it, into a PNG file. False with the reason.
    bool save_picture(const QString& file, QString& error);
    // Every drawn frame of a new tick (or of every `every`-th tick) from now on,
    // stamped with the tick and the counts, into `file` (.mp4 through ffmpeg,
    // else numbered PNGs). Stopping finishes the file.
    bool start_recording(const QString& file, int every, QString& error);
    bool stop_recording(QString& error);
    long recorded_frames() const;
    QString recording_target() const;
    // File > Open town without its dialog: the town in `file` from now on, or
    // false with "FILE:LINE:COLUMN: what" in `error` and the town left as it was.
    bool open_town_file(const QString& file, QString& error);
    // Sets the error spread from text as the Custom box takes it ("360",
    // "inf", "moderate"); false when it is none.
    bool set_custom_error(const QString& text);

    SidePanel* panel() const { return panel_; }
    CompareViews* compare() const { return compare_.get(); }
    QDockWidget* dock() const { return dock_; }
    Inspector* inspector() const { return inspector_; }
    QLabel* legend() const { return legend_; }
    // The map's credit over the town view, shown while the town needs one.
    QLabel* credit() const { return credit_; }
    QString last_error() const { return lastError_; }

  private:
    void place_legend();
    void place_credit();
    void fit_screen();
    void fit_when_framed(int tries);
    void paint_legend(QImage& image) const;
    QImage beside_second_view(const QImage& first) const;
    void save_view_settings();
    void report(const QString& what);
    App& app_;
    SidePanel* panel_ = nullptr;
    QDockWidget* dock_ = nullptr;
    Inspector* inspector_ = nullptr;
    QLabel* legend_ = nullptr;
    QLabel* credit_ = nullptr;
    QImage legendImage_;  // the legend as last drawn, for pictures and videos
    QSize legendView_;    // the view's size when the legend was last sized
    const Town* roadKeyTown_ = nullptr;  // the town whose roads roadKey_ lists
    QString roadKey_;                    // the legend's key of that town's road classes
    QString lastError_;
    SceneOverlays saved_;  // the View choices as last written to the settings
    bool savedPanel_ = false;
    int widthWithoutPanel_ = 0;  // the window's width before the panel last opened
    int widthWithPanel_ = 0;     // and with it, as it was made then
    struct Recording;
    std::unique_ptr<Recording> recording_;
    std::unique_ptr<CompareViews> compare_;
};
