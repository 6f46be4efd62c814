// The desktop program's own pictures, drawn in code so that no image file
// has to be found at run time: the tool-button icons, the logos of the
// splash and the information window, the warning sign of the error dialog,
// the window icon, and the preview strip of a colour table.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "ipl/images.h"

namespace lumifold::artwork {

enum class ToolIcon { Add, Clear, Run, Web, Save };

// An icon for a 26 x 26 tool button.
QIcon toolIcon(ToolIcon which);

// The product logo of the splash, 135 x 56, drawn for the splash's blue.
QPixmap productLogo();

// The maker's logo of the information window, 135 x 60.
QPixmap makerLogo();

// A yellow warning triangle with an exclamation mark, 36 x 36.
QPixmap warningSign();

// The program's window icon.
QIcon applicationIcon();

// A strip 256 wide and height high whose column g has the colour of grey
// value g in table (row 0 of a 256 x 3 colour table).
QPixmap previewStrip(const velIPL::RGBImage& table, int height = 10);

}  // namespace lumifold::artwork
