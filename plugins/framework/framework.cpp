#include "framework.h"
