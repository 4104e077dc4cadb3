#include "app/cli/RenderCommand.h"

#include "batch/core/TBatchJob.h"
#include "bricks/BrickFields.h"
#include "bricks/TText.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/state/TDesigner.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/ColorProfiles.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegBands.h"
#include "imaging/core/PhotoMetadata.h"
#include "imaging/core/PictureLoader.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/file/PatternFile.h"
#include "patterns/settings/CaptionFields.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/ImageBuffer.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onRenderInterrupt(int) {
    g_interrupted = true;
}

const QCommandLineOption OutputOption(QStringLiteral("output"), QString(), QStringLiteral("NAME"));
const QCommandLineOption JobsOption(QStringLiteral("jobs"), QString(), QStringLiteral("N"));

// The source's bytes and EXIF record when it can be written from its own compressed data; empty
// bytes when it is to be decoded as usual.
QByteArray keptSource(const QString& image, TExif& exif, bool autoRotate) {
    QByteArray bytes = ReadFileBytes(image);
    try {
        exif.LoadFromBytes(bytes);
    } catch (const Exception&) {
        exif = TExif();
    }
    if (!KeepQualityRefusal(bytes).isEmpty() || KeepQualityTurnsPhoto(exif, autoRotate))
        return {};
    return bytes;
}

void readPatternFor(TDesigner& designer, const QString& pattern,
                    const std::optional<double>& zoom) {
    ClearBricks(designer);
    try {
        ReadPattern(pattern, designer, {.override = zoom, .whenAbsent = 1.0});
    } catch (const Exception& e) {
        if (e.message().contains(pattern))
            throw;
        throw Exception(QStringLiteral("pattern \"%1\": %2").arg(pattern, e.message()));
    }
}


QString messageOf(const std::exception& e) {
    if (const auto* ours = dynamic_cast<const Exception*>(&e))
        return ours->message();
    return QString::fromLocal8Bit(e.what());
}

