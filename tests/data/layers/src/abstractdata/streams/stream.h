#include "abstractdata/base.h"
