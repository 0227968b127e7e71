#pragma once
// The program's icons by resource id, from the embedded PNG images.

#include <QIcon>

namespace morvane {

// A null icon for an id the program does not have.
QIcon ProgramIcon(int iconId);

}  // namespace morvane
