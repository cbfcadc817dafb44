#pragma once

#include <QIcon>
#include <QImage>

// The program's pictures are embedded under ":/res", named by resource id.

// Bitmap resource id (":/res/bitmap<id>.png"); a null image for 0 or an unknown id. Where the
// application's screens have a higher density, the picture drawn at twice the size
// (":/res/bitmap<id>@2x.png") with a device pixel ratio of 2: use its deviceIndependentSize().
QImage LoadBitmapResource(int id);

// Icon resource id with every size drawn for it (":/res/icon<id>.png" and
// ":/res/icon<id>-<size>.png"); a null icon for an unknown id.
QIcon LoadIconResource(int id);
