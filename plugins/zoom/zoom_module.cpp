#include "zoom_dialog.h"

MIVRA_PLUGIN("ズーム Ver1.00", zoom::ZoomDialog)
