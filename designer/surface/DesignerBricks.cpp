#include "designer/surface/DesignerBricks.h"

#include "bricks/BrickDateSource.h"
#include "bricks/BrickPlacement.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "bricks/TextBrickPainter.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "platform/ComponentStream.h"
#include "platform/Conversions.h"
#include "platform/PublishedProperties.h"
#include "platform/Rounding.h"

#include <QHash>
#include <QPainter>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

// The names on a surface while many bricks are read in a row, gathered once and kept up to date
// as bricks and markers are added, so that each lookup costs the same however many came before.
struct BrickNameIndex {
    const TDesigner* designer = nullptr;
    QSet<QString> componentsFolded; // component names, case-folded
    QSet<QString> all;              // components and the picture panel's children, case-folded
    QHash<QString, int> nextNumber; // per stem: no lower number is free

    explicit BrickNameIndex(const TDesigner& d) : designer(&d) {
        for (const QWidget* c : d.Components()) {
            componentsFolded.insert(c->objectName().toCaseFolded());
            all.insert(c->objectName().toCaseFolded());
        }
        for (const QObject* c : d.Panel1->children())
            all.insert(c->objectName().toCaseFolded());
    }
};

namespace {

BrickNameIndex* g_loading = nullptr;

BrickNameIndex* indexFor(const TDesigner& designer) {
    return g_loading && g_loading->designer == &designer ? g_loading : nullptr;
}

bool nameTaken(const TDesigner& designer, const QString& name, Qt::CaseSensitivity cs) {
    for (const QWidget* c : designer.Components())
        if (c->objectName().compare(name, cs) == 0)
            return true;
    for (const QObject* c : designer.Panel1->children())
        if (c->objectName().compare(name, cs) == 0)
            return true;
    return false;
}

// The surface's naming rule, also over the tail markers, which are not its components.
QString uniqueNameOf(const TDesigner& designer, const QString& className) {
    const QString stem = className.mid(1);
    if (BrickNameIndex* index = indexFor(designer)) {
        int& i = index->nextNumber[stem];
        for (i = std::max(i, 1);; ++i) {
            const QString name = stem + QString::number(i);
            if (!index->all.contains(name.toCaseFolded())) {
                index->all.insert(name.toCaseFolded());
                return name;
            }
        }
    }
    for (int i = 1;; ++i) {
        const QString name = stem + QString::number(i);
        if (!nameTaken(designer, name, Qt::CaseInsensitive))
            return name;
    }
}

// The tail marker's 10 x 10 picture: a ring with a dot, the rest transparent.
QImage markerPicture() {
    QImage image(10, 10, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(255, 255, 225));
    p.drawEllipse(QRectF(0.5, 0.5, 9, 9));
    p.setBrush(Qt::red);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(3, 3, 4, 4));
    return image;
}

double zoomOf(const TDesigner& designer) {
    return designer.ZoomRatio > 0 ? designer.ZoomRatio : 1.0;
}

// One axis of a bubble laid out around its tail point: the brick starts at the tail or at the
// body, whichever comes first; the body and the tail are then relative to that start.
struct TailAxis {
    int start, bodyStart, bodyEnd, from;
};

TailAxis tailAxis(int tail, int bodyStart, int bodyEnd) {
    if (tail < bodyStart)
        return {tail, bodyStart - tail, bodyEnd - tail, 0};
    return {bodyStart, 0, bodyEnd - bodyStart, tail - bodyStart};
}

} // namespace

static void fullFromScreen(const TDesigner& designer, QWidget* brick);

QWidget* AddBrickFromText(TDesigner& designer, const QString& text) {
    if (text.trimmed().isEmpty())
        return nullptr;
    std::unique_ptr<QWidget> brick(ReadComponentStream(ObjectTextToBinary(text)));
    const QString name = brick->objectName();
    // The toolkit compares component names without regard to case.
    if (!name.isEmpty()) {
        bool taken = false;
        if (const BrickNameIndex* index = indexFor(designer)) {
            taken = index->componentsFolded.contains(name.toCaseFolded());
        } else {
            for (const QWidget* c : designer.Components())
                taken = taken || c->objectName().compare(name, Qt::CaseInsensitive) == 0;
        }
        if (taken)
            throw Exception(QStringLiteral("A component named %1 already exists").arg(name));
    }
    if (BrickNameIndex* index = indexFor(designer)) {
        index->componentsFolded.insert(name.toCaseFolded());
        index->all.insert(name.toCaseFolded());
    }
    brick->setParent(designer.Panel1);
    designer.AddComponent(brick.get());
    brick->show();
    return brick.release();
}

