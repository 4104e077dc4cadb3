#pragma once

#include "imaging/core/PictureLoader.h"
#include "inspector/PropertyRows.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTreeWidget;

// The property editors the inspector offers behind a row's ellipsis button. An editor of a value
// type (colour, cursor, caption) puts its result into the row's value text, which the inspector
// then writes; an editor of a nested object (font, constraints, ...) writes the object's changed
// values itself through Writer(), as one group.

class TOColorEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TColor"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkInteger; }
    void GetValues(TPropertyDescription& row) override;
    QString GetValueText(const TPropertyDescription& row) override;
    QString SetValue(TPropertyDescription& row) override;
    bool Edit(TPropertyDescription& row) override;
};

class TOCursorEditor : public TPropertyEditor {
public:
    TOCursorEditor();
    QString GetTypeName() const override { return QStringLiteral("TCursor"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkInteger; }
    void GetValues(TPropertyDescription& row) override;
    QString GetValueText(const TPropertyDescription& row) override;
    QString SetValue(TPropertyDescription& row) override;
    bool Edit(TPropertyDescription& row) override;

private:
    QStringList m_cursors;
};

class TOFontEditor : public TPropertyEditor {
public:
    TOFontEditor();
    QString GetTypeName() const override { return QStringLiteral("TFont"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void GetValues(TPropertyDescription& row) override;
    QString GetValueText(const TPropertyDescription&) override { return QString(); }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;

private:
    QStringList m_fonts;
    QStringList m_charsets;
};

// Icon, bitmap and picture rows all hold a TPicture here; each loads into its Data.
class TOIconEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TIcon"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void GetValues(TPropertyDescription&) override {}
    QString GetValueText(const TPropertyDescription&) override { return QString(); }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;
};

class TOConstraintsEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TSizeConstraints"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void GetValues(TPropertyDescription& row) override { row.ValueList.clear(); }
    QString GetValueText(const TPropertyDescription&) override { return QString(); }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;
};

class TOPropertyScrollBarEditor;

// Stays the registry's pending editor while its dialog is open, so that a write from the
// inspector meanwhile refreshes the dialog.
class TOScrollBarEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TControlScrollBar"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void Changed() override;
    void GetValues(TPropertyDescription& row) override { row.ValueList.clear(); }
    QString GetValueText(const TPropertyDescription&) override { return QString(); }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;
    int ChangedCount() const { return m_changed; }

private:
    QPointer<TOPropertyScrollBarEditor> m_dialog;
    int m_changed = 0;
};

// A string list: the nested object's Text, one line a string.
class TOStringsEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TStrings"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void GetValues(TPropertyDescription& row) override { row.ValueList.clear(); }
    QString GetValueText(const TPropertyDescription&) override { return QString(); }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;
};

class TOCaptionEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TCaption"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkLString; }
    void GetValues(TPropertyDescription& row) override { row.ValueList.clear(); }
    QString GetValueText(const TPropertyDescription& row) override { return row.ValueText; }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;
};

class TOPropertyMenuEditor;

// Shows the menu dialog without waiting; Changed refreshes it.
class TOMenuEditor : public TPropertyEditor {
public:
    ~TOMenuEditor() override;
    QString GetTypeName() const override { return QStringLiteral("TMenuItem"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void Changed() override;
    void GetValues(TPropertyDescription& row) override { row.ValueList.clear(); }
    QString GetValueText(const TPropertyDescription&) override { return QStringLiteral("Menu"); }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;
    TOPropertyMenuEditor* Dialog() const { return m_dialog; }

private:
    QPointer<TOPropertyMenuEditor> m_dialog;
};

class TOBitmapEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TBitmap"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void GetValues(TPropertyDescription& row) override { row.ValueList.clear(); }
    QString GetValueText(const TPropertyDescription&) override { return QStringLiteral("Bitmap"); }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;
};

class TOPictureEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TPicture"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void GetValues(TPropertyDescription& row) override { row.ValueList.clear(); }
    QString GetValueText(const TPropertyDescription&) override {
        return QStringLiteral("Picture");
    }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription& row) override;
};

