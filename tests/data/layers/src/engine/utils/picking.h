#include "abstractdata/base.h"
#include "fileformats/morv/container.h"
#include "local.h"
#include "third_party.h"
