// The drop shadow around the frameless main window: four strips (above, right, below, left) with
// per-pixel alpha, which follow the main window, stay below it and are its resize border.
//
// This is the model (tables, frame, strip rectangles, bitmaps, alpha and hit codes), which needs
// no windows; shadow_windows.h shows each strip's bitmap in a window of its own.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include <array>
#include <vector>

class PsShadowModel {
public:
    // Strip (and window) indices.
    enum Strip { Top = 0, Right = 1, Bottom = 2, Left = 3 };

    // The tables from the square g_shadowSpriteRect of sprite. False when the square gives no edge
    // profile.
    bool buildTables(const QImage& sprite);
    // New bitmaps of those lengths (top and bottom maxWidth x M, right and left M x maxHeight),
    // their start ends painted; the frame starts from nothing. False when one cannot be made.
    bool createBitmaps(int maxWidth, int maxHeight);

    // What a new frame asks of one strip window.
    enum StripAction {
        Keep,  // nothing changed for it
        Move,  // a new position only
        Place, // repainted: a new position and size
    };
    // The frame becomes (nx, ny, nw, nh), at least 2S + 2s each way: repaints the parts of the
    // bitmaps that changed (growing them when too short) and says what each window needs.
    std::array<StripAction, 4> placeFrame(int nx, int ny, int nw, int nh);

    // Paints the start ends: bit 1 the left ends of the top and bottom bitmaps, bit 2 the upper ends
    // of the right and left bitmaps.
    void paintAll(int which);
    // Paints the right-hand ends of the top and bottom bitmaps for the frame width w.
    void paintRightCorners(int w);
    // Paints the lower ends of the right and left bitmaps for the frame height h.
    void paintBottomCorners(int h);

    // The frame around a main-window rectangle (grown by M on every side).
    QRect frameAround(const QRect& window) const { return window.adjusted(-M, -M, M, M); }
    // The frame last placed.
    QRect frame() const { return QRect(x, y, w, h); }
    // A strip's place on the screen for the frame last placed.
    QRect stripRect(int index) const;
    // A strip pixel's alpha for the frame last placed: column c, row r of the strip's bitmap.
    int alphaAt(int index, int c, int r) const { return alpha(index, stripLength(index, w, h), c, r); }
    // The hit-test code of a strip at screen row cy, with corners edgeHeight high.
    int hitCode(int index, int cy, int edgeHeight) const;

    int edge() const { return M; }
    int spriteSide() const { return S; }
    int shift() const { return s; }
    const std::vector<unsigned char>& profile() const { return A; }
    int table(int i, int j) const { return T[size_t(j) * size_t(S2) + size_t(i)]; }
    const QImage& bitmap(int index) const { return bitmaps[index]; }
    int bitmapWidth() const { return maxWidth; }
    int bitmapHeight() const { return maxHeight; }

    // The colour of the pixels painted from now on (its alpha is ignored).
    void setColor(QColor color);

protected:
    // Repaints in the colour what the last frame painted, from the start ends, and forgets the
    // frame: the next placeFrame places and repaints every strip.
    void restartFrame();
    // Drops the bitmaps.
    void releaseBitmaps();

private:
    // The length along a strip: the main window's width W for top and bottom, h for right and left.
    int stripLength(int index, int frameWidth, int frameHeight) const
    {
        return (index == Top || index == Bottom) ? frameWidth - 2 * M : frameHeight;
    }
    int alpha(int index, int length, int c, int r) const;
    // Pixels of columns [c0, c1) and rows [r0, r1) of a strip as the rules give them for length.
    void paintPixels(int index, int length, int c0, int c1, int r0, int r1);
    // The middle of a strip from from to to (columns of top and bottom, rows of right and left),
    // one line per row or column.
    void paintMiddle(int index, int length, int from, int to);
    void fill(int index, const QRect& area, int alphaValue);
    void repaintHorizontal(int nw);
    void repaintVertical(int nh);

    int x = 0, y = 0, w = 0, h = 0;
    int S2 = 0;
    int S = 0;
    int M = 0;
    int s = 0;
    std::vector<unsigned char> A;
    std::vector<unsigned char> T;
    // The bitmaps stand in for the memory device contexts that hold them.
    std::array<QImage, 4> bitmaps;
    int maxWidth = 0, maxHeight = 0;
    unsigned char red = 0, green = 0, blue = 0;
};

// The square of ":/image/sprite" that gives the shadow's shape.
extern const QRect g_shadowSpriteRect;
