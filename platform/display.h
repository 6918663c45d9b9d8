#pragma once

namespace Platform {

// Whether windows can be shown: on Linux a display (X11 or Wayland) must be named in the
// environment, or a Qt platform chosen explicitly (platformNamed, or QT_QPA_PLATFORM).
bool displayReachable(bool platformNamed);

}
