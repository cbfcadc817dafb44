#pragma once

#include <QRgb>

class QImage;
class QPainter;

// The transparent colour of the program's pictures.
inline constexpr QRgb kKeyColour = 0xFFFF00FF;

// Draws image with its top-left corner at (x, y): pixels of exactly the key colour leave the
// target as it was, every other pixel replaces the target's pixel exactly (its alpha is
// ignored, as in a plain copy). The painter's state is the same after the call as before.
void DrawKeyedBitmap(QPainter& painter, int x, int y, const QImage& image);
