#include "designer/surface/DesignSurface.h"

#include "bricks/BrickPlacement.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/handles/TStretchHandle.h"
#include "designer/state/HiddenProperties.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignerBricks.h"
#include "patterns/settings/TSettings.h"
#include "platform/ComponentStream.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "platform/TControl.h"
#include "platform/TFont.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QRubberBand>
#include <QSet>
#include <QDataStream>
#include <QUndoCommand>
#include <QUndoStack>
#include <algorithm>
#include <optional>

namespace {

const QString kTypeText = QStringLiteral("Type text here");

enum CommandId { kNudgeId = 1 };

TControl* controlOf(QWidget* w) {
    return qobject_cast<TControl*>(w);
}

// The bubble a tail marker belongs to, else the widget itself.
QWidget* brickProper(QWidget* w) {
    if (auto* marker = qobject_cast<TBubbleFrom*>(w))
        if (marker->Bubble())
            return marker->Bubble();
    return w;
}

QList<QPointer<QWidget>> stackingOf(const QWidget* parent) {
    QList<QPointer<QWidget>> out;
    for (QObject* o : parent->children())
        if (auto* w = qobject_cast<QWidget*>(o))
            out.append(w);
    return out;
}

void restoreStacking(const QWidget* parent, const QList<QPointer<QWidget>>& order) {
    for (const QPointer<QWidget>& w : order)
        if (w && w->parentWidget() == parent)
            w->raise();
}

// The geometry of one brick in both coordinate systems, and a bubble's tail layout.
struct BrickGeometry {
    QPointer<QWidget> brick;
    QRect rect;
    int fullLeft = 0, fullTop = 0, fullWidth = 0, fullHeight = 0;
    TTextBubble::BodyRect body;
    int fromX = 0, fromY = 0;
    bool operator==(const BrickGeometry&) const = default;
};

BrickGeometry captureGeometry(QWidget* w) {
    BrickGeometry g;
    g.brick = w;
    g.rect = w->geometry();
    if (auto* t = qobject_cast<TText*>(w)) {
        g.fullLeft = t->FullLeft;
        g.fullTop = t->FullTop;
        g.fullWidth = t->FullWidth;
        g.fullHeight = t->FullHeight;
        if (auto* b = qobject_cast<TTextBubble*>(w)) {
            g.body = b->Body;
            g.fromX = b->FromX();
            g.fromY = b->FromY();
        }
    } else if (auto* p = qobject_cast<TPictureimg*>(w)) {
        g.fullLeft = p->FullLeft;
        g.fullTop = p->FullTop;
        g.fullWidth = p->FullWidth;
        g.fullHeight = p->FullHeight;
    } else if (auto* m = qobject_cast<TBubbleFrom*>(w)) {
        g.fullLeft = m->FullLeft;
        g.fullTop = m->FullTop;
    }
    return g;
}

void applyGeometry(const BrickGeometry& g) {
    QWidget* w = g.brick;
    if (!w)
        return;
    auto setFull = [&g](auto* b) {
        b->FullLeft = g.fullLeft;
        b->FullTop = g.fullTop;
        b->FullWidth = g.fullWidth;
        b->FullHeight = g.fullHeight;
    };
    auto* bubble = qobject_cast<TTextBubble*>(w);
    if (bubble) {
        bubble->Body = g.body;
        bubble->setFromX(g.fromX);
        bubble->setFromY(g.fromY);
    }
    if (TControl* c = controlOf(w))
        c->SetBounds(g.rect.x(), g.rect.y(), g.rect.width(), g.rect.height());
    else
        w->setGeometry(g.rect);
    // Set after the bounds: a text brick may measure itself again while it is sized.
    if (auto* t = qobject_cast<TText*>(w))
        setFull(t);
    else if (auto* p = qobject_cast<TPictureimg*>(w))
        setFull(p);
    else if (auto* m = qobject_cast<TBubbleFrom*>(w)) {
        m->FullLeft = g.fullLeft;
        m->FullTop = g.fullTop;
    }
    w->update();
}

// The bricks a drag of the selection touches: the selected ones, a bubble's marker and a
// marker's bubble.
QList<QWidget*> touchedBy(const QList<QWidget*>& selection) {
    QList<QWidget*> out;
    auto add = [&out](QWidget* w) {
        if (w && !out.contains(w))
            out.append(w);
    };
    for (QWidget* w : selection) {
        add(w);
        if (auto* b = qobject_cast<TTextBubble*>(w))
            add(b->Marker());
        if (auto* m = qobject_cast<TBubbleFrom*>(w))
            add(m->Bubble());
    }
    return out;
}

} // namespace

struct DesignSurface::PendingDrag {
    QList<BrickGeometry> before;
    QList<QWidget*> touched;
};

// Bricks coming onto the surface (place, paste) or leaving it (delete, cut). A brick that is
// off the surface waits, hidden, in a holder widget the command owns, so that undo brings back
// the same object: name, position, unpublished values and z-order.
class BrickPresenceCommand : public QUndoCommand {
public:
    BrickPresenceCommand(DesignSurface& surface, const QList<QWidget*>& bricks, bool adding,
                         const QString& text)
        : QUndoCommand(text), m_surface(surface), m_adding(adding) {
        for (QWidget* b : bricks)
            m_entries.append({b, nullptr, 0, {}});
    }
    ~BrickPresenceCommand() override { delete m_holder; }

    // The first run: the bricks were added by the caller; removals happen here.
    void redo() override {
        if (m_first && m_adding) {
            m_first = false;
            return;
        }
        m_first = false;
        m_adding ? restore() : remove();
    }
    void undo() override { m_adding ? remove() : restore(); }

private:
    struct Entry {
        QPointer<QWidget> brick;
        QPointer<QWidget> marker;
        int componentIndex;
        QList<QPointer<QWidget>> stacking;
    };

    void remove() {
        TDesigner& d = m_surface.Designer();
        if (!m_holder)
            m_holder = new QWidget;
        // Last first, so that each one's place in the list is where it goes back.
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
            Entry& e = *it;
            if (!e.brick || e.brick->parentWidget() != d.Panel1)
                continue;
            e.stacking = stackingOf(d.Panel1);
            e.componentIndex = d.Components().indexOf(e.brick.data());
            auto* bubble = qobject_cast<TTextBubble*>(e.brick.data());
            e.marker = bubble ? bubble->Marker() : nullptr;
            m_surface.ForgetWidget(e.brick);
            if (e.marker)
                m_surface.ForgetWidget(e.marker);
            d.RemoveComponent(e.brick);
            e.brick->hide();
            e.brick->setParent(m_holder);
            if (e.marker) {
                e.marker->hide();
                e.marker->setParent(m_holder);
            }
        }
        d.Panel1->update();
    }

    void restore() {
        TDesigner& d = m_surface.Designer();
        for (Entry& e : m_entries) {
            if (!e.brick || e.brick->parentWidget() == d.Panel1)
                continue;
            e.brick->setParent(d.Panel1);
            if (e.componentIndex >= 0)
                d.InsertComponent(e.componentIndex, e.brick);
            e.brick->show();
            if (e.marker) {
                e.marker->setParent(d.Panel1);
                e.marker->show();
            }
            restoreStacking(d.Panel1, e.stacking);
        }
        m_surface.RealignHandle();
        d.Panel1->update();
    }

    DesignSurface& m_surface;
    bool m_adding;
    bool m_first = true;
    QList<Entry> m_entries;
    QWidget* m_holder = nullptr;
};

// A change the surface has already made when it pushes the command: the first redo (the push)
// leaves it be; later ones make it again.
class AlreadyDoneCommand : public QUndoCommand {
public:
    using QUndoCommand::QUndoCommand;
    void redo() final {
        if (m_first) {
            m_first = false;
            return;
        }
        redoAgain();
    }

protected:
    virtual void redoAgain() = 0;

private:
    bool m_first = true;
};

// A move or resize of bricks (a drag, or a run of arrow-key nudges merged into one).
class GeometryCommand : public AlreadyDoneCommand {
public:
    GeometryCommand(DesignSurface& surface, QList<BrickGeometry> before, QList<BrickGeometry> after,
                    const QString& text, int id)
        : AlreadyDoneCommand(text), m_surface(surface), m_before(std::move(before)),
          m_after(std::move(after)), m_id(id) {}

