#pragma once

#include <QFrame>

namespace quillon {

// The popup slider of the numeric edit: a short horizontal track that opens under the mouse
// with its thumb under the cursor, follows the mouse while the button is held and closes on
// release. It reports every position the mouse picks and when it opens and closes; it deletes
// itself once closed.
class CMyTrackPopup final : public QFrame {
    Q_OBJECT

public:
    static constexpr int kWidth = 200;
    static constexpr int kThumbWidth = 6;

    explicit CMyTrackPopup(QWidget* owner);

    // Opens at (x, y) in screen coordinates, shifted left so that the thumb of the given
    // position lies under x.
    void Popup(int x, int y, int minimum, int maximum, int position);
    int GetPos() const { return m_pos; }

signals:
    void stateChanged(bool open);
    void positionPicked(int position);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void UpdateScale();
    // The thumb's left edge in client pixels.
    int ThumbOffset() const;

    int m_min = 0;
    int m_max = 0;
    int m_pos = 0;
    double m_scale = 0.0; // client pixels per unit of the range
    bool m_open = false;
};

} // namespace quillon