namespace {

// The date and time of a photo file, each read only when a brick asks for it.
class PhotoDateValues {
public:
    explicit PhotoDateValues(QString file) : m_file(std::move(file)) {}
    double date() {
        if (!m_date)
            m_date = NewDateBrickValue(m_file).value;
        return *m_date;
    }
    double time() {
        if (!m_time)
            m_time = NewTimeBrickValue(m_file).value;
        return *m_time;
    }

private:
    QString m_file;
    std::optional<double> m_date, m_time;
};

// A date or time brick takes the photo's value; on a photo it shows that value as the render
// burns it in (without one its caption stays).
void takeDates(QWidget* brick, const QString& photoFile, PhotoDateValues& values) {
    if (auto* date = qobject_cast<TTextDate*>(brick)) {
        date->DateValue = values.date();
        if (!photoFile.isEmpty())
            date->setCaption(DateBrickText(*date));
    } else if (auto* time = qobject_cast<TTextTime*>(brick)) {
        time->DateValue = values.time();
        if (!photoFile.isEmpty())
            time->setCaption(TimeBrickText(*time));
    }
}

} // namespace

void TakePhotoDates(TDesigner& designer, const QString& photoFile) {
    PhotoDateValues values(photoFile);
    for (QWidget* brick : designer.Bricks())
        takeDates(brick, photoFile, values);
}

namespace {

// The full-size geometry from the preview geometry at a zoom ratio.
void fullFromPreview(QWidget* brick, double zoom) {
    if (auto* text = qobject_cast<TText*>(brick)) {
        text->FullLeft = RoundHalfEven(text->Left() * zoom);
        text->FullTop = RoundHalfEven(text->Top() * zoom);
    } else if (auto* picture = qobject_cast<TPictureimg*>(brick)) {
        picture->FullLeft = RoundHalfEven(picture->Left() * zoom);
        picture->FullTop = RoundHalfEven(picture->Top() * zoom);
        picture->FullWidth = RoundHalfEven(picture->Width() * zoom);
        picture->FullHeight = RoundHalfEven(picture->Height() * zoom);
    } else if (auto* marker = qobject_cast<TBubbleFrom*>(brick)) {
        marker->FullLeft = RoundHalfEven(marker->Left() * zoom);
        marker->FullTop = RoundHalfEven(marker->Top() * zoom);
    }
}

} // namespace

void SetUpLoadedBrick(TDesigner& designer, QWidget* brick, double storedZoom) {
    // Positions and sizes as stored are at the pattern's zoom ratio.
    const double zoom = storedZoom > 0 ? storedZoom : zoomOf(designer);
    fullFromPreview(brick, zoom);
    if (auto* text = qobject_cast<TText*>(brick)) {
        // Read off the surface, a date or time brick took no photo's date: its value is the open
        // photo's. With a photo open the brick shows that value as the render burns it in;
        // without one the pattern's caption stays.
        PhotoDateValues values(designer.FileName);
        takeDates(brick, designer.FileName, values);
        // Not measured: the box is the size the pattern stored, at its zoom ratio (a loaded
        // brick is never turned).
        if (!text->AutoSize()) {
            text->FullWidth = RoundHalfEven(text->Width() * zoom);
            text->FullHeight = RoundHalfEven(text->Height() * zoom);
        } else if (!qobject_cast<TTextBubble*>(brick)) {
            // A bubble fits itself below, once it knows its stored size.
            text->FitToText(); // read off the surface, it was measured at zoom 1
        }
    }
    if (auto* bubble = qobject_cast<TTextBubble*>(brick)) {
        // A pattern may keep neither the body rectangle nor the style, and never the marker:
        // the bubble takes the stored ones or those that give back its stored size, the
        // marker is made as for a new one.
        bubble->SetUpLoaded(zoom);
        SetUpBubbleMarker(designer, bubble);
    }
    ShowAtZoom(designer, brick);
}