    int id() const override { return m_id; }
    bool mergeWith(const QUndoCommand* other) override {
        const auto* o = static_cast<const GeometryCommand*>(other);
        if (o->m_id != m_id || o->m_after.size() != m_after.size())
            return false;
        for (int i = 0; i < m_after.size(); ++i)
            if (o->m_after[i].brick != m_after[i].brick)
                return false;
        m_after = o->m_after;
        return true;
    }
    void redoAgain() override { apply(m_after); }
    void undo() override { apply(m_before); }

private:
    void apply(const QList<BrickGeometry>& geometry) {
        for (const BrickGeometry& g : geometry)
            applyGeometry(g);
        // The zoom ratio may have changed since: the full-size geometry is what counts.
        for (const BrickGeometry& g : geometry)
            if (g.brick)
                ShowAtZoom(m_surface.Designer(), g.brick);
        m_surface.RealignHandle();
        if (QObject* shown = m_surface.Inspected())
            emit m_surface.inspectRequested(shown);
    }

    DesignSurface& m_surface;
    QList<BrickGeometry> m_before;
    QList<BrickGeometry> m_after;
    int m_id;
};

// Bring to Front / Send to Back: the picture panel's stacking order before and after.
class ZOrderCommand : public AlreadyDoneCommand {
public:
    ZOrderCommand(DesignSurface& surface, QList<QPointer<QWidget>> before,
                  QList<QPointer<QWidget>> after, const QString& text)
        : AlreadyDoneCommand(text), m_surface(surface), m_before(std::move(before)),
          m_after(std::move(after)) {}
    void redoAgain() override { apply(m_after); }
    void undo() override { apply(m_before); }

private:
    void apply(const QList<QPointer<QWidget>>& order) {
        TcPanel* panel = m_surface.Designer().Panel1;
        restoreStacking(panel, order);
        if (m_surface.StretchHandle()->parentWidget() == panel)
            m_surface.StretchHandle()->raise();
        panel->update();
    }

    DesignSurface& m_surface;
    QList<QPointer<QWidget>> m_before;
    QList<QPointer<QWidget>> m_after;
};

// One published property written as a text (the inspector's write) of an object that is not a
// brick (the surface itself).
class SetPropertyCommand : public AlreadyDoneCommand {
public:
    SetPropertyCommand(DesignSurface& surface, QObject* object, QString property, QString oldText,
                       QString newText)
        : AlreadyDoneCommand(QStringLiteral("Set %1.%2").arg(object->objectName(), property)),
          m_surface(surface), m_object(object), m_property(std::move(property)),
          m_old(std::move(oldText)), m_new(std::move(newText)) {}
    void redoAgain() override { apply(m_new); }
    void undo() override { apply(m_old); }

private:
    void apply(const QString& text) {
        if (!m_object)
            return;
        WritePropertyText(m_object, m_property, text);
        m_surface.AfterPropertyWrite(m_object, m_property);
    }

    DesignSurface& m_surface;
    QPointer<QObject> m_object;
    QString m_property, m_old, m_new;
};

// A component reference: the objects before and after, followed if either goes away.
class SetReferenceCommand : public AlreadyDoneCommand {
public:
    SetReferenceCommand(DesignSurface& surface, QObject* object, QString property,
                        QObject* oldValue, QObject* newValue)
        : AlreadyDoneCommand(QStringLiteral("Set %1.%2").arg(object->objectName(), property)),
          m_surface(surface), m_object(object), m_property(std::move(property)), m_old(oldValue),
          m_new(newValue), m_hadOld(oldValue), m_hadNew(newValue) {}
    void redoAgain() override { apply(m_new, m_hadNew); }
    void undo() override { apply(m_old, m_hadOld); }

private:
    void apply(QObject* value, bool hadValue) {
        // A component deleted since is not set back as none.
        if (!m_object || (hadValue && !value))
            return;
        WritePropertyReference(m_object, m_property, value);
        m_surface.AfterPropertyWrite(m_object, m_property);
    }

    DesignSurface& m_surface;
    QPointer<QObject> m_object;
    QString m_property;
    QPointer<QObject> m_old, m_new;
    bool m_hadOld, m_hadNew;
};

// A brick's whole state: every stored value and its geometry (with its tail marker's), so that a
// change with consequences (an anchor that sets margins, a font that sets a relative size) comes
// back whole.
namespace {

struct BrickState {
    QPointer<QWidget> brick;
    QList<QPair<QString, QString>> values;
    QList<BrickGeometry> geometry;
    bool operator==(const BrickState&) const = default;
};

BrickState captureState(QWidget* w) {
    BrickState s;
    s.brick = w;
    for (const PublishedProperty& p : PublishedProperties(w))
        if (p.kind != PropertyKind::Class && p.writable && p.storable &&
            p.name.compare(QLatin1String("Name"), Qt::CaseInsensitive) != 0)
            s.values.append({p.name, PropertyValueText(w, p.name)});
    for (QWidget* t : touchedBy({w}))
        s.geometry.append(captureGeometry(t));
    return s;
}

void applyState(TDesigner& designer, const BrickState& s) {
    QWidget* w = s.brick;
    if (!w)
        return;
    auto* control = controlOf(w);
    if (control)
        control->BeginLoading();
    try {
        for (const auto& [name, value] : s.values)
            if (PropertyValueText(w, name) != value)
                WritePropertyText(w, name, value);
    } catch (...) {
        if (control)
            control->EndLoading();
        throw;
    }
    if (control)
        control->EndLoading();
    for (const BrickGeometry& g : s.geometry)
        applyGeometry(g);
    for (const BrickGeometry& g : s.geometry)
        if (g.brick)
            ShowAtZoom(designer, g.brick);
}

QList<BrickState> captureStates(const QList<QWidget*>& bricks) {
    QList<BrickState> out;
    for (QWidget* b : bricks)
        out.append(captureState(b));
    return out;
}

} // namespace

// A change of bricks, and perhaps of the photo under them, already made: undo puts back the
// states (and photo) before, redo those after. A photo step keeps both pictures until the surface
// lets them go to bound the memory of the history; one without them, or about a photo that is no
// longer open, undoes nothing and leaves the history.
class BrickStateCommand : public AlreadyDoneCommand {
public:
    struct Photo {
        QImage picture;
        bool edited = false;
        bool modified = false;
    };
    BrickStateCommand(DesignSurface& surface, const QString& text, QList<BrickState> before,
                      QList<BrickState> after, std::optional<Photo> photoBefore = {},
                      std::optional<Photo> photoAfter = {}, bool photoOnly = false)
        : AlreadyDoneCommand(text), m_surface(surface), m_before(std::move(before)),
          m_after(std::move(after)), m_photoBefore(std::move(photoBefore)),
          m_photoAfter(std::move(photoAfter)), m_photoOnly(photoOnly),
          m_generation(surface.Designer().PhotoGeneration),
          m_saves(surface.Designer().PhotoSaves) {
        if (m_photoBefore)
            m_surface.m_photoSteps.append(this);
    }
    ~BrickStateCommand() override { m_surface.m_photoSteps.removeAll(this); }
    int id() const override { return m_photoOnly ? kPhotoOnlyCommandId : -1; }
    void redoAgain() override { apply(m_after, m_photoAfter); }
    void undo() override { apply(m_before, m_photoBefore); }

    bool HoldsPictures() const { return m_photoBefore && !m_photoBefore->picture.isNull(); }
    void DropPictures() {
        if (m_photoBefore)
            m_photoBefore->picture = QImage();
        if (m_photoAfter)
            m_photoAfter->picture = QImage();
    }
    QList<QImage> Pictures() const {
        QList<QImage> out;
        for (const auto* p : {&m_photoBefore, &m_photoAfter})
            if (*p && !(*p)->picture.isNull())
                out.append((*p)->picture);
        return out;
    }

private:
    void apply(const QList<BrickState>& states, const std::optional<Photo>& photo) {
        TDesigner& d = m_surface.Designer();
        if (photo && (photo->picture.isNull() || m_generation != d.PhotoGeneration)) {
            // The picture is gone, or another photo is open: nothing to put back.
            setObsolete(true);
            return;
        }
        if (photo) {
            d.realPicture = photo->picture;
            d.PictureEdited = photo->edited;
            // Saved since: the photo as it was then is not the one on disk.
            d.PhotoModified = photo->modified || d.PhotoSaves != m_saves;
            d.UpdatePreview();
        }
        for (const BrickState& s : states)
            applyState(d, s);
        m_surface.RealignHandle();
        if (photo)
            emit m_surface.photoRestored();
        if (QObject* shown = m_surface.Inspected())
            emit m_surface.inspectRequested(shown);
    }

