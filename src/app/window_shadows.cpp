// The shadows' model: tables, frame, bitmaps and hit codes. The windows are in shadow_windows.cpp.
#include "app/window_shadows.h"

#include "windows.h"

#include <QPainter>

#include <algorithm>

#include <climits>

const QRect g_shadowSpriteRect(261, 57, 24, 24);

bool PsShadowModel::buildTables(const QImage& sprite)
{
    S = g_shadowSpriteRect.width();
    s = 1;
    S2 = S + 2 * s;
    A.clear();
    T.clear();
    M = 0;
    if (sprite.isNull() || !sprite.rect().contains(g_shadowSpriteRect))
        return false;

    // The square's blue channel, inverted, becomes its alpha; the colour bytes become 0.
    QImage square(S, S, QImage::Format_ARGB32_Premultiplied);
    square.fill(0);
    {
        QPainter painter(&square);
        painter.drawImage(QPoint(0, 0), sprite, g_shadowSpriteRect);
    }
    for (int row = 0; row < S; ++row) {
        auto* line = reinterpret_cast<uint32_t*>(square.scanLine(row));
        for (int col = 0; col < S; ++col)
            line[col] = (line[col] ^ 0x00FFFFFFu) << 24;
    }

    T.assign(size_t(S2) * size_t(S2), 1);
    for (int j = 2 * s; j < S2; ++j) {
        const auto* line = reinterpret_cast<const uint32_t*>(square.constScanLine(j - 2 * s));
        for (int i = 2 * s; i < S2; ++i)
            T[size_t(j) * size_t(S2) + size_t(i)] = static_cast<unsigned char>(qMax(1u, line[i - 2 * s] >> 24));
    }

    // The profile: the last row from its start for as long as it does not fall.
    int previous = 0;
    for (int i = 0; i < S2; ++i) {
        const int value = table(i, S2 - 1);
        if (value < previous)
            break;
        A.push_back(static_cast<unsigned char>(value));
        previous = value;
    }
    M = int(A.size()) - 2 * s;
    if (M < 1) {
        M = 0;
        return false;
    }
    return true;
}

bool PsShadowModel::createBitmaps(int newMaxWidth, int newMaxHeight)
{
    maxWidth = newMaxWidth;
    maxHeight = newMaxHeight;
    for (int i = 0; i < 4; ++i) {
        const bool horizontal = i == Top || i == Bottom;
        bitmaps[i] = QImage(horizontal ? maxWidth : M, horizontal ? M : maxHeight, QImage::Format_ARGB32_Premultiplied);
        if (bitmaps[i].isNull()) {
            bitmaps = {};
            maxWidth = maxHeight = 0;
            return false;
        }
        bitmaps[i].fill(0);
    }
    x = y = w = h = 0;
    paintAll(3);
    return true;
}

int PsShadowModel::alpha(int index, int length, int c, int r) const
{
    const int L = S - M + s;
    switch (index) {
    case Top:
        if (r < 2 * s)
            return A[0];
        if (c < L)
            return table(c + M + s, r);
        if (c >= length - L)
            return table(length - 1 - c + M + s, r);
        return A[size_t(r)];
    case Bottom: {
        const int j = M + 2 * s - 1 - r;
        if (c < L)
            return table(c + M + s, j);
        if (c >= length - L)
            return table(length - 1 - c + M + s, j);
        return A[size_t(j)];
    }
    default: {
        const bool right = index == Right;
        if (r < 2 * s && (right ? c >= M - s : c < s))
            return A[0];
        const int k = right ? M + s - 1 - c : c + s;
        if (r < S + 2 * s)
            return table(k, r);
        if (r >= length - S)
            return table(k, length - 1 - r + 2 * s);
        return A[size_t(k)];
    }
    }
}

void PsShadowModel::paintPixels(int index, int length, int c0, int c1, int r0, int r1)
{
    QImage& image = bitmaps[index];
    c0 = qMax(c0, 0);
    r0 = qMax(r0, 0);
    c1 = qMin(c1, image.width());
    r1 = qMin(r1, image.height());
    for (int r = r0; r < r1; ++r) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(r));
        for (int c = c0; c < c1; ++c)
            line[c] = qPremultiply(qRgba(red, green, blue, alpha(index, length, c, r)));
    }
}

void PsShadowModel::fill(int index, const QRect& area, int alphaValue)
{
    QImage& image = bitmaps[index];
    const QRect clipped = area & image.rect();
    const QRgb pixel = qPremultiply(qRgba(red, green, blue, alphaValue));
    for (int r = clipped.top(); r <= clipped.bottom(); ++r) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(r));
        std::fill(line + clipped.left(), line + clipped.right() + 1, pixel);
    }
}

void PsShadowModel::paintMiddle(int index, int length, int from, int to)
{
    // Along the middle every row (top, bottom) or column (right, left) carries one value.
    for (int i = 0; i < M; ++i) {
        if (index == Top || index == Bottom)
            fill(index, QRect(from, i, to - from, 1), alpha(index, length, from, i));
        else
            fill(index, QRect(i, from, 1, to - from), alpha(index, length, i, from));
    }
}