void UpdateFullGeometry(const TDesigner& designer, QWidget* brick) {
    fullFromScreen(designer, brick);
    // A brick placed from its placing values keeps where the user put it: its margins (and a
    // picture's relative size) are taken from its new place and size.
    if (PlacesItselfOnPhoto(brick)) {
        BrickLayout* layout = LayoutOf(brick);
        *layout = DeriveLayout(BrickDataOf(brick), SurfaceTargetOf(brick), true,
                               qobject_cast<TPictureimg*>(brick) != nullptr);
        PlaceOnItsPhoto(brick);
    }
}

static void fullFromScreen(const TDesigner& designer, QWidget* brick) {
    const double zoom = zoomOf(designer);
    if (auto* text = qobject_cast<TText*>(brick)) {
        text->FullLeft = RoundHalfEven(text->Left() * zoom);
        text->FullTop = RoundHalfEven(text->Top() * zoom);
        if (auto* bubble = qobject_cast<TTextBubble*>(brick)) {
            if (TBubbleFrom* marker = bubble->Marker()) {
                marker->FullLeft = bubble->FullLeft + bubble->FromX();
                marker->FullTop = bubble->FullTop + bubble->FromY();
                marker->SetBounds(bubble->Left() + RoundHalfEven(bubble->FromX() / zoom),
                                  bubble->Top() + RoundHalfEven(bubble->FromY() / zoom),
                                  marker->Width(), marker->Height());
            }
        }
    } else if (auto* picture = qobject_cast<TPictureimg*>(brick)) {
        picture->FullLeft = RoundHalfEven(picture->Left() * zoom);
        picture->FullTop = RoundHalfEven(picture->Top() * zoom);
        picture->FullWidth = RoundHalfEven(picture->Width() * zoom);
        picture->FullHeight = RoundHalfEven(picture->Height() * zoom);
    } else if (auto* marker = qobject_cast<TBubbleFrom*>(brick)) {
        marker->FullLeft = RoundHalfEven(marker->Left() * zoom);
        marker->FullTop = RoundHalfEven(marker->Top() * zoom);
    }
}

void PhotoChanged(TDesigner& designer) {
    designer.UpdatePreview();
    for (QWidget* brick : designer.Bricks())
        ShowAtZoom(designer, brick);
}

void ShowAtZoom(TDesigner& designer, QWidget* brick) {
    if (PlacesItselfOnPhoto(brick)) {
        // Anchored or of a relative size: placed on this photo from its placing values.
        PlaceOnItsPhoto(brick);
        return;
    }
    const double zoom = zoomOf(designer);
    const auto preview = [zoom](int full) { return RoundHalfEven(full / zoom); };
    {
        if (auto* bubble = qobject_cast<TTextBubble*>(brick)) {
            bubble->move(preview(bubble->FullLeft), preview(bubble->FullTop));
            if (bubble->AutoSize())
                bubble->FitToText();
            else
                bubble->resize(preview(bubble->FullWidth), preview(bubble->FullHeight));
            bubble->PlaceMarker(zoom);
        } else if (auto* text = qobject_cast<TText*>(brick)) {
            text->move(preview(text->FullLeft), preview(text->FullTop));
            // An unmeasured box keeps its full size, as the render draws it.
            if (text->AutoSize())
                text->FitToText();
            else
                text->resize(
                    TextBoxSize(preview(text->FullWidth), preview(text->FullHeight), text->Angle));
        } else if (auto* marker = qobject_cast<TBubbleFrom*>(brick)) {
            marker->move(preview(marker->FullLeft), preview(marker->FullTop));
        } else if (auto* picture = qobject_cast<TPictureimg*>(brick)) {
            picture->SetBounds(preview(picture->FullLeft), preview(picture->FullTop),
                               preview(picture->FullWidth), preview(picture->FullHeight));
        }
        // A text brick shows the photo behind it: the new photo, even where nothing moved.
        brick->update();
    }
}