    DesignSurface& m_surface;
    QList<BrickState> m_before, m_after;
    std::optional<Photo> m_photoBefore, m_photoAfter;
    bool m_photoOnly;
    int m_generation;
    int m_saves;
};

// ---------------------------------------------------------------------------------------------

DesignSurface::DesignSurface(TDesigner& designer, QObject* parent)
    : QObject(parent), m_designer(designer), m_handle(new TStretchHandle),
      m_undo(new QUndoStack(this)) {
    m_handle->setObjectName(QStringLiteral("StretchHandle"));
    m_inspected = &m_designer;
    BuildPopup();
    connect(&m_designer, &TDesigner::gridChanged, this, &DesignSurface::SyncGrid);
    SyncGrid();
    connect(m_handle, &TStretchHandle::dragFinished, this, &DesignSurface::OnDragFinished);
    connect(m_handle, &TStretchHandle::mouseUp, this, [this] { OnHandleMouseUp(); });
    connect(m_handle, &TStretchHandle::nudged, this, &DesignSurface::OnNudged);
    connect(m_handle, &TStretchHandle::dragMoved, this, &DesignSurface::OnDragMoved);
    connect(m_handle, &TStretchHandle::dragCancelled, this, [this] { EndLiveTail(true); });
    // The pattern is modified exactly when this history is not clean.
    m_designer.History = m_undo;
    qApp->installEventFilter(this);
}

DesignSurface::~DesignSurface() {
    qApp->removeEventFilter(this);
    // Where the surface was shown, in screen coordinates: the view around the picture.
    const QWidget* view = m_designer.parentWidget() ? m_designer.parentWidget() : &m_designer;
    SaveFormBounds(QStringLiteral("DesignerBounds"),
                   QRect(view->mapToGlobal(QPoint(0, 0)), view->size()));
    // The commands hold the bricks that are off the surface; they go before the handle.
    delete m_undo;
    m_undo = nullptr;
    delete m_handle;
    delete m_popup;
}

QStringList DesignSurface::PaletteClasses() {
    return {QStringLiteral("TText"), QStringLiteral("TTextTime"), QStringLiteral("TTextDate"),
            QStringLiteral("TPictureimg"), QStringLiteral("TTextBubble")};
}

void DesignSurface::InitDesigner() {
    for (const QString& name : HiddenPropertiesOf(QStringLiteral("TDesigner")))
        HideProperty(QStringLiteral("TDesigner"), name);
    Inspect(&m_designer);
    for (const QString& cls : PaletteClasses()) {
        emit paletteClassRegistered(cls, QStringLiteral("Common"));
        for (const QString& name : HiddenPropertiesOf(cls))
            HideProperty(cls, name);
    }
}

// --- Placing -------------------------------------------------------------------------------

void DesignSurface::SetPendingClass(const QString& className) {
    if (m_pendingClass == className)
        return;
    m_pendingClass = className;
    emit pendingClassChanged(className);
}

QString DesignSurface::TakePendingClass() {
    const QString taken = m_pendingClass;
    SetPendingClass(QString());
    return taken;
}

QString DesignSurface::UniqueBrickName(const QString& className) const {
    return ::UniqueBrickName(m_designer, className);
}

QWidget* DesignSurface::CreateBrick(const QString& className, QPoint surfacePoint) {
    if (m_designer.ZoomRatio <= 0)
        return nullptr;
    TcPanel* panel = m_designer.Panel1;
    QWidget* brick = nullptr;
    // Made with the panel as parent, so that a date or time brick finds the open photo's date.
    if (className == QLatin1String("TText"))
        brick = new TText(panel);
    else if (className == QLatin1String("TTextDate"))
        brick = new TTextDate(panel);
    else if (className == QLatin1String("TTextTime"))
        brick = new TTextTime(panel);
    else if (className == QLatin1String("TTextBubble"))
        brick = new TTextBubble(panel);
    else if (className == QLatin1String("TPictureimg"))
        brick = new TPictureimg(panel);
    else
        throw Exception(QStringLiteral("Class %1 not found").arg(className));
    TControl* control = controlOf(brick);
    const QPoint at = surfacePoint - panel->pos();
    control->setName(UniqueBrickName(className));
    // The font last used, not the settings' default, for a caption like the ones before it.
    if (auto* text = qobject_cast<TText*>(brick); text && m_lastFont) {
        text->Font()->Assign(*m_lastFont);
        text->FitToText();
    }
    control->SetBounds(at.x(), at.y(), control->Width(), control->Height());
    m_designer.AddComponent(brick);
    UpdateFullGeometry(m_designer, brick);
    if (auto* bubble = qobject_cast<TTextBubble*>(brick)) {
        SetUpNewBubble(m_designer, bubble);
        bubble->setCaption(kTypeText);
        bubble->PlaceMarker(m_designer.ZoomRatio);
    } else if (auto* text = qobject_cast<TText*>(brick)) {
        if (!qobject_cast<TTextDate*>(brick) && !qobject_cast<TTextTime*>(brick))
            text->setCaption(kTypeText);
    }

    // A new brick lies on top of the others; the press that made it then selects it.
    brick->show();
    PushAdded(brick, QStringLiteral("Place %1").arg(brick->objectName()));
    emit brickCreated(brick);
    return brick;
}

QWidget* DesignSurface::PlaceBrick(const QString& className, QPoint surfacePoint) {
    const int before = m_undo->index();
    QWidget* brick = CreateBrick(className, surfacePoint);
    if (!brick || !EditsOnCreate(brick))
        return brick;
    // Only a dialog that ran and was cancelled takes the brick away.
    const ComponentEditorEntry* editor = FindComponentEditor(brick);
    if (!editor->editsOnRequest || !editor->edit)
        return brick;
    const QPointer<QWidget> placed = brick;
    if (editor->edit(brick) || !placed)
        return placed;
    // Cancel: the brick was never wanted. Back to the history before it, then the steps after
    // that point are dropped, so that not even Redo brings it back.
    m_undo->setIndex(before);
    auto* drop = new QUndoCommand;
    drop->setObsolete(true);
    m_undo->push(drop);
    if (placed)
        delete placed.data();
    return nullptr;
}

void DesignSurface::PushAdded(QWidget* brick, const QString& text) {
    m_undo->push(new BrickPresenceCommand(*this, {brick}, true, text));
}

QWidget* DesignSurface::ControlAtPoint(QPoint point, QWidget* container,
                                       const QString& skipName) const {
    if (!container)
        container = &m_designer;
    QString skip = skipName;
    const QObjectList& kids = container->children();
    for (auto it = kids.crbegin(); it != kids.crend(); ++it) {
        auto* child = qobject_cast<QWidget*>(*it);
        if (!child || child->isHidden() || child == m_handle ||
            child->objectName() == QLatin1String("StretchHandle"))
            continue;
        const QRect g = child->geometry();
        const bool hit = point.x() >= g.left() && point.x() <= g.left() + g.width() &&
                         point.y() >= g.top() && point.y() <= g.top() + g.height();
        if (!hit)
            continue;
        if (!skip.isEmpty()) {
            if (child->objectName() == skip)
                continue;
            skip.clear();
        }
        // Bricks are windowless controls; anything else holds controls of its own.
        if (!controlOf(child))
            return ControlAtPoint(point - g.topLeft(), child);
        return child;
    }
    return container;
}

bool DesignSurface::IsBrick(const QWidget* widget) const {
    return widget && widget != &m_designer && controlOf(const_cast<QWidget*>(widget)) &&
           IsBrickTag(ComponentTag(widget)) && m_designer.Panel1->isAncestorOf(widget);
}

// --- Selection -----------------------------------------------------------------------------

void DesignSurface::Select(QWidget* brick) {
    m_handle->DetachAll();
    if (!IsBrick(brick)) {
        Inspect(&m_designer);
        emit selectionChanged();
        return;
    }
    m_handle->setSizable(qobject_cast<TPictureimg*>(brick) != nullptr);
    m_handle->Attach(brick);
    UpdateAnchorMark();
    Inspect(brick);
    emit selectionChanged();
}

void DesignSurface::AddToSelection(QWidget* brick) {
    if (!IsBrick(brick) || m_handle->IndexOf(brick) >= 0)
        return;
    m_handle->Attach(brick);
    if (m_handle->SelectionCount() > 1)
        m_handle->setSizable(false);
    Inspect(brick);
    emit selectionChanged();
}

