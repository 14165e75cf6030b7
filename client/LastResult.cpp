#include "LastResult.h"

std::int32_t LastResult = 0;
