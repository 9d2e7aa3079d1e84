// The module wexel.tsk: the cross-fade dialog behind the Effect menu's item.
#include "crossfade_dialog.h"

MIVRA_PLUGIN("クロスフェード Ver1.01", crossfade::CrossfadeDialog)
