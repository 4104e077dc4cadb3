#include "designer/dialogs/ComponentEditors.h"

#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/dialogs/BrickDialogs.h"
#include "designer/dialogs/DialogHooks.h"
#include "imaging/core/PictureLoader.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Rounding.h"

const QString PictureFileFilter =
    QStringLiteral("Bitmaps (*.bmp);;Jpeg Images (*.jpg *.jpeg);;PNG Images (*.png);;"
                   "GIF Images (*.gif);;Icons (*.ico);;"
                   "All images (*.bmp *.jpg *.jpeg *.png *.gif *.ico)");
const QString AllPicturesFilter =
    QStringLiteral("All images (*.bmp *.jpg *.jpeg *.png *.gif *.ico)");

namespace {

// The live dialog on its brick: what the user did stays on Ok; anything else (Cancel, closing,
// a failure) puts the snapshot back.
template <typename Brick, typename Dialog>
bool runLive(const TOComponentEditor& editor, QWidget* widget) {
    auto* brick = qobject_cast<Brick*>(widget);
    if (!brick)
        return false;
    const BrickSnapshot before = TakeBrickSnapshot(brick);
    int result = QDialog::Rejected;
    try {
        // Over the window the brick is in, not wherever the system puts a dialog of its own.
        Dialog dialog(brick, brick->window() != brick ? brick->window() : nullptr);
        result = EditorDialogs().Exec(dialog);
    } catch (...) {
        RestoreBrickSnapshot(brick, before);
        throw;
    }
    if (result != QDialog::Accepted) {
        RestoreBrickSnapshot(brick, before);
        return false;
    }
    if (editor.OnCommit)
        editor.OnCommit(brick, before, TakeBrickSnapshot(brick));
    return true;
}

template <typename Editor>
void bothFlags(Editor& e) {
    e.EditsOnRequest = true;
    e.EditsOnCreate = true;
}

} // namespace

TOTextComponentEditor::TOTextComponentEditor() {
    bothFlags(*this);
}
bool TOTextComponentEditor::Edit(QWidget* brick) {
    // A date, time or bubble brick is a TText too, but has its own editor.
    if (brick && brick->metaObject() != &TText::staticMetaObject)
        return false;
    return runLive<TText, TOPropertyStringsEditor>(*this, brick);
}

TOTextDateComponentEditor::TOTextDateComponentEditor() {
    bothFlags(*this);
}
bool TOTextDateComponentEditor::Edit(QWidget* brick) {
    return runLive<TTextDate, TOPropertyDateEditor>(*this, brick);
}

TOTextTimeComponentEditor::TOTextTimeComponentEditor() {
    bothFlags(*this);
}
bool TOTextTimeComponentEditor::Edit(QWidget* brick) {
    return runLive<TTextTime, TOPropertyTimeEditor>(*this, brick);
}

TOBubbleComponentEditor::TOBubbleComponentEditor() {
    bothFlags(*this);
}
bool TOBubbleComponentEditor::Edit(QWidget* brick) {
    return runLive<TTextBubble, TOPropertyBubbleEditor>(*this, brick);
}

TOPictureComponentEditor::TOPictureComponentEditor() {
    bothFlags(*this);
}

bool TOPictureComponentEditor::Edit(QWidget* widget) {
    auto* brick = qobject_cast<TPictureimg*>(widget);
    if (!brick)
        return false;
    const BrickSnapshot before = TakeBrickSnapshot(brick);
    FileDialogRequest request;
    request.title = QStringLiteral("Picture");
    request.filter = PictureFileFilter;
    request.selectedFilter = AllPicturesFilter;
    const QString file = EditorDialogs().OpenFile ? EditorDialogs().OpenFile(request) : QString();
    if (!file.isEmpty()) {
        try {
            LoadedGraphic g = LoadGraphicFile(file);
            brick->Picture()->setGraphic({g.className, g.data, g.image});
        } catch (const Exception& e) {
            ShowError(e.message());
        }
    }
    const QSize size = brick->Picture()->image().size();
    const double zoom = ZoomRatioOf(brick);
    brick->FullWidth = size.width();
    brick->FullHeight = size.height();
    brick->SetBounds(brick->Left(), brick->Top(), RoundHalfEven(size.width() / zoom),
                     RoundHalfEven(size.height() / zoom));
    const BrickSnapshot after = TakeBrickSnapshot(brick);
    if (OnCommit && after != before)
        OnCommit(brick, before, after);
    return !file.isEmpty();
}

bool TComponentEditorRegistry::Register(std::unique_ptr<TOComponentEditor> editor) {
    if (Find(editor->GetClassName()))
        return false;
    m_editors.push_back(std::move(editor));
    return true;
}

TOComponentEditor* TComponentEditorRegistry::Find(const QString& className) const {
    for (const auto& e : m_editors)
        if (e->GetClassName() == className)
            return e.get();
    return nullptr;
}

TOComponentEditor* TComponentEditorRegistry::Find(const QWidget* brick) const {
    return brick ? Find(QString::fromLatin1(brick->metaObject()->className())) : nullptr;
}

void TComponentEditorRegistry::SetOnCommit(const BrickCommit& onCommit) {
    for (const auto& e : m_editors)
        e->OnCommit = onCommit;
}

void RegisterBrickEditors(TComponentEditorRegistry& registry) {
    registry.Register(std::make_unique<TOPictureComponentEditor>());
    registry.Register(std::make_unique<TOTextComponentEditor>());
    registry.Register(std::make_unique<TOTextDateComponentEditor>());
    registry.Register(std::make_unique<TOTextTimeComponentEditor>());
    registry.Register(std::make_unique<TOBubbleComponentEditor>());
}
