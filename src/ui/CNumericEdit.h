#pragma once

#include <QFrame>
#include <QPointer>

namespace quillon {

class CMyButton;
class CMyEdit;
class CMyTrackPopup;
class CSpinButton;

// A field that holds one whole number in a range: a text field for typing, and optionally a
// spin (up/down arrows) and a "v" button that opens a popup slider under the mouse. The number
// moves in steps; text outside the range stays visible on red while the number is held at the
// nearest end of the range.
//
// The parent learns of every change through changed(identifier, position), a statement of the
// current position that may come more than once for one change:
// - SetPos notifies once when the position changes, and not at all when it stays the same
//   (also when a request beyond the range is held at the end the edit already stands on) or
//   while the popup slider is open;
// - SetPosAndAnnounce (used by the text field and the slider) runs SetPos and then notifies
//   once more in any case;
// - SetRange, SetStep and SetReadOnly never notify.
//
// Everything runs on the user-interface thread.
class CNumericEdit final : public QFrame {
    Q_OBJECT

public:
    // Style bits: which of the two buttons the edit shows at its right edge.
    static constexpr unsigned NES_SPIN = 0x0001;
    static constexpr unsigned NES_POPUP = 0x0002;

    CNumericEdit(int identifier, unsigned style, QWidget* parent);
    ~CNumericEdit() override;

    int GetIdentifier() const { return m_id; }

    void SetPos(int value);
    int GetPos() const { return m_pos; }

    void SetRange(int minimum, int maximum);
    int GetMinimum() const { return m_min; }
    int GetMaximum() const { return m_max; }

    // Takes the step only when 1 <= step < maximum - minimum.
    void SetStep(int step);
    int GetStep() const { return m_step; }

    // A read-only edit still shows its value and follows SetPos, but the operator cannot change
    // it: the text is read-only, the buttons are disabled and the arrow keys do nothing.
    void SetReadOnly(bool readOnly);
    bool GetReadOnly() const;

    void SetStyle(unsigned style);
    unsigned GetStyle() const { return m_style; }

    bool IsPopupOpen() const { return m_popupOpen; }

    QSize sizeHint() const override;

public slots:
    // SetPos, then a notification of the resulting position whether or not it changed.
    void SetPosAndAnnounce(int value);
    // Opens the popup slider under the mouse cursor, below the "v" button.
    void ShowPopup();
    // The slider's report that it opened or closed.
    void SetPopupOpen(bool open);

signals:
    void changed(int identifier, int position);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnTextChanged();
    void UpdateOutOfRange();
    void PutText(qint64 value);
    qint64 Snap(int value) const;
    int ClampToRange(qint64 value) const;
    void LayoutChildren();

    const int m_id;
    unsigned m_style;
    int m_min = 0;
    int m_max = 100;
    int m_pos = 0;
    int m_step = 1;
    bool m_popupOpen = false;
    // Set while the edit writes its own text, so that the text field's change is not taken as
    // input.
    bool m_settingPos = false;

    CMyButton* m_popupButton = nullptr;
    CMyEdit* m_text = nullptr;
    CSpinButton* m_spin = nullptr;
    QPointer<CMyTrackPopup> m_popup;
};

} // namespace quillon