void PsShadowModel::paintAll(int which)
{
    const int L = S - M + s;
    if (which & 1) {
        for (int index : {Top, Bottom})
            paintPixels(index, stripLength(index, w, h), 0, L, 0, M);
    }
    if (which & 2) {
        for (int index : {Right, Left})
            paintPixels(index, stripLength(index, w, h), 0, M, 0, S + 2 * s);
    }
}

void PsShadowModel::paintRightCorners(int frameWidth)
{
    const int L = S - M + s;
    const int W = frameWidth - 2 * M;
    for (int index : {Top, Bottom})
        paintPixels(index, W, W - L, W, 0, M);
}

void PsShadowModel::paintBottomCorners(int frameHeight)
{
    for (int index : {Right, Left})
        paintPixels(index, frameHeight, 0, M, frameHeight - S, frameHeight);
}

namespace {

// The least length of at least need that doubling from length reaches.
int grownLength(int length, int need)
{
    int grown = qMax(length, 1);
    while (grown < need && grown <= INT_MAX / 2)
        grown *= 2;
    return qMax(grown, need);
}

} // namespace

void PsShadowModel::repaintHorizontal(int nw)
{
    const int L = S - M + s;
    int first = w > 2 * (S + s) ? w - M - S - s : L;
    const int last = nw - M - S - s;
    if (nw > maxWidth) {
        // However long the frame, the bitmaps grow to hold it.
        maxWidth = grownLength(maxWidth, nw);
        for (int index : {Top, Bottom}) {
            bitmaps[index] = QImage(maxWidth, M, QImage::Format_ARGB32_Premultiplied);
            bitmaps[index].fill(0);
        }
        paintAll(1);
        first = L;
    }
    const int W = nw - 2 * M;
    if (last > first) {
        paintMiddle(Top, W, first, last);
        paintMiddle(Bottom, W, first, last);
    }
    paintRightCorners(nw);
}

void PsShadowModel::repaintVertical(int nh)
{
    int first = h > 2 * S + 2 * s ? h - S : S + 2 * s;
    const int last = nh - S;
    if (nh > maxHeight) {
        maxHeight = grownLength(maxHeight, nh);
        for (int index : {Right, Left}) {
            bitmaps[index] = QImage(M, maxHeight, QImage::Format_ARGB32_Premultiplied);
            bitmaps[index].fill(0);
        }
        paintAll(2);
        first = S + 2 * s;
    }
    if (last > first) {
        paintMiddle(Right, nh, first, last);
        paintMiddle(Left, nh, first, last);
    }
    paintBottomCorners(nh);
}

std::array<PsShadowModel::StripAction, 4> PsShadowModel::placeFrame(int nx, int ny, int nw, int nh)
{
    nh = qMax(nh, 2 * S + 2 * s);
    nw = qMax(nw, 2 * S + 2 * s);
    std::array<StripAction, 4> actions{Keep, Keep, Keep, Keep};
    const bool moved = nx != x || ny != y;
    if (nw != w) {
        repaintHorizontal(nw);
        actions[Top] = actions[Bottom] = Place;
    } else if (moved) {
        actions[Top] = actions[Bottom] = Move;
    } else if (nh != h) {
        actions[Bottom] = Move;
    }
    if (nh != h) {
        repaintVertical(nh);
        actions[Right] = actions[Left] = Place;
    } else if (moved) {
        actions[Right] = actions[Left] = Move;
    } else if (nw != w) {
        actions[Right] = Move;
    }
    x = nx;
    y = ny;
    w = nw;
    h = nh;
    return actions;
}

QRect PsShadowModel::stripRect(int index) const
{
    switch (index) {
    case Top:
        return QRect(x + M, y, w - 2 * M, M);
    case Right:
        return QRect(x + w - M, y, M, h);
    case Bottom:
        return QRect(x + M, y + h - M, w - 2 * M, M);
    default:
        return QRect(x, y, M, h);
    }
}

int PsShadowModel::hitCode(int index, int cy, int edgeHeight) const
{
    switch (index) {
    case Top:
        return HTTOP;
    case Bottom:
        return HTBOTTOM;
    case Right:
        return cy < y + edgeHeight ? HTTOPRIGHT : (cy >= y + h - edgeHeight ? HTBOTTOMRIGHT : HTRIGHT);
    default:
        return cy < y + edgeHeight ? HTTOPLEFT : (cy >= y + h - edgeHeight ? HTBOTTOMLEFT : HTLEFT);
    }
}

void PsShadowModel::setColor(QColor color)
{
    red = static_cast<unsigned char>(color.red());
    green = static_cast<unsigned char>(color.green());
    blue = static_cast<unsigned char>(color.blue());
}

void PsShadowModel::restartFrame()
{
    for (int index : {Top, Bottom}) {
        if (w)
            fill(index, QRect(0, 0, w, M), A[0]);
    }
    for (int index : {Right, Left}) {
        if (h)
            fill(index, QRect(0, 0, M, h), A[0]);
    }
    paintAll(3);
    x = y = w = h = 0;
}

void PsShadowModel::releaseBitmaps()
{
    bitmaps = {};
    maxWidth = maxHeight = 0;
}
