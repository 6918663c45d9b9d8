#pragma once

#include <QString>

namespace Platform {

// Where the About dialog puts the copies of its licence pages that the desktop's viewer opens:
// a directory only this user can enter (created on first use), or the user's temporary
// directory on Windows.
QString licenceCopyDirectory();

}