namespace {

enum class FullPart { Left, Top, Width, Height };

std::optional<FullPart> fullPartOf(const QString& name) {
    for (const auto& [text, part] :
         {std::pair{"Left", FullPart::Left}, std::pair{"Top", FullPart::Top},
          std::pair{"Width", FullPart::Width}, std::pair{"Height", FullPart::Height}})
        if (name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0)
            return part;
    return std::nullopt;
}

} // namespace

std::optional<int> FullSizeValue(const QObject* object, const QString& propertyName) {
    const auto* brick = qobject_cast<const QWidget*>(object);
    const std::optional<FullPart> part = fullPartOf(propertyName);
    if (!brick || !part || !DesignerOf(brick) || !IsBrickTag(ComponentTag(brick)))
        return std::nullopt;
    QRect full;
    if (const auto* bubble = qobject_cast<const TTextBubble*>(brick))
        full = QRect(bubble->FullLeft, bubble->FullTop, bubble->FullWidth, bubble->FullHeight);
    else if (const auto* text = qobject_cast<const TText*>(brick))
        full = text->FullBox(text->FullLeft, text->FullTop);
    else if (const auto* picture = qobject_cast<const TPictureimg*>(brick))
        full = QRect(picture->FullLeft, picture->FullTop, picture->FullWidth, picture->FullHeight);
    else if (const auto* marker = qobject_cast<const TBubbleFrom*>(brick)) {
        if (*part == FullPart::Width || *part == FullPart::Height)
            return std::nullopt; // a marker's size is the screen's, not the photo's
        full = QRect(marker->FullLeft, marker->FullTop, 0, 0);
    } else {
        return std::nullopt;
    }
    switch (*part) {
    case FullPart::Left:
        return full.left();
    case FullPart::Top:
        return full.top();
    case FullPart::Width:
        return full.width();
    case FullPart::Height:
        return full.height();
    }
    return std::nullopt;
}

int FullSizeFromText(QObject* brick, const QString& propertyName, const QString& text) {
    try {
        return StrToInt(text.trimmed(), IntSyntax::Stream);
    } catch (const Exception&) {
        // The property's own write fails on it with the reader's message, changing nothing.
        WritePropertyText(brick, propertyName, text);
        throw;
    }
}

bool SetFullSizeValue(QObject* object, const QString& propertyName, int value) {
    if (!FullSizeValue(object, propertyName))
        return false;
    auto* brick = static_cast<QWidget*>(object);
    auto* designer = const_cast<TDesigner*>(DesignerOf(brick));
    const FullPart part = *fullPartOf(propertyName);
    const auto setPart = [part, value](int& left, int& top, int& width, int& height) {
        switch (part) {
        case FullPart::Left:
            left = value;
            break;
        case FullPart::Top:
            top = value;
            break;
        case FullPart::Width:
            width = std::max(0, value);
            break;
        case FullPart::Height:
            height = std::max(0, value);
            break;
        }
    };
    if (auto* text = qobject_cast<TText*>(brick)) {
        // A turned box's size follows from the text; so does an auto-sized one.
        int width = text->FullWidth, height = text->FullHeight;
        setPart(text->FullLeft, text->FullTop, width, height);
        if (!text->AutoSize() && (NormalizedAngle(text->Angle) == 0 ||
                                  qobject_cast<TTextBubble*>(brick))) {
            text->FullWidth = width;
            text->FullHeight = height;
        }
    } else if (auto* picture = qobject_cast<TPictureimg*>(brick)) {
        setPart(picture->FullLeft, picture->FullTop, picture->FullWidth, picture->FullHeight);
    } else if (auto* marker = qobject_cast<TBubbleFrom*>(brick)) {
        int width = 0, height = 0;
        setPart(marker->FullLeft, marker->FullTop, width, height);
        const double zoom = zoomOf(*designer);
        marker->move(RoundHalfEven(marker->FullLeft / zoom), RoundHalfEven(marker->FullTop / zoom));
        TailMarkerMoved(*designer, marker);
        return true;
    }
    // Put there by hand: its placing values follow, so that it stays there.
    if (PlacesItselfOnPhoto(brick))
        *LayoutOf(brick) = DeriveLayout(BrickDataOf(brick), SurfaceTargetOf(brick), true,
                                        part == FullPart::Width || part == FullPart::Height);
    ShowAtZoom(*designer, brick);
    return true;
}

