#include "designer/handles/TStretchHandle.h"

#include "platform/TControl.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

using namespace StretchGeometry;

// The dotted outline of where the selection lands, shown on the parent during a drag. It takes no
// input, so presses and the pass-on search never see it.
class TDragOutline : public QWidget {
public:
    explicit TDragOutline(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (width() < 1 || height() < 1)
            return;
        QPainter p(this);
        const QRect r = rect().adjusted(0, 0, -1, -1);
        // White under black dots, so the outline shows on light and dark pictures alike.
        p.setPen(QPen(Qt::white, 1, Qt::SolidLine));
        p.drawRect(r);
        p.setPen(QPen(Qt::black, 1, Qt::DotLine));
        p.drawRect(r);
    }
};

namespace {

QRect BoundsOf(const QWidget* w) {
    return w->geometry();
}

void PlaceControl(QWidget* control, const QRect& r) {
    if (auto* tc = qobject_cast<TControl*>(control))
        tc->SetBounds(r.x(), r.y(), r.width(), r.height());
    else
        control->setGeometry(r.x(), r.y(), std::max(0, r.width()), std::max(0, r.height()));
}

} // namespace

TStretchHandle::TStretchHandle(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    resize(IdleFrameSize, IdleFrameSize);
    setEnabled(false);
    hide();
}

TStretchHandle::~TStretchHandle() {
    ReleaseCapture();
    delete m_outline.data();
}

// --- Selection
// ------------------------------------------------------------------------------------

QList<QRect> TStretchHandle::SelectionRects() const {
    QList<QRect> rects;
    for (const auto& c : m_selection)
        if (c)
            rects << BoundsOf(c);
    return rects;
}

void TStretchHandle::Attach(QWidget* control) {
    if (!control)
        return;
    if (control->isWindow())
        throw EBadChild(QStringLiteral("Handles can not be attached to a Form!"));
    if (IndexOf(control) >= 0)
        return;
    if (HasSelection() && control->parentWidget() != parentWidget())
        DetachAll();
    m_selection.removeAll(nullptr);

    if (!HasSelection()) {
        if (parentWidget() != control->parentWidget())
            setParent(control->parentWidget());
        m_rubberBand = QRect();
        setEnabled(true);
        show();
        // The frame's own geometry, not SetBounds: the controls stay where they are.
        setGeometry(FrameForControl(BoundsOf(control)));
    } else {
        setGeometry(GrowFrame(geometry(), BoundsOf(control)));
    }
    m_selection.append(control);
    m_dragZone = zMove;

    raise();
    // The press that selected the control can go on as a drag of the frame.
    Capture();
    FocusIfPossible();
    update();
}

void TStretchHandle::DetachAll() {
    ReleaseCapture();
    EraseRubberBand();
    m_selection.clear();
    m_locked = false;
    m_dragging = false;
    m_dragZone = zMove;
    resize(IdleFrameSize, IdleFrameSize);
    setEnabled(false);
    hide();
    if (parentWidget())
        setParent(nullptr);
    m_rubberBand = QRect();
}

int TStretchHandle::IndexOf(const QWidget* control) const {
    int index = 0;
    for (const auto& c : m_selection) {
        if (!c)
            continue;
        if (c == control)
            return index;
        ++index;
    }
    return -1;
}

bool TStretchHandle::HasSelection() const {
    return SelectionCount() > 0;
}

int TStretchHandle::SelectionCount() const {
    int n = 0;
    for (const auto& c : m_selection)
        n += c ? 1 : 0;
    return n;
}

QWidget* TStretchHandle::SelectedControl(int index) const {
    if (index < 0)
        return nullptr;
    for (const auto& c : m_selection) {
        if (!c)
            continue;
        if (index-- == 0)
            return c;
    }
    return nullptr;
}

void TStretchHandle::BringSelectionToFront() {
    if (!HasSelection() || m_locked)
        return;
    for (const auto& c : m_selection)
        if (c)
            c->raise();
    raise();
    if (isVisible() && isEnabled())
        setFocus();
}

void TStretchHandle::SetBounds(int left, int top, int width, int height) {
    if (m_locked)
        return;
    const QRect to(left, top, width, height);
    const QList<QRect> placed = FollowFrame(geometry(), to, SelectionRects());
    int i = 0;
    for (const auto& c : m_selection)
        if (c)
            PlaceControl(c, placed[i++]);
    setGeometry(to);
}

// --- Properties
// -----------------------------------------------------------------------------------

bool TStretchHandle::SnapToGrid() const {
    return SnapToGridOf(m_gridX, m_gridY);
}

void TStretchHandle::setSnapToGrid(bool v) {
    m_gridX = m_gridY = GridForSnap(v);
}