// The file an image name is, so that one photo named twice is told apart from two photos.
QString identityOf(const QString& image) {
    const QFileInfo info(image);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// One image of a render on its way through the workers: a worker fills the load fields and the
// bytes, the calling thread the rest; each side reads the other's fields only after seeing the
// state it set under the lock.
struct ImageWork {
    enum State { Queued, Loaded, Encoding, Done };
    QString image;
    State state = Queued;
    int kept = -1;       // captioned from its own compressed data: the index of its result
    bool serial = false; // rendered as one image after another at its turn (see below)
    // A JPEG written band by band, never decoded whole: its compressed data and size, and the
    // bricks placed on it.
    bool stream = false;
    QByteArray source;
    QSize size;
    std::shared_ptr<TPlacedBricks> bricks;
    QString loadError;   // the output name refused, or the image not read
    LoadedPhoto photo;
    TPhotoFields fields;
    bool noPicture = false;
    QString formatError; // its format cannot be written
    RenderPrelude prelude;
    std::shared_ptr<const TSrgbToPhoto> colours;
    PreparedPicture picture;
    QString patternError;
    QString dateNotice;
    bool skip = false;       // no date taken, and DateFallback=skip: not written
    QString renderError;     // drawing or encoding failed
    QStringList notices;     // about the metadata carried
    QByteArray bytes;
    bool committed = false; // written and reported
};

// What the workers read of the settings, taken on the calling thread.
struct RenderSettings {
    bool autoRotate = true;
    int quality = 95;
};

// Everything before the bricks, on a worker: the checks RenderAndSave makes first, the decode,
// the photo's fields and the picture readied for drawing.
void loadImage(ImageWork& w, const QString& output, const RenderOptions& ro,
               const RenderSettings& s) {
    try {
        if (!output.isEmpty())
            if (const QString refusal = OutputNameRefusal(w.image, output); !refusal.isEmpty())
                throw Exception(refusal);
        // Nothing needs the whole picture of an upright JPEG written as JPEG: it is decoded,
        // captioned and encoded band by band.
        QByteArray bytes = ReadFileBytes(w.image);
        if (DetectImageType(bytes) == ImageFileType::Jpeg) {
            TExif exif;
            QString exifError;
            try {
                exif.LoadFromBytes(bytes);
            } catch (const Exception& e) {
                exifError = e.message();
            }
            const QSize size = JpegBandsSize(bytes);
            if (!KeepQualityTurnsPhoto(exif, s.autoRotate) && StreamsInBands(bytes, size)) {
                try {
                    const RenderPrelude prelude = PrepareRender(w.image, size, false, ro, &bytes);
                    if (prelude.kind == ImageFileType::Jpeg && !prelude.recaptions &&
                        WrittenFormat(w.image) == ImageFileType::Jpeg) {
                        w.stream = true;
                        w.prelude = prelude;
                        w.size = size;
                        w.photo.exif = std::move(exif);
                        w.photo.exifError = exifError;
                        w.photo.metadata = ReadPhotoMetadata(bytes);
                        w.colours = TSrgbToPhoto::ForProfile(w.photo.metadata.iccProfile);
                        // The fields from the bytes in hand: the file is not read twice.
                        w.fields = PhotoFieldsOf(w.image, bytes,
                                                 w.photo.exifError.isEmpty() ? &w.photo.exif
                                                                             : nullptr,
                                                 1);
                        w.source = std::move(bytes);
                        return;
                    }
                } catch (const Exception&) {
                    // Decoded whole, which tells the failure in its turn.
                }
            }
        }
        bytes = QByteArray();
        w.photo = LoadPhotoFileReduced(w.image, s.autoRotate, {});
        w.fields = ReadPhotoFields(w.image, 1);
    } catch (const std::exception& e) {
        w.loadError = messageOf(e);
        return;
    }
    if (w.photo.picture.isNull()) {
        w.noPicture = true; // "There is no picture to save.", in its turn
        return;
    }
    try {
        w.prelude = PrepareRender(w.image, w.photo.picture.size(), false, ro);
        if (w.prelude.recaptions) {
            // Written from its own compressed data by the surface, as a single save is.
            w.serial = true;
            w.photo = LoadedPhoto();
            return;
        }
        w.colours = TSrgbToPhoto::ForProfile(w.photo.metadata.iccProfile);
        const QSize size = w.photo.picture.size();
        w.picture = PreparePicture(std::move(w.photo.picture), size, w.image, {});
    } catch (const std::exception& e) {
        w.formatError = messageOf(e);
    }
}

int renderCommand(CliContext& c) {
    // One image's buffers are handed on to the next.
    const BufferReuse reuse;
    const PatternOptions p = PatternOptions::read(c.options);
    SetRunClockShift(p.shiftTime);
    struct ShiftReset {
        ~ShiftReset() { SetRunClockShift(std::nullopt); }
    } shiftReset;
    const QString& pattern = p.pattern;
    const std::optional<double>& zoom = p.zoom;
    const QStringList outputs = c.options.values(OutputOption);
    const QString output = outputs.isEmpty() ? QString() : outputs.last();
    const QStringList& images = c.args;
    const bool keepQuality = p.keepQuality || Settings().KeepPhotoQuality;
    int jobs = 0;
    for (const QString& v : c.options.values(JobsOption)) {
        bool ok = false;
        jobs = v.toInt(&ok);
        if (!ok || jobs < 0 || jobs > 64)
            throw CliUsageError(
                QStringLiteral("--jobs wants a whole number from 0 to 64, not '%1'").arg(v));
    }
    if (c.options.values(JobsOption).isEmpty())
        jobs = Settings().BatchJobs;
    if (jobs <= 0)
        jobs = std::max(1, QThread::idealThreadCount());
    if (pattern.isEmpty())
        throw CliUsageError(QStringLiteral("missing --pattern"));
    if (images.isEmpty())
        throw CliUsageError(QStringLiteral("missing image"));
    if (!output.isEmpty() && images.size() > 1)
        throw CliUsageError(QStringLiteral("--output takes one image only"));

    // Ctrl+C lets the image in hand be written whole, then stops, as the batch does.
    struct SignalReset {
        ~SignalReset() { std::signal(SIGINT, SIG_DFL); }
    } reset;
    g_interrupted = false;
    std::signal(SIGINT, onRenderInterrupt);

    RenderSettings settings;
    settings.autoRotate = Settings().AutoRotate;
    settings.quality = Settings().defaultCompressionQuality;
    const RenderOptions ro{.newName = output, .keepQuality = keepQuality};

    TDesigner designer;
    bool failed = false;
    int handled = 0;
    auto report = [&](const QString& image, const QString& error) {
        ++handled;
        if (error.isEmpty()) {
            c.out << image << " -> " << RenderOutputPath(image, output.isEmpty() ? image : output)
                  << '\n';
        } else {
            c.err << "captiomark-cli: " << image << ": " << error << '\n';
            failed = true;
        }
    };
    // One image after another on the surface, as a single save: for an image named again
    // (it is read once the first one is written) and one the surface writes from its own data.
    auto renderAlone = [&](const QString& image) {
        try {
            if (!output.isEmpty())
                if (const QString refusal = OutputNameRefusal(image, output); !refusal.isEmpty())
                    throw Exception(refusal);
            designer.OpenImage(image, 1.0);
            readPatternFor(designer, pattern, zoom);
            // A photo without a date taken is named, with what dates it instead.
            if (PatternShowsDate(designer.Bricks()) && !designer.Fields.dated.hasDate) {
                c.out << designer.Fields.dated.notice << '\n';
                if (designer.Fields.dated.skip) {
                    ++handled;
                    return;
                }
            }
            RenderAndSave(designer, image,
                          {.newName = output,
                           .keepQuality = keepQuality,
                           .onNotice = [&c](const QString& text) { c.out << text << '\n'; }});
            report(image, {});
        } catch (const Exception& e) {
            report(image, e.message());
        }
    };
    // The bricks are widgets: the pattern is read and drawn here, on the calling thread, into
    // the picture a worker decoded.
    auto draw = [&](ImageWork& w) {
        // The picture readied for drawing, or as it was read when its format cannot be written.
        const QImage& picture = w.picture.image.isNull() ? w.photo.picture : w.picture.image;
        // The surface holds the photo as a single save has it; a view of the pixels, so that
        // drawing into them makes no copy. A streamed photo is not held: only its size is.
        designer.realPicture = w.stream ? QImage()
                                        : QImage(picture.constBits(), picture.width(),
                                                 picture.height(), picture.bytesPerLine(),
                                                 picture.format());
        designer.StreamedPhotoSize = w.stream ? w.size : QSize();
        designer.realExif = w.photo.exif;
        designer.realMetadata = w.photo.metadata;
        designer.PictureEdited = false;
        designer.Fields = w.fields;
        designer.FileName = w.image;
        designer.ZoomRatio = 1.0;
        struct PictureReset {
            TDesigner& d;
            ~PictureReset() {
                d.realPicture = QImage();
                d.StreamedPhotoSize = QSize();
            }
        } pictureReset{designer};
        try {
            readPatternFor(designer, pattern, zoom);
        } catch (const Exception& e) {
            w.patternError = e.message();
            return false;
        }
        if (PatternShowsDate(designer.Bricks()) && !designer.Fields.dated.hasDate) {
            w.dateNotice = designer.Fields.dated.notice;
            if (designer.Fields.dated.skip) {
                w.skip = true;
                return false;
            }
        }
        if (w.stream) {
            try {
                w.bricks = std::make_shared<TPlacedBricks>(designer, w.image, false, w.size, 1.0,
                                                          1.0, &w.source);
            } catch (const std::exception& e) {
                w.renderError = messageOf(e);
                return false;
            }
            return true;
        }
        if (!w.formatError.isEmpty() || w.picture.image.isNull())
            return false;
        try {
            DrawBricks(w.picture.image, designer, w.image, false, 1.0, 1.0, {}, {},
                       w.colours.get());
        } catch (const std::exception& e) {
            w.renderError = messageOf(e);
            return false;
        }
        return true;
    };
    // Written and reported in the images' order, with the messages a save of each gives.
    auto commit = [&](ImageWork& w, const QList<QByteArray>& keptBytes,
                      const QList<QString>& keptErrors, const QList<QStringList>& keptNotices) {
        if (w.committed)
            return;
        w.committed = true;
        const QString& image = w.image;
        if (w.serial) {
            renderAlone(image);
            return;
        }
        try {
            if (w.kept >= 0) {
                if (!output.isEmpty())
                    if (const QString refusal = OutputNameRefusal(image, output);
                        !refusal.isEmpty())
                        throw Exception(refusal);
                if (!w.dateNotice.isEmpty())
                    c.out << w.dateNotice << '\n';
                if (w.skip) {
                    ++handled;
                    return;
                }
                if (!keptErrors[w.kept].isEmpty())
                    throw Exception(keptErrors[w.kept]);
                for (const QString& notice : keptNotices[w.kept])
                    c.out << notice << '\n';
                WriteRendered(image, output, keptBytes[w.kept]);
                report(image, {});
                return;
            }
            if (!w.loadError.isEmpty())
                throw Exception(w.loadError);
            if (!w.patternError.isEmpty())
                throw Exception(w.patternError);
            if (!w.dateNotice.isEmpty())
                c.out << w.dateNotice << '\n';
            if (w.skip) {
                ++handled;
                return;
            }
            CheckOutputName(image, RenderOutputPath(image, output), false);
            if (w.noPicture)
                throw Exception(QStringLiteral("There is no picture to save."));
            if (!w.formatError.isEmpty())
                throw Exception(w.formatError);
            for (const QString& notice : w.prelude.notices)
                c.out << notice << '\n';
            if (!w.renderError.isEmpty())
                throw Exception(w.renderError);
            for (const QString& notice : w.notices)
                c.out << notice << '\n';
            WriteRendered(image, output, w.bytes);
            report(image, {});
        } catch (const Exception& e) {
            report(image, e.message());
        }
    };

    // With --keep-quality the JPEGs that can keep their data are captioned a few at a time on
    // every core, and never decoded whole: only the blocks under the bricks are. The bricks'
    // places do not depend on the picture, so the pattern is read once for them. The other
    // images are decoded and encoded on the workers, their bricks drawn here. Lines and writes
    // keep the images' order.
    const qsizetype chunkSize = keepQuality ? 8 : images.size();
    // A caption band makes the picture taller than the photo: such a pattern is rendered one
    // image after another on the surface.
    bool banded = false;
    try {
        readPatternFor(designer, pattern, zoom);
        banded = designer.Band.on;
    } catch (const Exception&) {
        // Reported for each image in its turn.
    }
    QSet<QString> seen;
    for (qsizetype first = 0; first < images.size() && !g_interrupted; first += chunkSize) {
        const QStringList chunk = images.mid(first, chunkSize);
        std::vector<std::unique_ptr<ImageWork>> works;
        for (const QString& image : chunk) {
            auto w = std::make_unique<ImageWork>();
            w->image = image;
            const QString identity = identityOf(image);
            // Named again: read once the first one is written.
            w->serial = banded || seen.contains(identity);
            seen.insert(identity);
            works.push_back(std::move(w));
        }
        QList<QString> keptFiles;
        QList<QByteArray> kept;
        QList<TExif> exifs;
        if (keepQuality) {
            // The files are read and looked at on every core: for large photos that is a good
            // part of a caption kept in place, and no worker starts before it.
            struct Source {
                QByteArray bytes;
                TExif exif;
            };
            std::vector<Source> sources(works.size());
            std::atomic<size_t> nextSource{0};
            const auto readSources = [&] {
                for (size_t i; (i = nextSource++) < works.size();) {
                    if (works[i]->serial)
                        continue;
                    try {
                        sources[i].bytes =
                            keptSource(works[i]->image, sources[i].exif, settings.autoRotate);
                    } catch (...) {
                        // Reported by the usual path below.
                        sources[i] = Source();
                    }
                }
            };
            std::vector<std::thread> readers;
            try {
                for (int t = 1; t < std::min(jobs, int(works.size())); ++t)
                    readers.emplace_back(readSources);
            } catch (const std::system_error&) {
                // Fewer readers: this thread reads what they do not.
            }
            readSources();
            for (std::thread& t : readers)
                t.join();
            for (size_t i = 0; i < works.size(); ++i) {
                if (sources[i].bytes.isEmpty())
                    continue;
                works[i]->kept = int(keptFiles.size());
                keptFiles.append(works[i]->image);
                kept.append(std::move(sources[i].bytes));
                exifs.append(std::move(sources[i].exif));
            }
        }
        QList<QByteArray> keptBytes(kept.size());
        QList<QString> keptErrors(kept.size());
        QList<QStringList> keptNotices(kept.size());
        if (!kept.isEmpty()) {
            try {
                designer.realPicture = QImage();
                designer.realExif = TExif();
                designer.realMetadata = TPhotoMetadata();
                designer.ZoomRatio = 1.0;
                readPatternFor(designer, pattern, zoom);
                if (designer.Band.on)
                    throw Exception(BandRefusal()); // each image takes the usual path
                // A photo without a date taken is named as on the usual path, and with
                // DateFallback=skip left unwritten.
                if (PatternShowsDate(designer.Bricks()))
                    for (auto& w : works) {
                        if (w->kept < 0)
                            continue;
                        const TDatedPhoto dated = DatePhoto(w->image, &exifs[w->kept]);
                        if (dated.hasDate)
                            continue;
                        w->dateNotice = dated.notice;
                        w->skip = dated.skip;
                    }
                // Each result is written as it comes while the images before it are written
                // already, on a thread of its own: the writes and their flushes to the disk
                // overlap the captions still being made, and this thread stays free to draw
                // the bricks the workers wait for. Lines keep the images' order.
                struct EarlyWrites {
                    std::mutex lock;
                    std::condition_variable changed;
                    bool over = false;
                    std::thread thread;
                    ~EarlyWrites() {
                        {
                            std::lock_guard<std::mutex> guard(lock);
                            over = true;
                        }
                        changed.notify_all();
                        if (thread.joinable())
                            thread.join();
                    }
                } writes;
                size_t early = 0;
                // Under writes.lock: whether the image at i is captioned and may be written.
                const auto ready = [&](size_t i) {
                    return i < works.size() && works[i]->kept >= 0 && !works[i]->serial &&
                           (!keptBytes[works[i]->kept].isEmpty() ||
                            !keptErrors[works[i]->kept].isEmpty());
                };
                writes.thread = std::thread([&] {
                    std::unique_lock<std::mutex> guard(writes.lock);
                    for (;;) {
                        writes.changed.wait(guard, [&] { return writes.over || ready(early); });
                        while (ready(early) && !g_interrupted) {
                            ImageWork& w = *works[early];
                            guard.unlock();
                            try {
                                commit(w, keptBytes, keptErrors, keptNotices);
                            } catch (const std::exception& e) {
                                report(w.image, messageOf(e));
                            }
                            guard.lock();
                            GiveBackBytes(std::move(keptBytes[w.kept]));
                            ++early;
                        }
                        if (writes.over || g_interrupted)
                            return;
                    }
                });
                RecaptionBricksMany(keptFiles, kept, exifs, designer, jobs,
                                    [&](int i, QByteArray bytes, const QString& error) {
                                        {
                                            std::lock_guard<std::mutex> guard(writes.lock);
                                            keptBytes[i] = std::move(bytes);
                                            keptErrors[i] = error;
                                        }
                                        writes.changed.notify_all();
                                    },
                                    [&](int i, const QString& notice) {
                                        std::lock_guard<std::mutex> guard(writes.lock);
                                        keptNotices[i] << notice;
                                    });
            } catch (const Exception&) {
                // The pattern: reported for each image by the usual path.
                for (auto& w : works) {
                    w->kept = -1;
                    w->dateNotice.clear();
                    w->skip = false;
                }
            }
            for (QByteArray& source : kept)
                GiveBackBytes(std::move(source));
            kept.clear();
        }

        const int n = int(works.size());
        for (auto& w : works)
            if (w->serial || w->kept >= 0)
                w->state = ImageWork::Done;
        // Two images per worker at most are between their decode and their write.
        // One worker or one image: all on this thread, one image at a time, no thread started.
        const bool inline_ = jobs == 1 || n == 1;
        const int window = inline_ ? 1 : 2 * jobs;
        std::mutex lock;
        std::condition_variable changed;
        std::deque<TBandForBricks*> bands; // bands waiting for their bricks
        auto moveOn = [&](ImageWork& w, ImageWork::State state) {
            {
                std::lock_guard<std::mutex> guard(lock);
                w.state = state;
            }
            changed.notify_all();
        };
        // Declared last, so that it goes first and waits for its workers while what they use
        // lives.
        QThreadPool pool;
        pool.setMaxThreadCount(jobs);
        auto launch = [&pool, inline_](std::function<void()> job) {
            if (inline_)
                job();
            else
                pool.start(std::move(job));
        };
        int next = 0, drawn = 0, committed = 0;
        while (committed < n && !g_interrupted) {
            for (; next < n && next - committed < window; ++next) {
                ImageWork* w = works[size_t(next)].get();
                if (w->state == ImageWork::Done)
                    continue;
                launch([w, &output, &ro, settings, &moveOn] {
                    loadImage(*w, output, ro, settings);
                    moveOn(*w, ImageWork::Loaded);
                });
            }
            // The next image to draw: loaded, or done with before its bricks.
            auto drawable = [&] {
                return drawn < next && (works[size_t(drawn)]->state == ImageWork::Loaded ||
                                        works[size_t(drawn)]->state == ImageWork::Done);
            };
            bool ready = false;
            TBandForBricks* band = nullptr;
            {
                std::unique_lock<std::mutex> guard(lock);
                // Woken now and then to see an interrupt.
                changed.wait_for(guard, std::chrono::milliseconds(50), [&] {
                    ready = committed < drawn &&
                            works[size_t(committed)]->state == ImageWork::Done;
                    return !bands.empty() || ready || drawable();
                });
                if (!bands.empty()) {
                    band = bands.front();
                    bands.pop_front();
                }
            }
            if (band) {
                // A worker waits for the bricks of its band.
                DrawHandedBand(*band, lock, changed);
                continue;
            }
            if (ready) {
                ImageWork& w = *works[size_t(committed++)];
                commit(w, keptBytes, keptErrors, keptNotices);
                GiveBackBytes(std::move(w.bytes));
                if (w.kept >= 0)
                    GiveBackBytes(std::move(keptBytes[w.kept]));
                continue;
            }
            bool drawNow = false;
            {
                std::lock_guard<std::mutex> guard(lock);
                drawNow = drawable();
            }
            if (!drawNow)
                continue;
            ImageWork& w = *works[size_t(drawn++)];
            if (w.state == ImageWork::Done)
                continue;
            if (w.serial || !w.loadError.isEmpty() || !draw(w)) {
                w.picture = PreparedPicture();
                w.state = ImageWork::Done;
                continue;
            }
            w.state = ImageWork::Encoding;
            ImageWork* work = &w;
            if (w.stream) {
                launch([work, settings, inline_, &moveOn, &lock, &changed, &bands] {
                    // Only the bands the bricks cross wait for this thread to draw them.
                    auto paint = [&](QImage& image, int top) {
                        if (!inline_) {
                            HandBandToBricks(*work->bricks, work->colours.get(), image, top,
                                             bands, lock, changed);
                        } else if (work->bricks->Touches(
                                       QRect(0, top, image.width(), image.height()))) {
                            work->bricks->Draw(image, QPoint(0, top), work->colours.get());
                        }
                    };
                    try {
                        work->bytes =
                            StreamPicture(std::move(work->source), work->image, settings.quality,
                                          work->photo.exif, work->photo.metadata, paint,
                                          &work->notices);
                    } catch (const EPictureUnreadable& e) {
                        work->loadError = e.message();
                    } catch (const std::exception& e) {
                        work->renderError = messageOf(e);
                    }
                    work->source = QByteArray();
                    moveOn(*work, ImageWork::Done);
                });
                continue;
            }
            launch([work, settings, &moveOn] {
                try {
                    work->bytes = EncodePicture(work->picture.image, work->image, settings.quality,
                                                work->photo.exif, work->photo.metadata,
                                                &work->notices);
                } catch (const std::exception& e) {
                    work->renderError = messageOf(e);
                }
                work->picture = PreparedPicture();
                moveOn(*work, ImageWork::Done);
            });
        }
        // Those not started are dropped; the ones in hand finish before their data goes (a band
        // still waiting is let go undrawn: its image is not written).
        pool.clear();
        while (!pool.waitForDone(20)) {
            ReleaseWaitingBands(bands, lock, changed);
        }
    }
    ClearBricks(designer);
    if (g_interrupted) {
        c.out << CancelledMessage(handled, int(images.size())) << '\n';
        return CliFailed;
    }
    return failed ? CliFailed : CliOk;
}

} // namespace

