// The module color.tsk: the colour-change dialog behind the host's Effect menu.
#include "color_dialog.h"

MIVRA_PLUGIN("カラーチェンジ Ver1.00", ColorDialog)
