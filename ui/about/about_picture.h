// Bitmap 415, the picture of the About window and the start-up splash: a banner, a key
// emblem on the left and a quiet light field on the right for the texts drawn over it.
#pragma once

#include <QPixmap>
#include <QSize>

namespace kv {

inline constexpr int IDB_ABOUT = 415;
// The picture's size in device-independent pixels.
inline constexpr QSize kAboutPictureSize(440, 280);

// The picture drawn for a screen with the given device pixel ratio, so it stays sharp on
// high-density screens.
QPixmap AboutPicture(qreal device_pixel_ratio);

}  // namespace kv