void TStretchHandle::setColor(TColor v) {
    m_color = v;
    update();
}

void TStretchHandle::setSecondaryColor(TColor v) {
    m_secondaryColor = v;
    update();
}

void TStretchHandle::setLocked(bool v) {
    m_locked = v;
    ShowCursorId(v ? crNoDrop : crDefault);
}

void TStretchHandle::setHint(const QString& v) {
    m_hint = v;
    setToolTip(v);
}

// --- Painting
// -------------------------------------------------------------------------------------

void TStretchHandle::SetAnchorMark(std::optional<QPoint> inParent) {
    if (m_anchorMark == inParent)
        return;
    m_anchorMark = inParent;
    update();
}

void TStretchHandle::paintEvent(QPaintEvent*) {
    const QList<QRect> controls = SelectionRects();
    if (controls.isEmpty())
        return;
    QPainter p(this);
    const QColor colour = TColorToQColor(controls.size() == 1 ? m_color : m_secondaryColor);
    // A light rim round a core of the handle's colour: seen on dark photos and light ones.
    const QColor rim = colour.lightness() > 160 ? QColor(Qt::black) : QColor(Qt::white);
    for (const QRect& r : HandleSquares(geometry(), controls)) {
        p.fillRect(r, rim);
        p.fillRect(r.adjusted(1, 1, -1, -1), colour);
    }
    if (m_anchorMark) {
        // A ring with a dot, blue over white: legible on any photo.
        const QPointF at = QPointF(*m_anchorMark - pos()) + QPointF(0.5, 0.5);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 3));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(at, 4.5, 4.5);
        p.setPen(QPen(QColor(0, 120, 215), 1.5));
        p.drawEllipse(at, 4.5, 4.5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 120, 215));
        p.drawEllipse(at, 1.6, 1.6);
    }
}

// --- Mouse
// ----------------------------------------------------------------------------------------

bool TStretchHandle::SizingOffered() const {
    return m_sizable && SelectionCount() == 1;
}

bool TStretchHandle::InGrabArea(QPoint p) const {
    const QRect frame = geometry();
    for (const QRect& c : SelectionRects())
        if (GrabRect(frame, c).contains(p))
            return true;
    return false;
}

QPoint TStretchHandle::Clamped(QPoint p) const {
    const QSize parentSize = parentWidget() ? parentWidget()->size() : size();
    return ClampPointer(p, pos(), parentSize);
}

void TStretchHandle::ShowCursorId(TCursor id) {
    m_cursorId = id;
    if (id == crDefault)
        unsetCursor();
    else
        setCursor(CursorShapeFor(id));
}

void TStretchHandle::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    event->accept();
    if (!InGrabArea(p)) {
        ShowCursorId(crDefault);
        PassOn(event);
        return;
    }
    m_swallowRelease = false;
    if (event->button() == Qt::LeftButton && !m_locked) {
        if (!SizingOffered())
            m_dragZone = zMove;
        m_dragOrigin = p;
        m_dragging = true;
    }
    emit mouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TStretchHandle::mouseDoubleClickEvent(QMouseEvent* event) {
    emit doubleClicked();
    mousePressEvent(event);
}

void TStretchHandle::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    const bool leftHeld = event->buttons() & Qt::LeftButton;
    if (!m_dragging) {
        if (leftHeld && !m_locked && HasSelection()) {
            if (!SizingOffered())
                m_dragZone = zMove;
            m_dragOrigin = p;
            m_dragging = true;
        } else if (!leftHeld) {
            ReleaseCapture();
            m_dragZone = ZoneAt(p, size(), SizingOffered());
            ShowCursorId(CursorForZone(m_dragZone, m_locked));
        }
    } else {
        const QPoint c = Clamped(p);
        if (m_dragZone == zMove)
            ShowCursorId(m_dragCursor);
        else
            ShowCursorId(CursorForZone(ZoneAt(p, size(), SizingOffered())));
        const QRect landing = Landing(c);
        DrawRubberBand(landing);
        emit dragMoved(landing);
    }
    event->accept();
    emit mouseMove(event->buttons(), event->modifiers(), p.x(), p.y());
}