namespace {

// A brick's full-size box: its corner and what the render covers.
QRect fullBoxOf(const QWidget* brick) {
    if (const auto* bubble = qobject_cast<const TTextBubble*>(brick))
        return QRect(bubble->FullLeft, bubble->FullTop, bubble->FullWidth, bubble->FullHeight);
    if (const auto* text = qobject_cast<const TText*>(brick))
        return text->FullBox(text->FullLeft, text->FullTop);
    if (const auto* picture = qobject_cast<const TPictureimg*>(brick))
        return QRect(picture->FullLeft, picture->FullTop, picture->FullWidth, picture->FullHeight);
    return {};
}

void moveFullCorner(QWidget* brick, QPoint corner) {
    if (auto* text = qobject_cast<TText*>(brick)) {
        text->FullLeft = corner.x();
        text->FullTop = corner.y();
    } else if (auto* picture = qobject_cast<TPictureimg*>(brick)) {
        picture->FullLeft = corner.x();
        picture->FullTop = corner.y();
    }
}

// A box turned with the photo by a quarter turn: its centre goes where that point of the photo
// went, the box itself stays upright. Halves round down one way and up the other, so that a turn
// and the turn back give the place back exactly.
QPoint turnedCorner(const QRect& box, const QSize& photo, bool clockwise) {
    const double w = box.width(), h = box.height();
    if (clockwise)
        return QPoint(int(std::floor(photo.height() - box.y() - (w + h) / 2)),
                      int(std::floor(box.x() + (w - h) / 2)));
    return QPoint(int(std::ceil(box.y() - (w - h) / 2)),
                  int(std::floor(photo.width() - box.x() - (w + h) / 2)));
}

void scaleBrick(QWidget* brick, double fx, double fy, bool keepsSize) {
    const auto sx = [fx](int v) { return RoundHalfEven(v * fx); };
    const auto sy = [fy](int v) { return RoundHalfEven(v * fy); };
    const double f = std::min(fx, fy);
    const auto s = [f](int v) { return RoundHalfEven(v * f); };
    if (auto* picture = qobject_cast<TPictureimg*>(brick)) {
        picture->FullLeft = sx(picture->FullLeft);
        picture->FullTop = sy(picture->FullTop);
        if (!keepsSize) {
            picture->FullWidth = std::max(1, sx(picture->FullWidth));
            picture->FullHeight = std::max(1, sy(picture->FullHeight));
        }
        return;
    }
    auto* text = qobject_cast<TText*>(brick);
    if (!text)
        return;
    text->FullLeft = sx(text->FullLeft);
    text->FullTop = sy(text->FullTop);
    if (keepsSize)
        return;
    if (auto* bubble = qobject_cast<TTextBubble*>(brick)) {
        bubble->setFromX(s(bubble->FromX()));
        bubble->setFromY(s(bubble->FromY()));
        const TTextBubble::BodyRect body = bubble->Body;
        bubble->Body = {s(body.left), s(body.top), s(body.left) + s(body.width()),
                        s(body.top) + s(body.height())};
    }
    if (!text->AutoSize()) {
        text->FullWidth = s(text->FullWidth);
        text->FullHeight = s(text->FullHeight);
    }
    const int height = text->Font()->Height();
    const int scaled = s(height);
    // The font follows last: it measures the brick again.
    text->Font()->setHeight(scaled != 0 ? scaled : (height < 0 ? -1 : 1));
}

} // namespace