void DesignSurface::ToggleSelection(QWidget* brick) {
    if (!IsBrick(brick))
        return;
    if (m_handle->IndexOf(brick) < 0) {
        if (m_handle->HasSelection())
            AddToSelection(brick);
        else
            Select(brick);
        return;
    }
    QList<QWidget*> rest = Selection();
    rest.removeAll(brick);
    if (rest.isEmpty()) {
        ClearSelection();
        return;
    }
    Select(rest.first());
    for (int i = 1; i < rest.size(); ++i)
        AddToSelection(rest[i]);
    Inspect(rest.first());
}

void DesignSurface::SelectInRect(const QRect& panelRect, bool add) {
    const QRect band = panelRect.normalized();
    QList<QWidget*> hits;
    for (QWidget* b : m_designer.Bricks()) {
        if (!IsBrick(b) || b->isHidden() || qobject_cast<TBubbleFrom*>(b))
            continue;
        // A bubble is touched by its tail too.
        QRect box = b->geometry();
        if (auto* bubble = qobject_cast<TTextBubble*>(b); bubble && bubble->Marker())
            box = box.united(bubble->Marker()->geometry());
        if (box.intersects(band))
            hits.append(b);
    }
    QList<QWidget*> chosen = add ? Selection() : QList<QWidget*>();
    for (QWidget* h : hits)
        if (!chosen.contains(h))
            chosen.append(h);
    if (chosen.isEmpty()) {
        ClearSelection();
        return;
    }
    Select(chosen.first());
    for (int i = 1; i < chosen.size(); ++i)
        AddToSelection(chosen[i]);
    Inspect(chosen.first());
}

void DesignSurface::ClearSelection() {
    Select(nullptr);
}

void DesignSurface::SelectAll() {
    QList<QWidget*> bricks;
    for (QWidget* b : m_designer.Bricks())
        if (IsBrick(b) && !qobject_cast<TBubbleFrom*>(b))
            bricks.append(b);
    if (bricks.isEmpty()) {
        ClearSelection();
        return;
    }
    Select(bricks.first());
    for (int i = 1; i < bricks.size(); ++i)
        AddToSelection(bricks[i]);
    // The inspector keeps showing the first one.
    Inspect(bricks.first());
}

QList<QWidget*> DesignSurface::Selection() const {
    QList<QWidget*> out;
    for (int i = 0; i < m_handle->SelectionCount(); ++i)
        if (QWidget* w = m_handle->SelectedControl(i))
            out.append(w);
    return out;
}

void DesignSurface::RefreshSelection() {
    const QList<QWidget*> selected = Selection();
    if (selected.isEmpty())
        return;
    m_handle->DetachAll();
    for (QWidget* w : selected)
        m_handle->Attach(w);
    UpdateAnchorMark();
}

void DesignSurface::RealignHandle() {
    UpdateAnchorMark();
    const QList<QWidget*> selected = Selection();
    if (selected.isEmpty())
        return;
    QRect expected;
    for (QWidget* w : selected) {
        const QRect r = w->geometry().adjusted(-2, -2, 3, 3);
        expected = expected.isNull() ? r : expected.united(r);
    }
    if (expected != m_handle->geometry())
        RefreshSelection();
}

void DesignSurface::ForgetWidget(QWidget* widget) {
    if (m_handle->IndexOf(widget) >= 0) {
        m_handle->DetachAll();
        Inspect(&m_designer);
        emit selectionChanged();
    }
    if (m_target == widget)
        m_target = nullptr;
    if (m_inspected == widget)
        Inspect(&m_designer);
}

void DesignSurface::Inspect(QObject* object) {
    m_inspected = object;
    emit inspectRequested(object);
}

// --- After a drag --------------------------------------------------------------------------

void DesignSurface::UpdateSelectedGeometry() {
    const QList<QWidget*> selected = Selection();
    for (QWidget* w : selected) {
        if (qobject_cast<TBubbleFrom*>(w))
            TailMarkerMoved(m_designer, w);
        else
            UpdateFullGeometry(m_designer, w);
    }
}

void DesignSurface::StretchHandleMouseUp() {
    UpdateSelectedGeometry();
    RealignHandle();
    if (!Selection().isEmpty())
        Inspect(Selection().first());
}

void DesignSurface::OnDragMoved(const QRect& landing) {
    const QList<QWidget*> selected = Selection();
    auto* marker = selected.size() == 1 ? qobject_cast<TBubbleFrom*>(selected.first()) : nullptr;
    if (!marker || !marker->Bubble())
        return;
    if (!m_liveTail) {
        m_liveTail = std::make_unique<PendingDrag>();
        m_liveTail->touched = touchedBy(selected);
        for (QWidget* w : m_liveTail->touched)
            m_liveTail->before.append(captureGeometry(w));
    } else {
        for (const BrickGeometry& g : m_liveTail->before)
            applyGeometry(g);
    }
    // The bubble as the release would leave it, from the marker where the frame lands; the
    // marker itself stays for the release to move.
    const QPoint at = marker->pos() + landing.topLeft() - m_handle->geometry().topLeft();
    if (at != marker->pos()) {
        marker->move(at);
        TailMarkerMoved(m_designer, marker);
        for (const BrickGeometry& g : m_liveTail->before)
            if (g.brick == marker)
                applyGeometry(g);
    }
}

void DesignSurface::EndLiveTail(bool selectionToo) {
    if (!m_liveTail)
        return;
    const std::unique_ptr<PendingDrag> live = std::move(m_liveTail);
    const QList<QWidget*> selected = selectionToo ? QList<QWidget*>() : Selection();
    QList<BrickGeometry> kept;
    for (QWidget* w : selected)
        kept.append(captureGeometry(w));
    for (const BrickGeometry& g : live->before)
        if (!selected.contains(g.brick.data()))
            applyGeometry(g);
    // A bubble set back may have put its marker back too: the selection stays where it is.
    for (const BrickGeometry& g : kept)
        applyGeometry(g);
}

void DesignSurface::OnDragFinished(const QList<QRect>& before, const QList<QRect>&) {
    // The release moved the marker; its bubble is set from there again, as it was before.
    EndLiveTail(false);
    const QList<QWidget*> selected = Selection();
    auto pending = std::make_unique<PendingDrag>();
    pending->touched = touchedBy(selected);
    for (QWidget* w : pending->touched) {
        BrickGeometry g = captureGeometry(w);
        const int i = selected.indexOf(w);
        if (i >= 0 && i < before.size())
            g.rect = before[i];
        pending->before.append(g);
    }
    m_pendingDrag = std::move(pending);
}

void DesignSurface::OnHandleMouseUp() {
    // A click without movement changes nothing, so it leaves no command behind.
    if (!m_pendingDrag) {
        EndLiveTail(true);
        return;
    }
    const std::unique_ptr<PendingDrag> drag = std::move(m_pendingDrag);
    StretchHandleMouseUp();
    QList<BrickGeometry> after;
    for (QWidget* w : drag->touched)
        after.append(captureGeometry(w));
    const bool resized = drag->before.size() == after.size() && !after.isEmpty() &&
                         drag->before.first().rect.size() != after.first().rect.size();
    m_undo->push(new GeometryCommand(*this, drag->before, after,
                                     resized ? QStringLiteral("Resize") : QStringLiteral("Move"),
                                     -1));
}

void DesignSurface::OnNudged(const QList<QRect>& before, const QList<QRect>&, bool resized) {
    const QList<QWidget*> selected = Selection();
    const QList<QWidget*> touched = touchedBy(selected);
    QList<BrickGeometry> was;
    for (QWidget* w : touched) {
        BrickGeometry g = captureGeometry(w);
        const int i = selected.indexOf(w);
        if (i >= 0 && i < before.size())
            g.rect = before[i];
        was.append(g);
    }
    // The arrow keys move bricks as a drag does, so the full-size geometry follows them too.
    UpdateSelectedGeometry();
    RealignHandle();
    QList<BrickGeometry> now;
    for (QWidget* w : touched)
        now.append(captureGeometry(w));
    m_undo->push(new GeometryCommand(
        *this, was, now, resized ? QStringLiteral("Resize") : QStringLiteral("Move"), kNudgeId));
}

// --- Commands ------------------------------------------------------------------------------

void DesignSurface::DeleteBrick(QWidget* brick) {
    DeleteBricks({brick});
}

