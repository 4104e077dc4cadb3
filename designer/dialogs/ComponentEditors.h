#pragma once

#include "designer/dialogs/BrickSnapshot.h"

#include <QString>
#include <memory>
#include <vector>

class QWidget;

// A brick editor: the edit dialog of one brick class, run when such a brick is placed from the
// palette (EditsOnCreate) and on a double-click (EditsOnRequest).
class TOComponentEditor {
public:
    virtual ~TOComponentEditor() = default;
    virtual QString GetClassName() const = 0;
    // Runs the dialog on the brick. True when the user chose Ok.
    virtual bool Edit(QWidget* brick) = 0;

    bool EditsOnRequest = false;
    bool EditsOnCreate = false;
    // Told once per kept change (see BrickCommit); Cancel restores the brick and tells nothing.
    BrickCommit OnCommit;
};

// The text, date, time and bubble editors: snapshot, the live dialog, and on anything but Ok the
// snapshot put back.
class TOTextComponentEditor : public TOComponentEditor {
public:
    TOTextComponentEditor();
    QString GetClassName() const override { return QStringLiteral("TText"); }
    bool Edit(QWidget* brick) override;
};

class TOTextDateComponentEditor : public TOComponentEditor {
public:
    TOTextDateComponentEditor();
    QString GetClassName() const override { return QStringLiteral("TTextDate"); }
    bool Edit(QWidget* brick) override;
};

class TOTextTimeComponentEditor : public TOComponentEditor {
public:
    TOTextTimeComponentEditor();
    QString GetClassName() const override { return QStringLiteral("TTextTime"); }
    bool Edit(QWidget* brick) override;
};

class TOBubbleComponentEditor : public TOComponentEditor {
public:
    TOBubbleComponentEditor();
    QString GetClassName() const override { return QStringLiteral("TTextBubble"); }
    bool Edit(QWidget* brick) override;
};

// The picture brick: an open-picture dialog; on Ok the picture loads the file (a file that
// cannot be read is reported and the old picture kept). Ok or not, the brick is then sized from
// its picture; OnCommit is told whenever that changed the brick.
class TOPictureComponentEditor : public TOComponentEditor {
public:
    TOPictureComponentEditor();
    QString GetClassName() const override { return QStringLiteral("TPictureimg"); }
    bool Edit(QWidget* brick) override;
};

// The open-picture dialog's filter, for the picture brick and the Picture property.
extern const QString PictureFileFilter;
// Its last entry, chosen when the dialog opens.
extern const QString AllPicturesFilter;

// The brick editors by class name (with case), in registration order.
class TComponentEditorRegistry {
public:
    bool Register(std::unique_ptr<TOComponentEditor> editor);
    TOComponentEditor* Find(const QString& className) const;
    TOComponentEditor* Find(const QWidget* brick) const;
    // Every editor tells this one.
    void SetOnCommit(const BrickCommit& onCommit);

private:
    std::vector<std::unique_ptr<TOComponentEditor>> m_editors;
};

// The five brick editors, as the surface registers them.
void RegisterBrickEditors(TComponentEditorRegistry& registry);