void TStretchHandle::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    event->accept();
    if (m_swallowRelease && event->button() == Qt::LeftButton) {
        m_swallowRelease = false; // the end of a cancelled drag
        return;
    }
    if (!m_dragging || event->button() != Qt::LeftButton) {
        PassOn(event);
        return;
    }
    m_dragging = false;
    const QPoint c = Clamped(p);
    const QList<QRect> before = SelectionRects();
    const bool moved = c != m_dragOrigin;
    if (moved) {
        const QRect f = Landing(c);
        SetBounds(f.x(), f.y(), f.width(), f.height());
    }
    EraseRubberBand();
    if (parentWidget())
        parentWidget()->update();
    update();
    FocusIfPossible();
    ShowCursorId(crDefault);
    ReleaseCapture();

    const QList<QRect> after = SelectionRects();
    if (before != after)
        emit dragFinished(before, after);
    else
        emit clicked();
    emit mouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void TStretchHandle::CancelDrag() {
    if (!m_dragging)
        return;
    m_dragging = false;
    m_swallowRelease = true;
    EraseRubberBand();
    ShowCursorId(crDefault);
    ReleaseCapture();
    emit dragCancelled();
}

QRect TStretchHandle::Landing(QPoint clampedPointer) const {
    const QRect f =
        DraggedFrame(clampedPointer, m_dragOrigin, geometry(), m_dragZone, m_gridX, m_gridY);
    // A move keeps some of the selection on the picture; a resize keeps its fixed edges there.
    if (m_dragZone != zMove || !parentWidget())
        return f;
    return KeptOnParent(f, parentWidget()->size());
}

void TStretchHandle::PassOn(QMouseEvent* event) {
    QWidget* parent = parentWidget();
    if (!parent)
        return;
    const QPoint inParent = mapToParent(event->position().toPoint());
    QWidget* target = parent;
    QPoint local = inParent;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w->isWindow() || qobject_cast<TStretchHandle*>(w) ||
            dynamic_cast<TDragOutline*>(w))
            continue;
        if (w->geometry().contains(inParent)) {
            target = w;
            local = inParent - w->pos();
            break;
        }
    }
    const bool press = event->type() != QEvent::MouseButtonRelease;
    QMouseEvent passed(press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease,
                       QPointF(local), QPointF(target->mapToGlobal(local)), event->button(),
                       press ? Qt::MouseButtons(event->button()) : Qt::MouseButtons(Qt::NoButton),
                       Qt::NoModifier);
    QCoreApplication::sendEvent(target, &passed);
}

void TStretchHandle::DrawRubberBand(const QRect& frame) {
    QWidget* parent = parentWidget();
    if (!parent)
        return;
    if (!m_outline)
        m_outline = new TDragOutline(parent);
    m_rubberBand = frame;
    m_outline->setGeometry(RubberBandRect(frame));
    m_outline->show();
    m_outline->raise();
    m_outline->update();
}

void TStretchHandle::EraseRubberBand() {
    delete m_outline.data();
    m_rubberBand = QRect();
}

void TStretchHandle::Capture() {
    if (isVisible() && QWidget::mouseGrabber() != this)
        grabMouse();
}

void TStretchHandle::ReleaseCapture() {
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
}

void TStretchHandle::FocusIfPossible() {
    if (isVisible() && isEnabled() && focusPolicy() != Qt::NoFocus)
        setFocus();
}

void TStretchHandle::contextMenuEvent(QContextMenuEvent* event) {
    if (m_popupMenu) {
        m_popupMenu->popup(event->globalPos());
        event->accept();
    } else {
        event->ignore();
    }
}

// --- Keyboard
// -------------------------------------------------------------------------------------

void TStretchHandle::keyPressEvent(QKeyEvent* event) {
    int dx = 0, dy = 0;
    switch (event->key()) {
    case Qt::Key_Left:
        dx = -1;
        break;
    case Qt::Key_Right:
        dx = 1;
        break;
    case Qt::Key_Up:
        dy = -1;
        break;
    case Qt::Key_Down:
        dy = 1;
        break;
    default:
        break;
    }
    if (event->key() == Qt::Key_Escape && m_dragging) {
        CancelDrag();
        event->accept();
        emit keyDown(event->key(), event->modifiers());
        return;
    }
    if (dx != 0 || dy != 0) {
        // Shift resizes, and only a control that could be resized by dragging.
        const bool resize = event->modifiers() & Qt::ShiftModifier;
        if (!m_locked && HasSelection() && (!resize || SizingOffered())) {
            const QList<QRect> before = SelectionRects();
            const QRect f = NudgedFrame(geometry(), dx, dy, resize);
            SetBounds(f.x(), f.y(), f.width(), f.height());
            const QList<QRect> after = SelectionRects();
            if (before != after)
                emit nudged(before, after, resize);
        }
        event->accept();
    } else {
        // Other keys go on to the parent, as the surface previews them.
        event->ignore();
    }
    emit keyDown(event->key(), event->modifiers());
    if (!event->text().isEmpty())
        emit keyPress(event->text());
}

void TStretchHandle::keyReleaseEvent(QKeyEvent* event) {
    event->ignore();
    emit keyUp(event->key(), event->modifiers());
}