void DesignSurface::DeleteAllBricks() {
    QList<QWidget*> bricks;
    for (QWidget* b : m_designer.Bricks())
        if (IsBrick(b))
            bricks.append(b);
    if (bricks.isEmpty())
        return;
    m_undo->push(new BrickPresenceCommand(*this, bricks, false, QStringLiteral("Clear")));
    Inspect(&m_designer);
}

void DesignSurface::ClearPattern() {
    m_handle->DetachAll();
    m_target = nullptr;
    m_pendingDrag.reset();
    ::ClearBricks(m_designer);
    m_undo->clear();
    m_designer.SetCaptionBandText(QString()); // the band is the pattern's
    m_designer.Panel1->update();
    Inspect(&m_designer);
    emit selectionChanged();
}

void DesignSurface::CopyBrick(QWidget* brick) {
    CopyBricks({brick});
}

void DesignSurface::CutBrick(QWidget* brick) {
    CutBricks({brick});
}

bool DesignSurface::CanPaste() const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasFormat(QString::fromLatin1(kBrickMimeType));
}

std::unique_ptr<QWidget> DesignSurface::InsertStream(const QByteArray& stream, bool rename) {
    std::unique_ptr<QWidget> brick(ReadComponentStream(stream));
    TControl* control = controlOf(brick.get());
    if (!control)
        throw Exception(QStringLiteral("Only bricks can be pasted"));
    const QString className = QString::fromLatin1(brick->metaObject()->className());
    // Component names compare without regard to case; a tail marker's name is taken too.
    const auto taken = [this](const QString& name) {
        for (const QWidget* c : m_designer.Components())
            if (c->objectName().compare(name, Qt::CaseInsensitive) == 0)
                return true;
        for (const QObject* o : m_designer.Panel1->children())
            if (o->objectName().compare(name, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    };
    QString name = brick->objectName();
    // A copy pasted beside its original (or a duplicate) takes the next free name.
    if (rename || name.isEmpty() || taken(name)) {
        name = UniqueBrickName(className);
        control->setName(name);
    }
    TcPanel* panel = m_designer.Panel1;
    brick->setParent(panel);
    m_designer.AddComponent(brick.get());
    // Pasted over anything on the picture it lands a little aside; a duplicate always does, or
    // it would hide under the brick it copies.
    const QPoint stored(control->Left(), control->Top());
    if (rename || ControlAtPoint(stored + panel->pos(), nullptr, name) != &m_designer)
        StepAside(brick.get());
    SetUpLoadedBrick(m_designer, brick.get());
    // An anchored brick went back to its anchored place, over its original: a little aside, its
    // margins following.
    if (const BrickLayout* layout = LayoutOf(brick.get());
        layout && layout->anchored() && PlacesItselfOnPhoto(brick.get()) &&
        IsBrick(ControlAtPoint(QPoint(control->Left(), control->Top()) + panel->pos(), nullptr,
                               name))) {
        StepAside(brick.get());
        UpdateFullGeometry(m_designer, brick.get());
    }
    brick->show();
    return brick;
}

void DesignSurface::StepAside(QWidget* brick) {
    TControl* control = controlOf(brick);
    const auto cornerTaken = [this, brick]() {
        for (QWidget* other : m_designer.Bricks())
            if (other != brick && other->parentWidget() == m_designer.Panel1 &&
                other->pos() == brick->pos())
                return true;
        return false;
    };
    // Bounded, so that a pile of copies never sends a brick far off.
    int steps = 0;
    do {
        control->SetBounds(control->Left() + 5, control->Top() + 5, control->Width(),
                           control->Height());
    } while (cornerTaken() && ++steps < 64);
}

void DesignSurface::DiscardInserted(const QList<QWidget*>& bricks) {
    for (QWidget* c : bricks) {
        ForgetWidget(c);
        if (auto* bubble = qobject_cast<TTextBubble*>(c))
            delete bubble->Marker();
        m_designer.RemoveComponent(c);
        delete c;
    }
}

QList<QWidget*> DesignSurface::BricksAmong(const QList<QWidget*>& widgets) const {
    QList<QWidget*> out;
    for (QWidget* w : widgets) {
        QWidget* brick = brickProper(w);
        if (IsBrick(brick) && !out.contains(brick))
            out.append(brick);
    }
    return out;
}

QByteArray DesignSurface::StreamsOf(const QList<QWidget*>& bricks) const {
    QList<QByteArray> streams;
    for (QWidget* b : bricks)
        streams.append(WriteComponentStream(b));
    QByteArray out;
    QDataStream ds(&out, QIODevice::WriteOnly);
    ds << streams;
    return out;
}

void DesignSurface::CopyBricks(const QList<QWidget*>& widgets) {
    const QList<QWidget*> bricks = BricksAmong(widgets);
    if (bricks.isEmpty())
        return;
    QStringList texts;
    QList<QByteArray> streams;
    for (QWidget* b : bricks) {
        streams.append(WriteComponentStream(b));
        texts.append(ObjectBinaryToText(streams.constLast()));
    }
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kBrickMimeType), streams.constFirst());
    if (bricks.size() > 1)
        data->setData(QString::fromLatin1(kBrickListMimeType), StreamsOf(bricks));
    data->setText(texts.join(QString()));
    QGuiApplication::clipboard()->setMimeData(data);
}

void DesignSurface::CutBricks(const QList<QWidget*>& widgets) {
    const QList<QWidget*> bricks = BricksAmong(widgets);
    if (bricks.isEmpty())
        return;
    CopyBricks(bricks);
    m_undo->push(new BrickPresenceCommand(
        *this, bricks, false,
        bricks.size() == 1 ? QStringLiteral("Cut %1").arg(bricks.first()->objectName())
                           : QStringLiteral("Cut %1 bricks").arg(bricks.size())));
}

void DesignSurface::DeleteBricks(const QList<QWidget*>& widgets) {
    const QList<QWidget*> bricks = BricksAmong(widgets);
    if (bricks.isEmpty())
        return;
    m_undo->push(new BrickPresenceCommand(
        *this, bricks, false,
        bricks.size() == 1 ? QStringLiteral("Delete %1").arg(bricks.first()->objectName())
                           : QStringLiteral("Delete %1 bricks").arg(bricks.size())));
}

QList<QWidget*> DesignSurface::PopupBricks() const {
    const QList<QWidget*> selection = Selection();
    if (m_target && (selection.contains(m_target) ||
                     selection.contains(brickProper(m_target))))
        return BricksAmong(selection);
    return BricksAmong({m_target.data()});
}

QWidget* DesignSurface::PasteBrick() {
    const QList<QWidget*> pasted = PasteBricks();
    return pasted.isEmpty() ? nullptr : pasted.constFirst();
}

QList<QWidget*> DesignSurface::PasteBricks() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasFormat(QString::fromLatin1(kBrickMimeType)))
        return {};
    QList<QByteArray> streams;
    if (data->hasFormat(QString::fromLatin1(kBrickListMimeType))) {
        QByteArray list = data->data(QString::fromLatin1(kBrickListMimeType));
        QDataStream ds(&list, QIODevice::ReadOnly);
        ds >> streams;
        if (ds.status() != QDataStream::Ok)
            streams.clear();
    }
    if (streams.isEmpty())
        streams.append(data->data(QString::fromLatin1(kBrickMimeType)));
    QList<QWidget*> pasted;
    try {
        for (const QByteArray& stream : streams)
            pasted.append(InsertStream(stream, false).release());
    } catch (...) {
        DiscardInserted(pasted);
        throw;
    }
    m_undo->push(new BrickPresenceCommand(
        *this, pasted, true,
        pasted.size() == 1 ? QStringLiteral("Paste %1").arg(pasted.first()->objectName())
                           : QStringLiteral("Paste %1 bricks").arg(pasted.size())));
    Select(pasted.first());
    for (int i = 1; i < pasted.size(); ++i)
        AddToSelection(pasted[i]);
    if (pasted.size() > 1)
        Inspect(pasted.first());
    m_handle->BringSelectionToFront();
    return pasted;
}

QList<QWidget*> DesignSurface::DuplicateSelection() {
    const QList<QWidget*> originals = BricksAmong(Selection());
    QList<QWidget*> copies;
    try {
        for (QWidget* brick : originals)
            copies.append(InsertStream(WriteComponentStream(brick), true).release());
    } catch (...) {
        DiscardInserted(copies);
        throw;
    }
    if (copies.isEmpty())
        return copies;
    m_undo->push(new BrickPresenceCommand(
        *this, copies, true,
        copies.size() == 1 ? QStringLiteral("Duplicate %1").arg(originals.first()->objectName())
                           : QStringLiteral("Duplicate %1 bricks").arg(copies.size())));
    Select(copies.first());
    for (int i = 1; i < copies.size(); ++i)
        AddToSelection(copies[i]);
    if (copies.size() > 1)
        Inspect(copies.first());
    m_handle->BringSelectionToFront();
    return copies;
}

