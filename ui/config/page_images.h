// The pictures of the configuration window, drawn in code so that they stay sharp at any
// scale: the page list's images and the status rows' state icons.
#pragma once

#include <QIcon>

namespace kv {

enum class StatusIcon { None, Ok, Locked, Error };

QIcon StatusPageImage();
QIcon EventLogPageImage();
QIcon KeysPageImage();

// Nothing for StatusIcon::None.
QIcon StatusStateIcon(StatusIcon state);

}  // namespace kv