CliCommand RenderCliCommand() {
    return {QStringLiteral("render"),
            QStringLiteral("--pattern FILE.xml [--zoom R] [--output NAME] [--keep-quality] [--shift-time "
                           "SHIFT] [--jobs N] IMAGE..."),
            QStringLiteral("burn a pattern file into images"),
            QStringLiteral(
                "Reads the pattern onto each image, its brick positions taken at the zoom "
                "ratio the\npattern stores (full-size pixels per preview pixel; 1 when it stores "
                "none), or at R\nwith --zoom, and writes the image with the pattern burnt in, in "
                "its own format with its EXIF block.\nImages are JPEG, PNG and TIFF (8 or 16 bits a "
                "channel, written at the same depth), GIF, BMP,\nWebP (lossless ones stay "
                "lossless), HEIC/HEIF and AVIF, told by their content.\nWithout --output the "
                "image is replaced in place, the "
                "original kept as IMAGE.bak (an\nexisting .bak stays as it is); --output NAME (one "
                "image only) writes beside it, or to\nNAME's folder, with the image's extension; "
                "an existing NAME, a symbolic link or a name\nof another format is refused. The "
                "image's name holds the old or the new picture at\nevery instant. A failing image "
                "is reported and the next one follows; the exit code is\nthen 1. Ctrl+C stops "
                "after the image in hand.\n--keep-quality (or the "
                "KeepPhotoQuality setting) writes a JPEG from its own compressed data,\nencoding "
                "only the blocks under the bricks again; a progressive, arithmetic-coded or CMYK\n"
                "JPEG is re-encoded instead, with a notice.\n--shift-time [+|-][D ]HH:MM[:SS] "
                "corrects the camera clock: every date and time read from\nthe images is moved "
                "by it (the files' EXIF keeps the recorded time).\nImages are decoded and encoded on --jobs N "
                "worker threads (default: the BatchJobs setting,\n0 = one per core); the lines "
                "and the files written keep the images' order."),
            renderCommand,
            true,
            PatternOptions::options() << OutputOption << JobsOption};
}