void DesignSurface::BringToFront(QWidget* brick) {
    ChangeZOrder({brick}, true);
}

void DesignSurface::SendToBack(QWidget* brick) {
    ChangeZOrder({brick}, false);
}

void DesignSurface::BringToFront(const QList<QWidget*>& bricks) {
    ChangeZOrder(bricks, true);
}

void DesignSurface::SendToBack(const QList<QWidget*>& bricks) {
    ChangeZOrder(bricks, false);
}

void DesignSurface::ChangeZOrder(const QList<QWidget*>& widgets, bool toFront) {
    QList<QWidget*> bricks;
    for (QWidget* w : widgets)
        if (IsBrick(w) && !bricks.contains(w))
            bricks.append(w);
    if (bricks.isEmpty())
        return;
    TcPanel* panel = m_designer.Panel1;
    const QList<QPointer<QWidget>> before = stackingOf(panel);
    // In their present stacking order, so that they keep it among themselves: raised bottom
    // first, lowered top first.
    QList<QWidget*> ordered;
    for (const QPointer<QWidget>& w : before)
        if (bricks.contains(w.data()))
            ordered.append(w);
    if (toFront) {
        for (QWidget* w : ordered)
            w->raise();
    } else {
        for (auto it = ordered.rbegin(); it != ordered.rend(); ++it)
            (*it)->lower();
    }
    // Only the frame comes back to the top, so a brick sent to the back stays there.
    if (m_handle->parentWidget() == panel)
        m_handle->raise();
    const QList<QPointer<QWidget>> after = stackingOf(panel);
    panel->update();
    if (before == after)
        return;
    m_undo->push(new ZOrderCommand(*this, before, after,
                                   toFront ? QStringLiteral("Bring to Front")
                                           : QStringLiteral("Send to Back")));
}

void DesignSurface::SetProperty(QObject* object, const QString& propertyName, const QString& text) {
    if (!object)
        return;
    if (auto* brick = qobject_cast<QWidget*>(object); brick && FullSizeValue(brick, propertyName)) {
        // Place and size in full-size photo pixels: a change of geometry.
        const int value = FullSizeFromText(brick, propertyName, text);
        const QList<QWidget*> touched = touchedBy({brick});
        QList<BrickGeometry> before, after;
        for (QWidget* w : touched)
            before.append(captureGeometry(w));
        SetFullSizeValue(brick, propertyName, value);
        for (QWidget* w : touched)
            after.append(captureGeometry(w));
        RealignHandle();
        Inspect(object);
        if (!(before == after))
            m_undo->push(new GeometryCommand(
                *this, before, after,
                QStringLiteral("Set %1.%2").arg(object->objectName(), propertyName), -1));
        return;
    }
    const QString old = PropertyValueText(object, propertyName);
    auto* widget = qobject_cast<QWidget*>(object);
    if (IsBrick(widget) && !qobject_cast<TBubbleFrom*>(widget)) {
        // What follows from the value (margins of an anchor, a font's relative size) is undone
        // with it.
        const BrickState before = captureState(widget);
        WritePropertyText(object, propertyName, text);
        AfterPropertyWrite(object, propertyName);
        if (propertyName.startsWith(QLatin1String("Font"), Qt::CaseInsensitive))
            RememberFont(object);
        const BrickState after = captureState(widget);
        if (before == after)
            return;
        m_undo->push(new BrickStateCommand(
            *this, QStringLiteral("Set %1.%2").arg(object->objectName(), propertyName), {before},
            {after}));
        return;
    }
    WritePropertyText(object, propertyName, text);
    AfterPropertyWrite(object, propertyName);
    if (PropertyValueText(object, propertyName) == old)
        return;
    m_undo->push(new SetPropertyCommand(*this, object, propertyName, old, text));
}

void DesignSurface::SetReference(QObject* object, const QString& propertyName, QObject* value) {
    if (!object)
        return;
    QObject* old = PropertyReference(object, propertyName);
    WritePropertyReference(object, propertyName, value);
    AfterPropertyWrite(object, propertyName);
    if (old == value)
        return;
    m_undo->push(new SetReferenceCommand(*this, object, propertyName, old, value));
}

void DesignSurface::AfterPropertyWrite(QObject* object, const QString& propertyName) {
    if (object == &m_designer &&
        propertyName.compare(QLatin1String("CaptionBand"), Qt::CaseInsensitive) == 0) {
        // Bricks anchored to the band's edge move into it or out of it.
        PhotoChanged(m_designer);
        RealignHandle();
        UpdateAnchorMark();
        return;
    }
    auto* widget = qobject_cast<QWidget*>(object);
    if (IsBrick(widget)) {
        BrickLayout* layout = LayoutOf(widget);
        if (qobject_cast<TBubbleFrom*>(widget)) {
            TailMarkerMoved(m_designer, widget);
        } else if (layout &&
                   propertyName.compare(QLatin1String("Anchor"), Qt::CaseInsensitive) == 0) {
            // A new anchor keeps the brick where it is: its margins are taken from its place.
            if (layout->anchored())
                *layout = DeriveLayout(BrickDataOf(widget), SurfaceTargetOf(widget), true, false);
            else
                layout->marginX = layout->marginY = 0;
            ShowAtZoom(m_designer, widget);
        } else if (layout && layout->placesItself()) {
            // Its place follows from its values, not from the screen.
            ShowAtZoom(m_designer, widget);
        } else {
            UpdateFullGeometry(m_designer, widget);
        }
        widget->update();
    }
    RealignHandle();
    // The surface's own values (the grid, from the menu) do not take the inspector away from
    // the brick it shows.
    if (object == &m_designer && m_inspected && m_inspected != &m_designer)
        Inspect(m_inspected);
    else
        Inspect(object);
}

void DesignSurface::SetAnchor(const QList<QWidget*>& bricks,
                              const std::function<Tk::TBrickAnchor(QWidget*)>& anchorOf) {
    QList<QWidget*> placed;
    for (QWidget* b : bricks) {
        b = brickProper(b);
        if (IsBrick(b) && LayoutOf(b) && !placed.contains(b))
            placed.append(b);
    }
    if (placed.isEmpty())
        return;
    const QList<BrickState> before = captureStates(placed);
    for (QWidget* b : placed) {
        BrickLayout* layout = LayoutOf(b);
        layout->anchor = anchorOf(b);
        AfterPropertyWrite(b, QStringLiteral("Anchor"));
    }
    const QList<BrickState> after = captureStates(placed);
    if (before != after)
        m_undo->push(new BrickStateCommand(*this, QStringLiteral("Anchor"), before, after));
    UpdateAnchorMark();
}

Tk::TBrickAnchor DesignSurface::NearestCorner(const QWidget* brick) const {
    const QSize photo = m_designer.CanvasSize();
    const BrickData b = BrickDataOf(brick);
    const QRectF box =
        ::PlaceBrick(b, TargetWithBand(m_designer.realPicture.size(), m_designer.Band)).Bounds();
    const bool right = box.center().x() > photo.width() / 2.0;
    const bool bottom = box.center().y() > photo.height() / 2.0;
    return bottom ? (right ? Tk::baBottomRight : Tk::baBottomLeft)
                  : (right ? Tk::baTopRight : Tk::baTopLeft);
}

void DesignSurface::PhotoEdited(const QString& label, const QImage& before, bool beforeEdited,
                                bool beforeModified, const PhotoFollow& follow) {
    QList<QWidget*> bricks;
    for (QWidget* b : m_designer.Bricks())
        if (IsBrick(b) && LayoutOf(b))
            bricks.append(b);
    const QList<BrickState> was = captureStates(bricks);
    FollowPhoto(m_designer, follow);
    PhotoChanged(m_designer);
    const QList<BrickState> now = captureStates(bricks);
    RealignHandle();
    UpdateAnchorMark();
    // A step of the history either way; without a brick that moved it is no change of the
    // pattern (its id says so), so undoing it leaves the pattern's own state alone.
    m_undo->push(new BrickStateCommand(
        *this, label, was, now, BrickStateCommand::Photo{before, beforeEdited, beforeModified},
        BrickStateCommand::Photo{m_designer.realPicture, m_designer.PictureEdited,
                                 m_designer.PhotoModified},
        was == now));
    BoundPhotoHistory();
}