// The lists of the brick values the brick dialogs also edit: a bubble's style by its name, a date
// brick's format from the catalogue (or typed), a time brick's format from the catalogue. No
// dialog: the drop-down is the editor.
class TOListValueEditor : public TPropertyEditor {
public:
    bool Edit(TPropertyDescription&) override { return false; }
    bool HasDialog() const override { return false; }
};

class TOBubbleStyleEditor : public TOListValueEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TBubbleStyle"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkInteger; }
    void GetValues(TPropertyDescription& row) override;
    QString GetValueText(const TPropertyDescription& row) override;
    QString SetValue(TPropertyDescription& row) override;
    QString StoredText(const TPropertyDescription& row, const QString& text) override;
};

class TODateFormatEditor : public TOListValueEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TDateFormat"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkLString; }
    void GetValues(TPropertyDescription& row) override;
    QString GetValueText(const TPropertyDescription& row) override;
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    QString StoredText(const TPropertyDescription& row, const QString& text) override;
};

class TOTimeFormatEditor : public TOListValueEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TTimeFormat"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkLString; }
    void GetValues(TPropertyDescription& row) override;
    QString GetValueText(const TPropertyDescription& row) override;
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    QString StoredText(const TPropertyDescription& row, const QString& text) override;
};

// What a date format row shows for the empty format.
inline constexpr char kSystemDateFormatText[] = "(system short date)";

// Every editor above, in the surface's order.
void RegisterPropertyEditors(TPropertyEditorRegistry& registry);

// The colour a value text names or numbers (clRed, 255, $0000FF); nothing when it is neither.
std::optional<TColor> ColorFromText(const QString& text);

// ---------------------------------------------------------------------------------------------
// Their dialogs

// "The are cursors": the cursor identifiers, the current one selected, and a panel showing it.
class TOPropertyCursorEditor : public QDialog {
    Q_OBJECT

public:
    TOPropertyCursorEditor(const QStringList& cursors, TCursor current, QWidget* parent = nullptr);
    QListWidget* List;
    QFrame* TestPanel;
    TCursor Chosen() const;
};

// "Constraints".
class TOPropertyConstraintsEditor : public QDialog {
    Q_OBJECT

public:
    explicit TOPropertyConstraintsEditor(QWidget* parent = nullptr);
    QSpinBox* MaxHeight;
    QSpinBox* MaxWidth;
    QSpinBox* MinHeight;
    QSpinBox* MinWidth;
};

// "ScrollBar".
class TOPropertyScrollBarEditor : public QDialog {
    Q_OBJECT

public:
    explicit TOPropertyScrollBarEditor(QWidget* parent = nullptr);
    // The values as texts, from the owner's nested object at path; and back, in write order.
    void Preset(const QObject* owner, const QString& path);
    QList<QPair<QString, QString>> Values() const;

    QSpinBox* ButtonSize;
    QLineEdit* Color;
    QSpinBox* Increment;
    QSpinBox* Margin;
    QSpinBox* Position;
    QSpinBox* Range;
    QSpinBox* Size;
    QComboBox* Style;
    QSpinBox* ThumbSize;
    QCheckBox* ParentColor;
    QCheckBox* Smooth;
    QCheckBox* Tracking;
    QCheckBox* Visible;
};

// "Bitmap": a copy of the picture with Load, Save and Clear.
class TOPropertyBitmapEditor : public QDialog {
    Q_OBJECT

public:
    explicit TOPropertyBitmapEditor(const LoadedGraphic& graphic, QWidget* parent = nullptr);
    const LoadedGraphic& Graphic() const { return m_graphic; }
    void Load();
    void Save();
    void Clear();
    QLabel* Image;

private:
    void show();
    LoadedGraphic m_graphic;
};

// "Menu": the items under a menu item, refreshed on request.
class TOPropertyMenuEditor : public QDialog {
    Q_OBJECT

public:
    explicit TOPropertyMenuEditor(QWidget* parent = nullptr);
    void Prepare(TPropertyEditorRegistry* registry, TPropertyEditor* editor, QObject* item);
    void Refresh();
    QTreeWidget* Tree;

private:
    TPropertyEditorRegistry* m_registry = nullptr;
    TPropertyEditor* m_editor = nullptr;
    QPointer<QObject> m_item;
};
