#include "mask_dialog.h"

MIVRA_PLUGIN("マスク Ver1.00", mask::MaskDialog)
