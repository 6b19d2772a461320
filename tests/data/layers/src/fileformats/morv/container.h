#include "abstractdata/base.h"
#include "engine/utils/picking.h"
