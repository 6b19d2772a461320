#include "abstractdata/streams/stream.h"
#include "engine/utils/picking.h"
