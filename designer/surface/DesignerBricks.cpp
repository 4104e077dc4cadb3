#include "designer/surface/DesignerBricks.h"

#include "bricks/BrickDateSource.h"
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
#include "platform/Rounding.h"

#include <QHash>
#include <QPainter>
#include <QSet>
#include <algorithm>
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

void SetUpLoadedBrick(TDesigner& designer, QWidget* brick) {
    const double zoom = zoomOf(designer);
    UpdateFullGeometry(designer, brick);
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
    auto* bubble = qobject_cast<TTextBubble*>(brick);
    if (!bubble)
        return;
    // A pattern keeps neither the body rectangle, the style nor the marker: the bubble takes
    // the body and style that give back its stored size, the marker is made as for a new one.
    bubble->SetUpLoaded(zoom);
    SetUpBubbleMarker(designer, bubble);
}

void UpdateFullGeometry(const TDesigner& designer, QWidget* brick) {
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
    const double zoom = zoomOf(designer);
    const auto preview = [zoom](int full) { return RoundHalfEven(full / zoom); };
    for (QWidget* brick : designer.Bricks()) {
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
