#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

// Keeps a window inside the screen it opens on. A long path, a large font or
// a scale factor can ask for more room than the screen has; the window then
// takes what there is, its widgets give up width biggest first, and buttons
// of a fixed size stay where they can be reached.
class ScreenFit
{
public:
    // KeepWithin also stops the window from growing beyond the screen later,
    // for a window that resizes itself to its changing contents.
    enum Growth { MayGrow, KeepWithin };

    // Call when the window is about to be shown, after its size was adjusted
    // to its contents.
    static void fitOnScreen(QWidget &window, Growth growth = MayGrow);
    // Fits the window and its frame into the given part of a screen.
    static void fit(QWidget &window, const QRect &available, Growth growth = MayGrow);
    // Moves a shown window that has grown over an edge of its screen back
    // inside.
    static void moveOnScreen(QWidget &window);

private:
    static QMargins frameOf(const QWidget &window);
};
