#pragma once

#include <QString>
#include <QStringList>
#include <array>

struct TPhotoFields;

// Token ids of the rename template (the Tag of each token control).
enum TRenameToken {
    rtNone = 0,
    rtCustomText = 1,
    rtDate = 2,
    rtTime = 3,
    rtNumber = 4,
    rtOldName = 5,
};

constexpr int TokenSlots = 5;
using TTokenRow = std::array<int, TokenSlots>;

enum class TTokenRowKind { NewName, Available };

// The nine characters a file name may not hold, in the order the memo checks them.
extern const QString ForbiddenFileNameChars;
// The memo's initial three lines.
extern const QString CustomTextPlaceholder;

// "You can't use "<c>" in file names."
QString ForbiddenCharacterMessage(QChar c);

// One step of the memo's check: the first of the nine characters (in their order) that the text
// holds is reported through ShowInformation and its first occurrence removed. False when the
// text holds none of them.
bool RemoveOneForbiddenCharacter(QString& text);
// Repeats the step until the text is clean: one message per removed character.
void RemoveForbiddenCharacters(QString& text);

// The two rows of the "Batch rename" group and the name they build. Every token id 1..5 stands
// in exactly one of the rows.
class TRenameTemplate {
public:
    TTokenRow NameTemplate{};                   // the "New name:" row, in joining order
    TTokenRow AvailableTokens{1, 2, 3, 4, 5};   // the "Available templates:" row
    bool Rename = false;                        // "Rename files"
    QString CustomText = CustomTextPlaceholder; // the memo's text

    // Applies a stored template ("defaultRenameTmp"): only the first five characters count.
    // Characters that are not a token id are ignored, and so is a repeated id, so that every id
    // stays in exactly one row.
    void LoadStored(const QString& stored);
    // The digits of the non-empty slots of NameTemplate in order.
    QString StoredForm() const;

    // Moves the non-empty slots of both rows to the front, keeping their order.
    void CloseGaps();

    // The row holding a token and its slot there.
    TTokenRowKind RowOf(int id) const;
    int SlotOf(int id) const;

    // Mouse-up of a dragged token: takes it out of both rows and puts it into the row after
    // every token standing in a slot before dropSlot and before the others; then closes gaps.
    void Drop(int id, TTokenRowKind row, int dropSlot);

    // The new bare file name of the file at path, the number-th entry of the job (1-based).
    // Date and time come from the file's EXIF record and the settings' file-name formats.
    // Where a date or time token cannot be made, the old file name.
    QString MakeNewName(const QString& path, int number) const;
    // The same name, or why the template cannot make one for that file (its date cannot be
    // read; no file-name time format is chosen) -- the case in which MakeNewName gives the old
    // name, which a batch must not take for a new one.
    struct Result {
        QString name;
        QString problem; // empty when name is the template's
    };
    Result BuildNewName(const QString& path, int number) const;

    // The memo's text as it enters a name: its fields ({Model}, {City}, ...) replaced by the
    // photo's values when fields are given, then line breaks and the nine characters removed.
    QString CustomTextPart(const TPhotoFields* fields = nullptr) const;

private:
    TTokenRow& row(TTokenRowKind kind) {
        return kind == TTokenRowKind::NewName ? NameTemplate : AvailableTokens;
    }
};

// Geometry of the token panel (pixels). base = label left + label width of the row.
// Left of slot k of a row.
int TokenSlotLeft(int base, int slot, int tokenWidth);
// Left of InsertMarker while a token whose left is tokenLeft is dragged over the row.
int InsertMarkerLeft(int tokenLeft, int base, int tokenWidth);
// The drop slot for a token released with its left at tokenLeft (0..4).
int TokenDropSlot(int tokenLeft, int base, int tokenWidth);