void FollowPhoto(TDesigner& designer, const PhotoFollow& follow) {
    if (!follow.from.isValid() || follow.from.isEmpty())
        return;
    const int turns = ((follow.quarterTurns % 4) + 4) % 4;
    for (QWidget* brick : designer.Bricks()) {
        const BrickLayout* layout = LayoutOf(brick);
        if (!layout)
            continue; // a tail marker goes with its bubble
        if (layout->anchored())
            continue; // placed on the new photo from its margins
        if (turns != 0) {
            QRect box = fullBoxOf(brick);
            QSize photo = follow.from;
            for (int i = 0; i < (turns == 3 ? 1 : turns); ++i) {
                box.moveTopLeft(turnedCorner(box, photo, turns != 3));
                photo.transpose();
            }
            // A wide caption near a long edge would stick out of the turned photo: it is kept
            // whole, pushed in from the edges it crosses.
            if (box.width() <= photo.width())
                box.moveLeft(std::clamp(box.x(), 0, photo.width() - box.width()));
            if (box.height() <= photo.height())
                box.moveTop(std::clamp(box.y(), 0, photo.height() - box.height()));
            moveFullCorner(brick, box.topLeft());
        } else if (follow.to.isValid() && follow.to != follow.from) {
            scaleBrick(brick, double(follow.to.width()) / follow.from.width(),
                       double(follow.to.height()) / follow.from.height(), layout->relative());
        }
    }
}

void TailMarkerMoved(const TDesigner& designer, QWidget* widget) {
    auto* marker = qobject_cast<TBubbleFrom*>(widget);
    if (!marker)
        return;
    UpdateFullGeometry(designer, marker);
    TTextBubble* bubble = marker->Bubble();
    if (!bubble)
        return;
    const double zoom = zoomOf(designer);
    const int mx = RoundHalfEven(zoom * marker->Left());
    const int my = RoundHalfEven(zoom * marker->Top());
    auto& body = bubble->Body;
    const TailAxis x = tailAxis(mx, bubble->FullLeft + body.left, bubble->FullLeft + body.right);
    const TailAxis y = tailAxis(my, bubble->FullTop + body.top, bubble->FullTop + body.bottom);
    bubble->FullLeft = x.start;
    bubble->FullTop = y.start;
    body.left = x.bodyStart;
    body.right = x.bodyEnd;
    body.top = y.bodyStart;
    body.bottom = y.bodyEnd;
    bubble->setFromX(x.from);
    bubble->setFromY(y.from);
    const int left = RoundHalfEven(x.start / zoom);
    const int top = RoundHalfEven(y.start / zoom);
    bubble->SetBounds(left, top, bubble->Width(), bubble->Height());
    bubble->FitToText();
    bubble->update();
}

void SetUpNewBubble(TDesigner& designer, QWidget* widget) {
    auto* bubble = qobject_cast<TTextBubble*>(widget);
    if (!bubble)
        return;
    const double zoom = zoomOf(designer);
    bubble->SetUpFromSize(zoom);
    bubble->setFromX(RoundHalfEven(bubble->Width() * zoom * 1.2));
    bubble->setFromY(RoundHalfEven(bubble->Height() * zoom * 1.5));
    bubble->Style = 1;
    SetUpBubbleMarker(designer, bubble);
}

void SetUpBubbleMarker(TDesigner& designer, QWidget* widget) {
    auto* bubble = qobject_cast<TTextBubble*>(widget);
    TBubbleFrom* marker = bubble ? bubble->Marker() : nullptr;
    if (!marker)
        return;
    marker->setParent(designer.Panel1);
    marker->setTag(bubble->Tag());
    marker->Picture()->setGraphic({QStringLiteral("TBitmap"), {}, markerPicture()});
    if (marker->objectName().isEmpty())
        marker->setName(uniqueNameOf(designer, QStringLiteral("TBubbleFrom")));
    bubble->PlaceMarker(zoomOf(designer));
    marker->show();
}

QString UniqueBrickName(const TDesigner& designer, const QString& className) {
    return uniqueNameOf(designer, className);
}

void ClearBricks(TDesigner& designer) {
    for (QWidget* brick : designer.Bricks()) {
        designer.RemoveComponent(brick);
        delete brick;
    }
}

BrickLoadSession::BrickLoadSession(TDesigner& designer)
    : m_index(std::make_unique<BrickNameIndex>(designer)), m_previous(g_loading) {
    g_loading = m_index.get();
}

BrickLoadSession::~BrickLoadSession() {
    g_loading = m_previous;
}
