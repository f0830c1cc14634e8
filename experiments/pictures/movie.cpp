#include "experiments/pictures/movie.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QStringList>
#include <QStandardPaths>
#include <cstdio>
#include <vector>

#include "experiments/pictures/attribution.h"
#include "experiments/pictures/plot_drawing.h"
#include "experiments/pictures/snapshot.h"
#include "experiments/records/output_file.h"
#include "render/scene.h"

// Only the OpenGL 1.1 interface is used here, so no extension header is wanted.
#define GL_GLEXT_LEGACY
#include <GL/gl.h>

namespace {

bool ends_with(const std::string& text, const char* ending) {
    const std::string e(ending);
    if (text.size() < e.size()) return false;
    for (std::size_t i = 0; i < e.size(); ++i) {
        char c = text[text.size() - e.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != e[i]) return false;
    }
    return true;
}

}  // namespace

std::string find_ffmpeg() {
    const QByteArray chosen = qgetenv("MAROVEL_FFMPEG");
    if (!chosen.isEmpty())
        return QFileInfo(QString::fromLocal8Bit(chosen)).isExecutable() ? chosen.toStdString()
                                                                        : std::string();
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).toStdString();
}

std::string numbered_png(const std::string& file, long frame) {
    std::string stem = file;
    if (ends_with(stem, ".mp4") || ends_with(stem, ".png")) stem.resize(stem.size() - 4);
    char number[32];
    std::snprintf(number, sizeof number, "_%06ld.png", frame);
    return stem + number;
}

std::string movie_name_problem(const std::string& file) {
    if (ends_with(file, ".mp4") || ends_with(file, ".png")) return {};
    return file + ": a movie's name must end in .mp4 or .png";
}

struct MovieWriter::State {
    std::string file;
    int width = 0;
    int height = 0;
    bool open = false;
    bool pngs = false;
    long frames = 0;
    OutputFile output;  // the MP4 until it is complete
    QProcess ffmpeg;
};

MovieWriter::MovieWriter() : state_(std::make_unique<State>()) {}

MovieWriter::~MovieWriter() {
    if (state_->open && !state_->pngs) {
        state_->ffmpeg.kill();
        state_->ffmpeg.waitForFinished(-1);
    }
}

bool MovieWriter::open(const std::string& file, int width, int height, int fps,
                       std::string& error) {
    State& s = *state_;
    if (s.open) {
        error = "a movie is being written already";
        return false;
    }
    s.pngs = false;
    s.file = file;
    s.width = width & ~1;
    s.height = height & ~1;
    s.frames = 0;
    if (s.width <= 0 || s.height <= 0) {
        error = "a movie needs frames of at least 2 x 2 pixels";
        return false;
    }
    if (const std::string why = movie_name_problem(file); !why.empty()) {
        error = why;
        return false;
    }
    const bool mp4 = ends_with(file, ".mp4");
    const std::string program = mp4 ? find_ffmpeg() : std::string();
    if (program.empty()) {
        s.pngs = true;
        s.open = true;
        return true;
    }
    if (!s.output.create(file, error)) return false;
    const QStringList args = {"-y",
                              "-loglevel",
                              "error",
                              "-f",
                              "rawvideo",
                              "-pixel_format",
                              "rgb24",
                              "-video_size",
                              QString("%1x%2").arg(s.width).arg(s.height),
                              "-framerate",
                              QString::number(fps),
                              "-i",
                              "-",
                              "-c:v",
                              "libx264",
                              "-preset",
                              "veryfast",
                              "-pix_fmt",
                              "yuv420p",
                              "-crf",
                              "18",
                              "-f",
                              "mp4",
                              QString::fromStdString(s.output.temp_path())};
    s.ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    s.ffmpeg.start(QString::fromStdString(program), args);
    if (!s.ffmpeg.waitForStarted(-1)) {
        error = "could not start " + program;
        s.output.discard();
        return false;
    }
    s.open = true;
    return true;
}

bool MovieWriter::add_frame(const QImage& frame, std::string& error) {
    State& s = *state_;
    if (!s.open) {
        error = "no movie is open";
        return false;
    }
    if (frame.width() < s.width || frame.height() < s.height) {
        error = "a frame is smaller than the movie";
        return false;
    }
    const QImage rgb = frame.copy(0, 0, s.width, s.height).convertToFormat(QImage::Format_RGB888);
    ++s.frames;
    if (s.pngs) {
        const std::string name = numbered_png(s.file, s.frames);
        if (!rgb.save(QString::fromStdString(name), "PNG")) {
            error = "could not write " + name;
            return false;
        }
        return true;
    }
    for (int y = 0; y < s.height; ++y) {
        const char* row = reinterpret_cast<const char*>(rgb.constScanLine(y));
        qint64 left = 3LL * s.width;
        while (left > 0) {
            const qint64 n = s.ffmpeg.write(row, left);
            if (n < 0) {
                error = "ffmpeg stopped taking frames";
                return false;
            }
            row += n;
            left -= n;
        }
    }
    while (s.ffmpeg.bytesToWrite() > 0)
        if (!s.ffmpeg.waitForBytesWritten(-1)) {
            error = "ffmpeg stopped taking frames";
            return false;
        }
    return true;
}