void DesignSurface::BoundPhotoHistory() {
    // Bytes of the pictures the history holds, each shared picture once, the open one aside.
    const auto heldBytes = [this] {
        QSet<qint64> seen{m_designer.realPicture.cacheKey()};
        qint64 bytes = 0;
        for (const BrickStateCommand* c : m_photoSteps)
            for (const QImage& p : c->Pictures())
                if (!seen.contains(p.cacheKey())) {
                    seen.insert(p.cacheKey());
                    bytes += p.sizeInBytes();
                }
        return bytes;
    };
    const auto holding = [this] {
        int n = 0;
        for (const BrickStateCommand* c : m_photoSteps)
            n += c->HoldsPictures() ? 1 : 0;
        return n;
    };
    // Oldest first; the newest step always keeps its picture.
    for (BrickStateCommand* c : m_photoSteps) {
        if (holding() <= 1 || (holding() <= kPhotoStepsKept && heldBytes() <= kPhotoHistoryBytes))
            break;
        c->DropPictures();
    }
}

int DesignSurface::PhotoStepsHeld() const {
    int n = 0;
    for (const BrickStateCommand* c : m_photoSteps)
        n += c->HoldsPictures() ? 1 : 0;
    return n;
}

void DesignSurface::UpdateAnchorMark() {
    const QList<QWidget*> selected = Selection();
    const BrickLayout* layout = selected.size() == 1 ? LayoutOf(selected.first()) : nullptr;
    if (!layout || !layout->anchored()) {
        m_handle->SetAnchorMark(std::nullopt);
        return;
    }
    const QRect r = selected.first()->geometry();
    // Just inside the brick at its anchored point, clear of the frame's squares.
    const auto along = [](AnchorSide side, int start, int extent) {
        const int inset = std::min(5, extent / 2);
        return side == AnchorSide::Start ? start + inset
               : side == AnchorSide::End ? start + extent - 1 - inset
                                         : start + extent / 2;
    };
    m_handle->SetAnchorMark(QPoint(along(HorizontalSide(layout->anchor), r.x(), r.width()),
                                   along(VerticalSide(layout->anchor), r.y(), r.height())));
}

void DesignSurface::RememberFont(QObject* brick) {
    auto* text = qobject_cast<TText*>(brick);
    if (!text)
        return;
    if (!m_lastFont)
        m_lastFont = std::make_unique<TFont>();
    m_lastFont->Assign(*text->Font());
}

void DesignSurface::MarkSaved() {
    m_undo->setClean();
}

void DesignSurface::ResetHistory() {
    m_pendingDrag.reset();
    m_undo->clear();
}

// --- Grid and layout -----------------------------------------------------------------------

int DesignSurface::GridX() const {
    return m_designer.GridX();
}

int DesignSurface::GridY() const {
    return m_designer.GridY();
}

bool DesignSurface::IsGrid() const {
    return m_designer.IsGrid();
}

void DesignSurface::SetGridX(int value) {
    m_designer.SetGridX(value);
}

void DesignSurface::SetGridY(int value) {
    m_designer.SetGridY(value);
}

void DesignSurface::SetIsGrid(bool value) {
    m_designer.SetIsGrid(value);
}

void DesignSurface::SyncGrid() {
    // The step the user chose is the step snapped to: a pattern read back snaps as it was saved.
    m_handle->setGridX(m_designer.IsGrid() ? m_designer.GridX() : 1);
    m_handle->setGridY(m_designer.IsGrid() ? m_designer.GridY() : 1);
    m_designer.update();
}

void DesignSurface::CenterPanel() {
    TcPanel* panel = m_designer.Panel1;
    const QSize preview = m_designer.PreviewSize();
    panel->resize(1, 1);
    const int top = (m_designer.height() - preview.height()) / 2;
    const int left = (m_designer.width() - preview.width()) / 2;
    panel->move(std::max(left, 0), std::max(top, 0));
    panel->resize(preview);
    m_designer.update();
}

// --- Popup menu ----------------------------------------------------------------------------

void DesignSurface::SetPopupImages(const QList<QIcon>& images) {
    const auto apply = [&](QMenu* menu, auto& self) -> void {
        for (QAction* a : menu->actions()) {
            const int index = a->property("ImageIndex").toInt();
            a->setIcon(index >= 0 && index < images.size() ? images[index] : QIcon());
            if (a->menu())
                self(a->menu(), self);
        }
    };
    apply(m_popup, apply);
}

void DesignSurface::WindowActivated() {
    RealignHandle();
}

void DesignSurface::BuildPopup() {
    m_popup = new QMenu;
    m_popup->setObjectName(QStringLiteral("odPopupMenu"));
    auto item = [](QAction* a, const char* name, int tag, int image) {
        a->setObjectName(QString::fromLatin1(name));
        a->setProperty("Tag", tag);
        a->setProperty("ImageIndex", image);
        return a;
    };
    QMenu* edit = m_popup->addMenu(QStringLiteral("Edit"));
    m_actEdit = item(edit->menuAction(), "odmEdit", kTagMenuFurniture, -1);
    m_actCopy = item(edit->addAction(QStringLiteral("Copy")), "odmCopy", kTagCopy, 4);
    m_actCut = item(edit->addAction(QStringLiteral("Cut")), "odmCut", kTagCut, 3);
    m_actPaste = item(edit->addAction(QStringLiteral("Paste")), "odmPaste", kTagPaste, 5);
    QMenu* control = m_popup->addMenu(QStringLiteral("Control"));
    m_actControl = item(control->menuAction(), "odmControl", kTagMenuFurniture, -1);
    m_actFront = item(control->addAction(QStringLiteral("Bring to Front")), "odmBringtoFront",
                      kTagBringToFront, 7);
    m_actBack = item(control->addAction(QStringLiteral("Sent to Back")), "odmSenttoBack",
                     kTagSendToBack, 8);
    m_actAnchor = item(m_popup->addAction(QStringLiteral("Anchor to Corner")), "odmAnchor",
                       kTagMenuFurniture, -1);
    m_actAnchor->setCheckable(true);
    item(m_popup->addSeparator(), "odmSeparator", kTagMenuFurniture, -1);
    m_actDelete =
        item(m_popup->addAction(QStringLiteral("Delete")), "odmDelete", kTagMenuFurniture, 6);

    // Copy, Cut and Paste share one handler, told apart by the item's Tag; so do the z-order
    // items.
    auto editClick = [this](QAction* a) {
        switch (a->property("Tag").toInt()) {
        case kTagCopy:
            CopyBricks(PopupBricks());
            break;
        case kTagCut:
            CutBricks(PopupBricks());
            break;
        case kTagPaste:
            PasteBrick();
            break;
        default:
            return;
        }
        m_designer.update();
        m_handle->BringSelectionToFront();
    };
    for (QAction* a : {m_actCopy, m_actCut, m_actPaste})
        connect(a, &QAction::triggered, this, [editClick, a] { editClick(a); });
    for (QAction* a : {m_actFront, m_actBack})
        connect(a, &QAction::triggered, this, [this, a] {
            QList<QWidget*> bricks = Selection();
            if (!bricks.contains(m_target))
                bricks = {m_target};
            ChangeZOrder(bricks, a->property("Tag").toInt() == kTagBringToFront);
        });
    connect(m_actAnchor, &QAction::triggered, this, [this] {
        // The selection when the target is in it, else the target alone.
        QList<QWidget*> bricks = Selection();
        if (!bricks.contains(m_target))
            bricks = {m_target};
        const bool release = m_actAnchor->isChecked() == false;
        SetAnchor(bricks, [this, release](QWidget* brick) {
            return release ? Tk::baNone : NearestCorner(brick);
        });
    });
    connect(m_actDelete, &QAction::triggered, this, [this] {
        if (m_target)
            DeleteBricks(PopupBricks());
    });
}

QAction* DesignSurface::PopupAction(int tag) const {
    switch (tag) {
    case kTagCopy:
        return m_actCopy;
    case kTagCut:
        return m_actCut;
    case kTagPaste:
        return m_actPaste;
    case kTagBringToFront:
        return m_actFront;
    case kTagSendToBack:
        return m_actBack;
    case kTagMenuFurniture:
        return m_actDelete;
    default:
        return nullptr;
    }
}

