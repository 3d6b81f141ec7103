// The agent's two icons, a padlock closed (icon 141, locked) or open (icon 128, unlocked).
// They are drawn as vectors at whatever size and pixel ratio is asked for, so the tray,
// the prompts and the menus get sharp images on ordinary and high-density screens alike.
#pragma once

#include <QIcon>

class QPainter;
class QRectF;

namespace kv {

QIcon AgentIcon(bool locked);

// Paints the padlock into `box` (its largest centred square).
void PaintPadlock(QPainter& painter, const QRectF& box, bool locked);

}  // namespace kv