bool MovieWriter::close(std::string& error) {
    State& s = *state_;
    if (!s.open) return true;
    s.open = false;
    if (s.pngs) return true;
    s.ffmpeg.closeWriteChannel();
    s.ffmpeg.waitForFinished(-1);
    if (s.ffmpeg.exitStatus() != QProcess::NormalExit || s.ffmpeg.exitCode() != 0) {
        error = "ffmpeg could not write " + s.file;
        s.output.discard();
        return false;
    }
    return s.output.commit(error);
}

bool MovieWriter::is_open() const {
    return state_->open;
}
bool MovieWriter::writes_pngs() const {
    return state_->pngs;
}
long MovieWriter::frames() const {
    return state_->frames;
}
std::string MovieWriter::target() const {
    return state_->pngs ? numbered_png(state_->file, 1) : state_->file;
}

// Each count follows a square of its car state's colour, the overlay's own.
void stamp_frame(QImage& frame, long long tick, const VehicleTally& t) {
    const std::int32_t counts[TALLY_SLOTS] = {t.notEvacuated, t.evacuated, t.gaveUp,
                                              t.enRoute,      t.towed,     t.outOfGas};
    QPainter painter(&frame);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(13);
    painter.setFont(font);
    const QFontMetrics metrics = painter.fontMetrics();
    const QString head = QString("Tick %1 ").arg(tick);
    QStringList parts;
    for (int i = 0; i < TALLY_SLOTS; ++i)
        parts << QString("  %1 %2").arg(QString::fromLatin1(CAR_STATE_NAMES[i])).arg(counts[i]);
    const int square = metrics.ascent() - 2;
    int width = metrics.horizontalAdvance(head);
    for (const QString& part : parts) width += square + metrics.horizontalAdvance(part) + 4;
    const QRect box(8, 8, width + 12, metrics.height() + 8);
    painter.fillRect(box, QColor(0, 0, 0, 170));
    painter.setPen(Qt::white);
    int x = box.left() + 6;
    const int baseline = box.top() + 4 + metrics.ascent();
    painter.drawText(x, baseline, head);
    x += metrics.horizontalAdvance(head);
    for (int i = 0; i < TALLY_SLOTS; ++i) {
        const float(&c)[3] = CAR_STATE_COLOURS[i];
        x += 4;
        painter.fillRect(QRect(x, baseline - square, square, square),
                         QColor::fromRgbF(c[0], c[1], c[2]));
        x += square;
        painter.drawText(x, baseline, parts[i]);
        x += metrics.horizontalAdvance(parts[i]);
    }
}

namespace {

// The frame just drawn into the renderer's framebuffer, rows turned top-down.
QImage read_frame(int width, int height) {
    QImage image(width, height, QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    return image.mirrored(false, true).convertToFormat(QImage::Format_RGB888);
}

}  // namespace

bool write_movie(const ScenarioSetup& scenario, const MovieRun& run,
                 const std::vector<std::string>& folders, std::string& error,
                 std::shared_ptr<const Town> town) {
    if (run.every < 1 || run.ticks < 0) {
        error = "--movie-every must be a whole number of ticks >= 1";
        return false;
    }
    SnapshotRenderer renderer;
    if (!renderer.open(SNAPSHOT_W, SNAPSHOT_H, folders, error)) return false;
    MovieWriter writer;
    if (!writer.open(run.file, SNAPSHOT_W, SNAPSHOT_H, MOVIE_FPS, error)) return false;
    auto sim = std::make_unique<Simulation>();
    if (town)
        build_scenario(*sim, scenario, std::move(town));
    else
        build_scenario(*sim, scenario);
    if (!renderer.use_town(sim->town, error)) return false;
    std::unique_ptr<plot_drawing::OffscreenApplication> fonts;  // for the credit on every frame
    if (!town_attribution(*sim->town).empty())
        fonts = std::make_unique<plot_drawing::OffscreenApplication>();
    // The camera fitted to the town, as the snapshots; the built-in town's is the window's first.
    const Camera camera = fitted_camera(sim->town->width, sim->town->height,
                                        static_cast<float>(SNAPSHOT_W) / SNAPSHOT_H);
    for (long long tick = 0;; ++tick) {
        if (tick % run.every == 0) {
            draw_scene(*sim, camera);
            QImage frame = read_frame(SNAPSHOT_W, SNAPSHOT_H);
            stamp_attribution(frame, *sim->town);
            if (!writer.add_frame(frame, error)) return false;
        }
        if (tick >= run.ticks) break;
        sim_tick(*sim);
    }
    return writer.close(error);
}
