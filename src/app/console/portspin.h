#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace app
{

// An up-down control that steps the number in a buddy edit, as the port spin
// next to the console's port edit does. It keeps no number of its own that
// the operator sees: every step reads the buddy's text, moves one step and
// writes the result back as a plain integer (no thousands separator).
//
// The range is given by its two ends, named by the arrow that moves toward
// each: the up arrow moves toward `upEnd`, the down arrow toward `downEnd`, so
// an up end below the down end runs backwards (up lowers the number). Steps
// stop at the ends. A buddy text that is not an integer counts as the last
// position the spin read or wrote (at first `downEnd`); a number outside the
// range snaps into it on the next step.
// Writing the buddy's text is a programmatic change: it does not count as an
// edit by the operator and does not move the keyboard focus.
//
// The spin takes no focus (no tab stop); its arrows take clicks and repeat
// while held. Pressing an arrow gives the keyboard focus to the buddy, so a
// number stepped with the mouse is in an edit that has the focus and later
// loses it, as a typed one is. With a buddy set, the Up and Down arrow keys in
// the buddy step the spin too. UI thread only.
class PortSpin : public QWidget
{
    Q_OBJECT
public:
    explicit PortSpin(QWidget* parent = nullptr);

    // The edit whose number the spin steps; nullptr for none. Not owned.
    void setBuddy(QLineEdit* buddy);
    QLineEdit* buddy() const { return buddy_; }

    void setEnds(int downEnd, int upEnd);
    int downEnd() const { return downEnd_; }
    int upEnd() const { return upEnd_; }
    // The position of the last step (or the last buddy number read).
    int position() const { return position_; }

    // One step of the up or down arrow.
    void stepUp();
    void stepDown();

    QToolButton* upArrow() const { return upArrow_; }
    QToolButton* downArrow() const { return downArrow_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void focusBuddy();
    void step(int towardUpEnd);

    QLineEdit* buddy_ = nullptr;
    QToolButton* upArrow_;
    QToolButton* downArrow_;
    int downEnd_ = 0;
    int upEnd_ = 100;
    int position_ = 0;
};

} // namespace app