void DesignSurface::ShowPopup(QWidget* hit, const QPoint* globalPos) {
    const bool brick = IsBrick(hit);
    m_actDelete->setEnabled(brick);
    m_actCopy->setEnabled(brick);
    m_actCut->setEnabled(brick);
    m_actControl->setVisible(brick);
    const BrickLayout* layout = brick ? LayoutOf(brickProper(hit)) : nullptr;
    m_actAnchor->setEnabled(layout != nullptr);
    m_actAnchor->setChecked(layout && layout->anchored());
    m_actPaste->setEnabled(CanPaste());
    m_target = hit;
    if (globalPos)
        m_popup->popup(*globalPos);
}

// --- Registries ----------------------------------------------------------------------------

bool DesignSurface::RegisterPropertyEditor(const PropertyEditorEntry& editor) {
    for (const auto& e : m_propertyEditors)
        if (e->kind == editor.kind && e->typeName == editor.typeName &&
            e->propertyName == editor.propertyName)
            return false;
    m_propertyEditors.push_back(std::make_unique<PropertyEditorEntry>(editor));
    return true;
}

const PropertyEditorEntry* DesignSurface::FindPropertyEditor(const PropertyRowKey& row) const {
    const PropertyEditorEntry* ofType = nullptr;
    const PropertyEditorEntry* ofName = nullptr;
    for (const auto& e : m_propertyEditors) {
        if (e->kind != row.kind || e->typeName != row.typeName)
            continue;
        ofType = e.get();
        if (e->propertyName == row.propertyName)
            ofName = e.get();
    }
    return ofName ? ofName : ofType;
}

const PropertyEditorEntry& DesignSurface::GetPropertyEditor(const PropertyRowKey& row) const {
    if (const PropertyEditorEntry* e = FindPropertyEditor(row))
        return *e;
    throw Exception(QStringLiteral("Editor for property \"%1\" as class \"%2\" not found.")
                        .arg(row.propertyName, row.typeName));
}

bool DesignSurface::RegisterComponentEditor(const ComponentEditorEntry& editor) {
    for (const auto& e : m_componentEditors)
        if (e->className == editor.className)
            return false;
    m_componentEditors.push_back(std::make_unique<ComponentEditorEntry>(editor));
    return true;
}

const ComponentEditorEntry* DesignSurface::FindComponentEditor(const QWidget* control) const {
    if (!control)
        return nullptr;
    const QString cls = QString::fromLatin1(control->metaObject()->className());
    const ComponentEditorEntry* found = nullptr;
    for (const auto& e : m_componentEditors)
        if (e->className == cls)
            found = e.get();
    return found;
}

bool DesignSurface::EditsOnCreate(const QWidget* control) const {
    const ComponentEditorEntry* e = FindComponentEditor(control);
    return e && e->editsOnCreate;
}

bool DesignSurface::EditsOnRequest(const QWidget* control) const {
    const ComponentEditorEntry* e = FindComponentEditor(control);
    return e && e->editsOnRequest;
}

bool DesignSurface::EditBrick(QWidget* control) {
    const ComponentEditorEntry* e = FindComponentEditor(control);
    return e && e->editsOnRequest && e->edit && e->edit(control);
}

bool DesignSurface::HideProperty(const QString& className, const QString& propertyName) {
    if (IsPropertyHidden(className, propertyName))
        return false;
    m_hidden.append({className, propertyName});
    return true;
}

bool DesignSurface::IsPropertyHidden(const QString& className, const QString& propertyName) const {
    for (const auto& h : m_hidden)
        if (h.first == className && h.second.compare(propertyName, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// --- Input ---------------------------------------------------------------------------------

bool DesignSurface::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (m_bandOrigin && (type == QEvent::MouseMove || type == QEvent::MouseButtonRelease))
        return HandleBand(event);
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::KeyPress)
        return false;
    auto* receiver = qobject_cast<QWidget*>(watched);
    // Only the designer's own widgets: input for other windows (inspector, dialogs) passes.
    if (!receiver || !(receiver == &m_designer || m_designer.isAncestorOf(receiver)))
        return false;
    if (type == QEvent::KeyPress)
        return HandleKey(receiver, event);
    return HandleMouse(receiver, event);
}

bool DesignSurface::HandleMouse(QWidget*, QEvent* event) {
    auto* me = static_cast<QMouseEvent*>(event);
    const QPoint global = me->globalPosition().toPoint();
    const QPoint p = m_designer.mapFromGlobal(global);
    const QRect panel = m_designer.Panel1->geometry();
    if (p.x() < panel.left() || p.x() > panel.left() + panel.width() || p.y() < panel.top() ||
        p.y() > panel.top() + panel.height())
        return false;
    m_lastHit = p;

    if (event->type() == QEvent::MouseButtonDblClick) {
        if (me->button() != Qt::LeftButton)
            return false;
        QWidget* hit = ControlAtPoint(p);
        m_target = hit;
        if (!IsBrick(hit))
            return false;
        m_handle->DetachAll();
        if (EditsOnRequest(hit))
            EditBrick(hit);
        else
            emit inspectorWanted();
        if (hit->parentWidget()) { // the editor may have deleted it
            m_handle->setSizable(qobject_cast<TPictureimg*>(hit) != nullptr);
            m_handle->Attach(hit);
            Inspect(hit);
        }
        emit selectionChanged();
        return true;
    }

    if (me->button() == Qt::RightButton) {
        ShowPopup(ControlAtPoint(p), &global);
        return true;
    }
    if (me->button() != Qt::LeftButton)
        return false;

    QWidget* hit = nullptr;
    const QString pending = TakePendingClass();
    if (!pending.isEmpty()) {
        hit = PlaceBrick(pending, p);
    } else {
        hit = ControlAtPoint(p);
    }
    const bool shift = me->modifiers() & Qt::ShiftModifier;
    if (!IsBrick(hit)) {
        // The bare picture: a rubber band starts here; a plain click clears the selection.
        if (!shift)
            ClearSelection();
        if (pending.isEmpty()) {
            m_bandOrigin = p - m_designer.Panel1->pos();
            m_bandAdds = shift;
            m_band = QRect();
        }
        return true;
    }
    if (shift && m_handle->HasSelection()) {
        ToggleSelection(hit);
        return true;
    }
    if (m_handle->IndexOf(hit) >= 0)
        return false; // already selected: the press goes on to the frame as a drag
    Select(hit);
    return true;
}

bool DesignSurface::HandleBand(QEvent* event) {
    auto* me = static_cast<QMouseEvent*>(event);
    TcPanel* panel = m_designer.Panel1;
    const QPoint at = panel->mapFromGlobal(me->globalPosition().toPoint());
    const QPoint clamped(std::clamp(at.x(), 0, panel->width()),
                         std::clamp(at.y(), 0, panel->height()));
    const QRect band = QRect(*m_bandOrigin, clamped).normalized();
    if (event->type() == QEvent::MouseMove) {
        if (!(me->buttons() & Qt::LeftButton)) {
            m_bandOrigin.reset();
            delete m_bandWidget.data();
            return false;
        }
        // A few pixels of a shaking hand are still a click.
        if (m_band.isNull() && (clamped - *m_bandOrigin).manhattanLength() < 3)
            return true;
        m_band = band;
        if (!m_bandWidget) {
            m_bandWidget = new QRubberBand(QRubberBand::Rectangle, panel);
            m_bandWidget->setObjectName(QStringLiteral("SelectionBand"));
        }
        m_bandWidget->setGeometry(band);
        m_bandWidget->show();
        m_bandWidget->raise();
        return true;
    }
    if (me->button() != Qt::LeftButton)
        return false;
    const bool drawn = !m_band.isNull();
    m_bandOrigin.reset();
    m_band = QRect();
    delete m_bandWidget.data();
    if (drawn)
        SelectInRect(band, m_bandAdds);
    return true;
}

QRect DesignSurface::BandRect() const {
    return m_band;
}

bool DesignSurface::HandleKey(QWidget* receiver, QEvent* event) {
    auto* ke = static_cast<QKeyEvent*>(event);
    if (!m_handle->HasSelection())
        return false;
    switch (ke->key()) {
    case Qt::Key_Delete:
        DeleteBricks(Selection());
        return true;
    case Qt::Key_Escape:
        // During a drag it ends the drag and leaves everything where it was.
        if (m_handle->Dragging())
            m_handle->CancelDrag();
        else
            ClearSelection();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (receiver == m_handle)
            return false;
        QCoreApplication::sendEvent(m_handle, event);
        return true;
    default:
        return false;
    }
}
